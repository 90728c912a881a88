"""Terminal programs against an RFC 2217 service, each on a
pseudo-terminal of its own as a person would run it: a line typed goes to
the board, the board's answer shows on the program's terminal.

    terminal_client.py kermit|microcom|telnet TCP_PORT BOARD_FD

kermit: C-Kermit's script, "set host" with the Telnet protocol and
carrier-watch off, 115200 baud through COM-PORT. microcom: its telnet
(RFC 2217) mode at 57600 baud. telnet: a plain client that knows nothing
of COM-PORT and refuses it: an 8-bit session with the board, 0xFF both
ways, and the service's own line settings."""

import os
import pty
import select
import signal
import sys
import tempfile
import termios
import time
import tty

from board import Board, Failed, check, run


class Terminal:
    """A program on the side of a pseudo-terminal; this end types and reads."""

    def __init__(self, argv):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            tty.setraw(0)  # as the program sets it; its first keys are not translated
            os.execvp(argv[0], argv)
        os.set_blocking(self.fd, False)
        self.shown = b""

    def type(self, text):
        os.write(self.fd, text)

    def wait_for(self, text, timeout=20.0):
        end = time.monotonic() + timeout
        while text not in self.shown:
            left = end - time.monotonic()
            if left <= 0:
                raise Failed("the terminal shows %r, no %r" % (self.shown[-300:], text))
            if select.select([self.fd], [], [], min(left, 0.2))[0]:
                try:
                    chunk = os.read(self.fd, 4096)
                except BlockingIOError:
                    continue
                except OSError:
                    chunk = b""
                if not chunk:
                    raise Failed("the program ended; it showed %r" % self.shown[-300:])
                self.shown += chunk

    def end(self, timeout=10.0):
        """Its exit status, ended with SIGTERM if it has not ended by then."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                return status
            try:
                self.shown += os.read(self.fd, 4096)
            except OSError:
                pass
            time.sleep(0.05)
        for sig in (signal.SIGTERM, signal.SIGKILL):
            os.kill(self.pid, sig)
            stop = time.monotonic() + 5.0
            while time.monotonic() < stop:
                pid, status = os.waitpid(self.pid, os.WNOHANG)
                if pid:
                    return status
                time.sleep(0.05)
        raise Failed("the program did not end")


def exchange(terminal, board, expected, answer, shown, speed):
    """The typed line reaches the board at the line speed the client set,
    and the board's answer reaches the client's terminal."""
    check(board.read_until(expected) == expected, "the line reached the board")
    check(board.speed() == speed, "the line's speed %d, not %d" % (board.speed(), speed))
    board.write(answer)
    terminal.wait_for(shown)


def kermit(port, board):
    script = tempfile.NamedTemporaryFile("w", suffix=".ksc", delete=False)
    script.write("set exit warning off\n"
                 "set carrier-watch off\n"
                 "set host 127.0.0.1 %d /telnet\n"
                 "if fail exit 3\n"
                 "set speed 115200\n"
                 "output hello kermit\\13\n"
                 "input 20 answer kermit\n"
                 "if fail exit 1\n"
                 "exit 0\n" % port)
    script.close()
    try:
        terminal = Terminal(["kermit", "-Y", "-B", "-C", "take " + script.name])
        check(board.read_until(b"hello kermit\r") == b"hello kermit\r", "the line reached the board")
        check(board.speed() == termios.B115200, "kermit's speed %d" % board.speed())
        board.write(b"answer kermit\r\n")
        status = terminal.end(30.0)
        check(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0,
              "kermit's INPUT saw no answer (status %d): %r" % (status, terminal.shown[-300:]))
    finally:
        os.unlink(script.name)


def microcom(port, board):
    terminal = Terminal(["microcom", "-t", "127.0.0.1:%d" % port, "-s", "57600"])
    terminal.wait_for(b"connected to")
    terminal.type(b"hello microcom\r")
    exchange(terminal, board, b"hello microcom\r", b"answer microcom\r\n", b"answer microcom",
             termios.B57600)
    terminal.end(0.5)


def telnet(port, board):
    terminal = Terminal(["telnet", "-8", "-E", "127.0.0.1", str(port)])
    terminal.wait_for(b"Connected to")
    terminal.type(b"hello \xff telnet\r")
    exchange(terminal, board, b"hello \xff telnet\r", b"answer \xff telnet\r\n", b"answer \xff telnet",
             termios.B19200)
    terminal.end(0.5)


def main():
    client, port, board = sys.argv[1], int(sys.argv[2]), Board(int(sys.argv[3]))
    {"kermit": kermit, "microcom": microcom, "telnet": telnet}[client](port, board)


run(main)
