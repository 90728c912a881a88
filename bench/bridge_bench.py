#!/usr/bin/env python3
"""Bridge benchmark: the vantrel worker and socat, side by side, as bridges
between a TCP client on 127.0.0.1 and a pseudo-terminal standing in for a
board.

Per bridge and round: 1-byte ping-pong latency, throughput client to board,
board to client and both ways at once (every byte compared), idle CPU of the
bridge with a client connected, and the time from the stop signal to the
bridge's exit. Rounds alternate between the bridges; the table shows the
median of the rounds.
"""

import argparse
import os
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import tty

CLK_TCK = os.sysconf("SC_CLK_TCK")


# --- the board ---------------------------------------------------------------

class Board:
    """The master side of a pseudo-terminal in raw mode; the bridge opens the
    other side by its path."""

    def __init__(self):
        self.master, slave = os.openpty()
        self.slave_path = os.ttyname(slave)
        tty.setraw(self.master)
        os.close(slave)

    def close(self):
        os.close(self.master)

    def drain(self):
        os.set_blocking(self.master, False)
        try:
            while True:
                try:
                    if not os.read(self.master, 65536):
                        break
                except (BlockingIOError, OSError):
                    break
        finally:
            os.set_blocking(self.master, True)

    def run(self, body):
        """Runs body(master, report) in a child process; returns a function
        that waits for it and gives what it reported."""
        r, w = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(r)
            code = 0
            try:
                result = body(self.master)
                os.write(w, repr(result).encode())
            except BaseException as e:  # noqa: BLE001 - the child reports and exits
                os.write(w, repr(("error", str(e))).encode())
                code = 1
            os._exit(code)
        os.close(w)

        def finish(timeout=120):
            deadline = time.monotonic() + timeout
            data = b""
            while time.monotonic() < deadline:
                ready, _, _ = select.select([r], [], [], 0.5)
                if ready:
                    chunk = os.read(r, 65536)
                    if not chunk:
                        break
                    data += chunk
            os.close(r)
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            os.waitpid(pid, 0)
            return eval(data.decode()) if data else None  # our own repr()
        return finish


# --- the bridges -------------------------------------------------------------

def listening(port):
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    parts = line.split()
                    if int(parts[1].rsplit(":", 1)[1], 16) == port and parts[3] == "0A":
                        return True
        except OSError:
            pass
    return False


def free_port():
    with socket.socket() as s:
        s.bind(("", 0))
        return s.getsockname()[1]


def wait_listening(port, process, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if listening(port):
            return True
        if process.poll() is not None:
            return False
        time.sleep(0.01)
    return False


def event_path(name):
    """Where the manager puts a worker's stop event on Linux (a FIFO)."""
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if runtime.startswith("/") and os.path.isdir(runtime) and os.stat(runtime).st_uid == os.geteuid():
        return f"{runtime}/vantrel-event-{name}"
    base = "/dev/shm" if os.path.isdir("/dev/shm") else "/tmp"
    return f"{base}/vantrel-{os.geteuid()}-event-{name}"


class Vantrel:
    name = "vantrel"

    def __init__(self, exe, board, devices):
        self.exe, self.board, self.devices = exe, board, devices
        self.counter = 0

    def start(self):
        self.counter += 1
        event = f"VantrelBench{os.getpid()}_{self.counter}"
        self.event_path = event_path(event)
        os.mkfifo(self.event_path, 0o600)
        self.event_fd = os.open(self.event_path, os.O_RDWR | os.O_NONBLOCK)
        self.port = free_port()
        env = dict(os.environ, VANTREL_DEVICE_DIR=self.devices)
        self.process = subprocess.Popen(
            [self.exe, event, str(self.port), "COM5", "115200", "0", "0", "0", "0"], env=env)
        return wait_listening(self.port, self.process)

    def signal_stop(self):
        os.write(self.event_fd, b"\x01")

    def cleanup(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.event_fd)
        os.unlink(self.event_path)


class Socat:
    name = "socat"

    def __init__(self, board):
        self.board = board

    def start(self):
        self.port = free_port()
        self.process = subprocess.Popen(
            ["socat", f"TCP-LISTEN:{self.port},reuseaddr,nodelay",
             f"OPEN:{self.board.slave_path},rawer,echo=0"])
        return wait_listening(self.port, self.process)

    def signal_stop(self):
        self.process.send_signal(signal.SIGTERM)

    def cleanup(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


# --- measurements ------------------------------------------------------------

def connect(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=30)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def handshake(client, board):
    """Returns once the bridge relays: a byte from the client reached the board."""
    finish = board.run(lambda m: os.read(m, 1))
    client.sendall(b"!")
    return finish(30) == b"!"


def latency(client, board, count):
    def echo(master):
        for _ in range(count):
            os.write(master, os.read(master, 1))
        return "done"
    finish = board.run(echo)
    samples = []
    for _ in range(count):
        t0 = time.perf_counter_ns()
        client.sendall(b"p")
        if client.recv(1) != b"p":
            raise RuntimeError("ping-pong byte lost")
        samples.append((time.perf_counter_ns() - t0) / 1000.0)
    finish(30)
    samples = samples[count // 10:]  # warm-up
    samples.sort()
    return statistics.median(samples), samples[int(len(samples) * 0.99) - 1]


def transfer(client, board, up, down):
    """Sends `up` from the client and `down` from the board at the same time;
    returns (seconds, bytes intact in both directions)."""
    def board_side(master):
        os.set_blocking(master, False)
        got, sent = bytearray(), 0
        while len(got) < len(up) or sent < len(down):
            want_w = [master] if sent < len(down) else []
            want_r = [master] if len(got) < len(up) else []
            r, w, _ = select.select(want_r, want_w, [], 30)
            if not r and not w:
                break
            if w:
                try:
                    sent += os.write(master, down[sent:sent + 65536])
                except BlockingIOError:
                    pass
            if r:
                try:
                    got += os.read(master, 65536)
                except BlockingIOError:
                    pass
        os.set_blocking(master, True)
        return (time.monotonic(), bytes(got) == up)

    start = time.monotonic()
    finish = board.run(board_side)
    client.setblocking(False)
    got, sent, end = bytearray(), 0, start
    while len(got) < len(down) or sent < len(up):
        want_w = [client] if sent < len(up) else []
        want_r = [client] if len(got) < len(down) else []
        r, w, _ = select.select(want_r, want_w, [], 30)
        if not r and not w:
            break
        if w:
            try:
                sent += client.send(up[sent:sent + 65536])
            except BlockingIOError:
                pass
        if r:
            try:
                chunk = client.recv(65536)
            except BlockingIOError:
                chunk = None
            if chunk == b"":
                break
            if chunk:
                got += chunk
                end = time.monotonic()
    client.setblocking(True)
    board_end, up_ok = finish(120) or (start, False)
    if not up:
        board_end = start
    if not down:
        end = start
    return max(board_end, end) - start, up_ok and bytes(got) == down


def idle_cpu(pid, seconds):
    def ticks():
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    before = ticks()
    time.sleep(seconds)
    return 100.0 * (ticks() - before) / CLK_TCK / seconds


def stop_time(bridge):
    t0 = time.monotonic()
    bridge.signal_stop()
    bridge.process.wait(30)
    return (time.monotonic() - t0) * 1000.0


def one_round(bridge, board, args, data):
    result = {}
    if not bridge.start():
        raise RuntimeError(f"{bridge.name} did not start listening")
    try:
        client = connect(bridge.port)
        if not handshake(client, board):
            raise RuntimeError(f"{bridge.name} relays nothing")
        result["lat_med"], result["lat_p99"] = latency(client, board, args.pings)
        mib = len(data) / (1 << 20)
        t, ok_up = transfer(client, board, data, b"")
        result["up"] = mib / t
        t, ok_down = transfer(client, board, b"", data)
        result["down"] = mib / t
        t, ok_both = transfer(client, board, data, data[::-1])
        result["both"] = 2 * mib / t
        result["intact"] = ok_up and ok_down and ok_both
        result["idle_cpu"] = idle_cpu(bridge.process.pid, args.idle)
        result["stop_connected"] = stop_time(bridge)
        client.close()
    finally:
        bridge.cleanup()
        board.drain()
    if isinstance(bridge, Vantrel):
        # The other state: waiting for a client.
        bridge.start()
        time.sleep(0.2)
        result["stop_waiting"] = stop_time(bridge)
        bridge.cleanup()
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vantrel", default="build/vantrel", help="the vantrel binary")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--mib", type=int, default=32, help="MiB per transfer")
    parser.add_argument("--pings", type=int, default=2000)
    parser.add_argument("--idle", type=float, default=10.0, help="seconds of idle CPU sampling")
    args = parser.parse_args()
    if not os.access(args.vantrel, os.X_OK):
        sys.exit(f"no vantrel binary at {args.vantrel}")
    if not shutil.which("socat"):
        sys.exit("socat is not installed")

    board = Board()
    devices = tempfile.mkdtemp(prefix="vantrel-bench-")
    os.symlink(board.slave_path, os.path.join(devices, "COM5"))
    data = os.urandom(args.mib << 20)
    bridges = [Vantrel(os.path.abspath(args.vantrel), board, devices), Socat(board)]
    results = {b.name: [] for b in bridges}
    try:
        for n in range(args.rounds):
            for bridge in bridges if n % 2 == 0 else reversed(bridges):
                print(f"round {n + 1}: {bridge.name}", file=sys.stderr, flush=True)
                results[bridge.name].append(one_round(bridge, board, args, data))
    finally:
        board.close()
        shutil.rmtree(devices, ignore_errors=True)

    def med(name, key):
        values = [r[key] for r in results[name] if key in r]
        return statistics.median(values) if values else float("nan")

    v, s = "vantrel", "socat"
    rows = [
        ("latency median (µs)", "lat_med", "{:.0f}", lambda a, b: a <= b * 1.0, "≤ socat"),
        ("latency p99 (µs)", "lat_p99", "{:.0f}", None, ""),
        ("client → board (MiB/s)", "up", "{:.1f}", lambda a, b: a >= 0.9 * b, "≥ 90 % of socat"),
        ("board → client (MiB/s)", "down", "{:.1f}", lambda a, b: a >= 0.9 * b, "≥ 90 % of socat"),
        ("both ways (MiB/s, sum)", "both", "{:.1f}", lambda a, b: a >= 0.9 * b, "≥ 90 % of socat"),
        ("idle CPU, client connected (%)", "idle_cpu", "{:.2f}", lambda a, b: a < 0.5, "< 0.5 %"),
        ("stop → exit, client connected (ms)", "stop_connected", "{:.0f}", None, ""),
        ("stop → exit, waiting for a client (ms)", "stop_waiting", "{:.0f}", None, ""),
    ]
    intact = all(r["intact"] for rs in results.values() for r in rs)
    print(f"\n{args.rounds} rounds, {args.mib} MiB per transfer, {args.pings} pings; medians of the rounds\n")
    print("| Measure | vantrel | socat | Target | Met |")
    print("|---|---:|---:|---|---|")
    for title, key, fmt, check, target in rows:
        a, b = med(v, key), med(s, key)
        met = "" if check is None else ("yes" if check(a, b) else "NO")
        fb = "—" if b != b else fmt.format(b)
        print(f"| {title} | {fmt.format(a)} | {fb} | {target} | {met} |")
    print(f"| bytes lost or changed | {'0' if intact else 'SOME'} | | 0 | {'yes' if intact else 'NO'} |")
    return 0 if intact else 1


if __name__ == "__main__":
    sys.exit(main())
