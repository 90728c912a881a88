"""The board's side of the real-client tests: the master side of the
pseudo-terminal the worker opens as its serial port, handed over by the
test as an open descriptor, and the line log the serial layer writes
(VANTREL_DTR_LOG). Every wait has a deadline."""

import os
import select
import sys
import termios
import time


class Failed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failed(what)


class Board:
    def __init__(self, fd):
        self.fd = fd
        os.set_blocking(fd, False)

    def read(self, n, timeout=20.0):
        """Exactly n bytes, or a failure at the deadline."""
        got = b""
        end = time.monotonic() + timeout
        while len(got) < n:
            left = end - time.monotonic()
            if left <= 0:
                raise Failed("the board got %r of %d bytes" % (got, n))
            if select.select([self.fd], [], [], min(left, 0.2))[0]:
                try:
                    got += os.read(self.fd, n - len(got))
                except BlockingIOError:
                    pass
        return got

    def read_until(self, ending, timeout=20.0):
        """What arrives up to and with `ending`."""
        got = b""
        end = time.monotonic() + timeout
        while not got.endswith(ending):
            left = end - time.monotonic()
            if left <= 0:
                raise Failed("the board got %r, no %r" % (got, ending))
            if select.select([self.fd], [], [], min(left, 0.2))[0]:
                try:
                    got += os.read(self.fd, 1)
                except BlockingIOError:
                    pass
        return got

    def write(self, data, timeout=20.0):
        end = time.monotonic() + timeout
        while data:
            if time.monotonic() > end:
                raise Failed("the board could not write")
            if select.select([], [self.fd], [], 0.2)[1]:
                try:
                    data = data[os.write(self.fd, data):]
                except BlockingIOError:
                    pass

    def speed(self):
        return termios.tcgetattr(self.fd)[5]

    def cflag(self):
        return termios.tcgetattr(self.fd)[2]


def line_log(path):
    """The serial layer's log: (milliseconds, level, line name) a change."""
    changes = []
    try:
        with open(path) as f:
            for line in f:
                words = line.split()
                changes.append((int(words[0]), int(words[1]), words[2] if len(words) > 2 else "DTR"))
    except FileNotFoundError:
        pass
    return changes


def wait_until(condition, what, timeout=20.0):
    end = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > end:
            raise Failed(what)
        time.sleep(0.02)


def run(body):
    """Runs the test body: exit code 0, or 1 with what failed."""
    try:
        body()
    except Failed as failure:
        print("FAILED:", failure, file=sys.stderr)
        sys.exit(1)
    print("passed")
