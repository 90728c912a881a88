#!/usr/bin/env python3
"""Bridge benchmark: the vantrel worker and socat, side by side, as bridges
between a TCP client on 127.0.0.1 and a pseudo-terminal standing in for a
board.

Per bridge and round, in two runs of the bridge:

- waiting for a client: start to listening, wake-ups per second and CPU
  while nobody connects, then (vantrel only) stop to exit;
- serving one client: start to listening, 1-byte round trips, throughput
  client to board, board to client and both ways at once (every byte
  compared) with the CPU time per MiB, then with the client connected and
  idle: wake-ups per second, CPU, private dirty memory and the libraries
  mapped, and stop to exit;
- serving one client after another: from a client's close to the next
  client's first byte through both ways, the board silent meanwhile.

The worker runs raw (vantrel) and as an RFC 2217 service (rfc2217), whose
client takes the Telnet offers and sends and expects 0xFF doubled. Both
serve one client as above and, beside
that, move all-0xFF data each way; the second table sets the RFC 2217
figures beside the raw ones.

Rounds alternate the order of the bridges; the table shows the median of
the rounds.
"""

import argparse
import itertools
import json
import os
import platform
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
        """Runs body(master) in a child process; returns a function that
        waits for it and gives what it reported."""
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

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_and_time(bridge, argv, env=None, connect_client=False, timeout=15):
    """Starts the bridge and waits until its port accepts connections (the
    kernel completes a connection once listen() has been called). Returns
    the milliseconds from just before the start to that point, or None.
    With connect_client the connection that got through stays open as
    bridge.client; otherwise it was a probe of the listening table."""
    t0 = time.perf_counter()
    bridge.process = subprocess.Popen(argv, env=env)
    deadline = t0 + timeout
    while time.perf_counter() < deadline:
        if connect_client:
            s = socket.socket()
            try:
                s.connect(("127.0.0.1", bridge.port))
                elapsed = (time.perf_counter() - t0) * 1000.0
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                s.settimeout(30)
                bridge.client = s
                return elapsed
            except ConnectionRefusedError:
                s.close()
        elif listening(bridge.port):
            return (time.perf_counter() - t0) * 1000.0
        if bridge.process.poll() is not None:
            return None
        time.sleep(0.0002)
    return None


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


def private_folder(path):
    """A folder of this user's that nobody else may enter, as the worker
    requires for its stop events."""
    try:
        st = os.lstat(path)
    except OSError:
        return False
    import stat
    return stat.S_ISDIR(st.st_mode) and st.st_uid == os.geteuid() and (st.st_mode & 0o077) == 0


def event_path(name):
    """Where the manager puts a worker's stop event on Linux (a FIFO): the
    runtime folder when it is private, else a private folder of the user's
    under TMPDIR."""
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if runtime.startswith("/") and private_folder(runtime):
        return f"{runtime}/vantrel-event-{name}"
    tmp = os.environ.get("TMPDIR", "")
    base = (tmp if tmp.startswith("/") else "/tmp").rstrip("/") or "/"
    folder = f"{base}/vantrel-{os.geteuid()}"
    try:
        os.mkdir(folder, 0o700)
    except FileExistsError:
        pass
    if not private_folder(folder):
        raise RuntimeError(f"{folder} is not a private folder of this user")
    return f"{folder}/event-{name}"


# Stop events are named apart for every start of every worker bridge, also
# when several run at once.
EVENT_NUMBERS = itertools.count(1)


class Vantrel:
    name = "vantrel"
    flags = "0"
    telnet = False

    def __init__(self, exe, board, devices):
        self.exe, self.board, self.devices = exe, board, devices
        self.process = self.client = None

    def start(self, connect_client=False, clients=1):
        event = f"VantrelBench{os.getpid()}_{next(EVENT_NUMBERS)}"
        self.event_path = event_path(event)
        os.mkfifo(self.event_path, 0o600)
        self.event_fd = os.open(self.event_path, os.O_RDWR | os.O_NONBLOCK)
        self.port = free_port()
        env = dict(os.environ, VANTREL_DEVICE_DIR=self.devices)
        return start_and_time(
            self, [self.exe, event, str(self.port), "COM5", "115200", self.flags, "0", "0", "0"], env, connect_client)

    def signal_stop(self):
        os.write(self.event_fd, b"\x01")

    def cleanup(self):
        if self.client:
            self.client.close()
            self.client = None
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.event_fd)
        os.unlink(self.event_path)


class Before(Vantrel):
    """Another build of the worker (--before), raw, for a change's figures
    side by side with this one's."""
    name = "before"


class Rfc2217(Vantrel):
    """The worker as an RFC 2217 service (WORKER_PROTOCOL_RFC2217)."""
    name = "rfc2217"
    flags = str(0x0100)
    telnet = True


class Socat:
    """socat in one of two forms. "socat": no fork, the terminal opened with
    OPEN:...,rawer (one process serves its one client). "socat fork": the
    form of a harness of another's, `socat -t0 TCP-LISTEN:...,fork,nodelay
    FILE:<pts>,raw,echo=0`: the listening process forks one process per
    client, which opens the terminal; the figures count the whole tree."""
    telnet = False

    def __init__(self, board, fork=False):
        self.board, self.fork = board, fork
        self.name = "socat fork" if fork else "socat"
        self.process = self.client = None

    def start(self, connect_client=False, clients=1):
        """With clients > 1 it serves one client after another. The plain
        form then gets a process of its own for each client (fork), one at
        a time (max-children=1), closing the terminal at once when the
        client has gone (-t 0; socat's own default waits half a second for
        the board first)."""
        self.port = free_port()
        listen = f"TCP-LISTEN:{self.port},bind=127.0.0.1,reuseaddr"
        if self.fork:
            argv = ["socat", "-t0", listen + ",fork,nodelay", f"FILE:{self.board.slave_path},raw,echo=0"]
        elif clients > 1:
            argv = ["socat", "-t", "0", listen + ",nodelay,fork,max-children=1",
                    f"OPEN:{self.board.slave_path},rawer,echo=0"]
        else:
            argv = ["socat", listen + ",nodelay", f"OPEN:{self.board.slave_path},rawer,echo=0"]
        return start_and_time(self, argv, None, connect_client)

    def signal_stop(self):
        self.process.send_signal(signal.SIGTERM)

    def cleanup(self):
        if self.client:
            self.client.close()
            self.client = None
        for pid in process_tree(self.process.pid)[1:]:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class TerminalClient:
    """The terminal's own side as a client: what a socket of the bench is
    asked (send, recv, blocking, a file number for select) done on the
    file descriptor."""

    def __init__(self, fd):
        self.fd = fd

    def fileno(self):
        return self.fd

    def setblocking(self, flag):
        os.set_blocking(self.fd, flag)

    def settimeout(self, seconds):
        os.set_blocking(self.fd, True)

    def send(self, data):
        return os.write(self.fd, data)

    def sendall(self, data):
        view = memoryview(data)
        while view:
            view = view[os.write(self.fd, view):]

    def recv(self, size):
        return os.read(self.fd, size)

    def close(self):
        os.close(self.fd)


class Terminal:
    """No bridge: the client writes to and reads from the terminal itself,
    in raw mode. Its figures are what the pseudo-terminal and the bench's
    own processes allow, the ceiling of a bridge's throughput and the floor
    of its round trip (paired blocks only)."""
    name = "terminal alone"
    telnet = False
    process = None

    def __init__(self, board):
        self.board = board
        self.client = None

    def start(self, connect_client=False, clients=1):
        fd = os.open(self.board.slave_path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        self.client = TerminalClient(fd)
        return 0.0

    def signal_stop(self):
        pass

    def cleanup(self):
        if self.client:
            self.client.close()
            self.client = None


# --- Telnet, for the RFC 2217 service -----------------------------------------

IAC, SB, SE = 0xFF, 0xFA, 0xF0
WILL, WONT, DO, DONT = 0xFB, 0xFC, 0xFD, 0xFE
BINARY, ECHO, SGA, COM_PORT = 0, 1, 3, 44


def agree(client):
    """Takes the service's offers as an RFC 2217 client does (BINARY both
    ways, SGA, ECHO, COM-PORT) and waits for the modem state that follows
    the agreement."""
    client.sendall(bytes([IAC, DO, BINARY, IAC, DO, SGA, IAC, DO, ECHO, IAC, DO, COM_PORT, IAC, WILL, BINARY]))
    seen = b""
    modem_state = bytes([IAC, SB, COM_PORT, 107])
    while modem_state not in seen or not seen.endswith(bytes([IAC, SE])):
        chunk = client.recv(4096)
        if not chunk:
            raise RuntimeError("the RFC 2217 service closed the connection")
        seen += chunk


# --- measurements ------------------------------------------------------------

def handshake(client, board):
    """Returns once the bridge relays: a byte from the client reached the board."""
    # The bridge opens the terminal once the client is there: until then a
    # read of the board may fail (board_byte waits for it).
    finish = board.run(lambda m: board_byte(board))
    client.sendall(b"!")
    return finish(30) == b"!"


def latency(client, board, count):
    """1-byte round trips, by the names of the results: median, 99th
    percentile, maximum, how many took over 1 ms per 10,000, and the
    medians of the two halves (client to board, board to client), split
    where the board's read returned (one clock for both processes)."""
    def echo(master):
        arrived = []
        for _ in range(count):
            byte = os.read(master, 1)
            arrived.append(time.monotonic_ns())
            os.write(master, byte)
        return arrived
    finish = board.run(echo)
    sent, back = [], []
    for _ in range(count):
        sent.append(time.monotonic_ns())
        client.sendall(b"p")
        if client.recv(1) != b"p":
            raise RuntimeError("ping-pong byte lost")
        back.append(time.monotonic_ns())
    arrived = finish(30)
    if not isinstance(arrived, list) or len(arrived) != count:
        raise RuntimeError("the board's echo did not report")
    warm = count // 10  # warm-up
    samples = sorted((b - a) / 1000.0 for a, b in zip(sent[warm:], back[warm:]))
    to_board = statistics.median((b - a) / 1000.0 for a, b in zip(sent[warm:], arrived[warm:]))
    to_client = statistics.median((b - a) / 1000.0 for a, b in zip(arrived[warm:], back[warm:]))
    slow = sum(s > 1000.0 for s in samples) * 10000.0 / len(samples)
    return {"lat_med": statistics.median(samples), "lat_p99": samples[int(len(samples) * 0.99) - 1],
            "lat_max": samples[-1], "lat_slow": slow, "lat_up": to_board, "lat_down": to_client}


def transfer(client, board, up, down, telnet=False):
    """Sends `up` from the client and `down` from the board at the same time;
    returns (seconds, bytes intact in both directions). With telnet the
    client sends `up` with each 0xFF doubled and compares what comes with
    `down` doubled the same way, both forms made before the clock starts
    (a client that undid the doubling in Python would spend more on it than
    the service spends on the whole stream; the comparison checks the same
    thing)."""
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

    wire = up.replace(b"\xff", b"\xff\xff") if telnet else up  # made before the clock starts
    expected = down.replace(b"\xff", b"\xff\xff") if telnet else down
    start = time.monotonic()
    finish = board.run(board_side)
    client.setblocking(False)
    got, sent, end = bytearray(), 0, start
    while len(got) < len(expected) or sent < len(wire):
        want_w = [client] if sent < len(wire) else []
        want_r = [client] if len(got) < len(expected) else []
        r, w, _ = select.select(want_r, want_w, [], 30)
        if not r and not w:
            break
        if w:
            try:
                sent += client.send(wire[sent:sent + 65536])
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
    client.settimeout(30)
    board_end, up_ok = finish(120) or (start, False)
    if not up:
        board_end = start
    if not down:
        end = start
    return max(board_end, end) - start, up_ok and bytes(got) == expected


def board_byte(board, timeout=30):
    """One byte from the board's terminal; the bridge may have closed its
    side between two clients (the read then fails until it opens again)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        ready, _, _ = select.select([board.master], [], [], 1)
        if ready:
            try:
                return os.read(board.master, 1)
            except OSError:
                time.sleep(0.0001)
    raise RuntimeError("no byte reached the board")


def reconnects(bridge, board, cycles):
    """Milliseconds from a client's close to the next client's first byte
    through both ways (client to board, then the board's answer back), for
    `cycles` clients one after another; the next client connects right
    after the close, and the board sends nothing meanwhile. Median and
    maximum."""
    client = bridge.client
    client.sendall(b"!")
    if board_byte(board) != b"!":
        raise RuntimeError(f"{bridge.name} relays nothing")
    samples = []
    try:
        for _ in range(cycles):
            t0 = time.perf_counter()
            client.close()
            client = socket.create_connection(("127.0.0.1", bridge.port), timeout=30)
            client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            client.sendall(b"r")
            if board_byte(board) != b"r":
                raise RuntimeError("reconnect byte lost on the way to the board")
            os.write(board.master, b"R")
            if client.recv(1) != b"R":
                raise RuntimeError("reconnect byte lost on the way to the client")
            samples.append((time.perf_counter() - t0) * 1000.0)
    finally:
        bridge.client = client
    return statistics.median(samples), max(samples)


def process_tree(pid):
    """pid and its descendants (a forking bridge's served clients)."""
    tree, i = [pid], 0
    while i < len(tree):
        try:
            for tid in os.listdir(f"/proc/{tree[i]}/task"):
                with open(f"/proc/{tree[i]}/task/{tid}/children") as f:
                    tree += [int(c) for c in f.read().split()]
        except OSError:
            pass  # it ended meanwhile
        i += 1
    return tree


def cpu_ticks(pid):
    """User + system time of the process tree: each process with its ended
    threads and its reaped children."""
    total = 0
    for p in process_tree(pid):
        try:
            with open(f"/proc/{p}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += sum(int(x) for x in fields[11:15])
        except OSError:
            pass
    return total


def thread_lines(pid, name):
    """(thread id, lines of /proc/.../task/<tid>/<name>) for every thread
    of the process tree still there when read."""
    for p in process_tree(pid):
        try:
            threads = os.listdir(f"/proc/{p}/task")
        except OSError:
            continue  # the process ended meanwhile
        for tid in threads:
            try:
                with open(f"/proc/{p}/task/{tid}/{name}") as f:
                    lines = f.readlines()
            except OSError:
                continue  # the thread ended meanwhile
            yield tid, lines


def context_switches(pid):
    """Voluntary and involuntary context switches of every thread of the
    process tree, and the thread ids counted."""
    total, tids = 0, set()
    for tid, lines in thread_lines(pid, "status"):
        total += sum(int(line.split()[1]) for line in lines
                     if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")))
        tids.add(tid)
    return total, tids


def migrations(pid):
    """Moves between cores of every thread of the process tree (the
    scheduler's own count, where the kernel keeps it; else 0)."""
    return sum(int(line.split(":")[1]) for _, lines in thread_lines(pid, "sched")
               for line in lines if line.startswith("se.nr_migrations"))


def idle(pid, seconds):
    """Wake-ups per second and CPU percentage over `seconds` of idleness.
    The thread set must not change meanwhile (an ended thread's switches
    would be lost): None for the wake-ups if it did."""
    switches0, tids0 = context_switches(pid)
    ticks0 = cpu_ticks(pid)
    time.sleep(seconds)
    switches1, tids1 = context_switches(pid)
    ticks1 = cpu_ticks(pid)
    wakeups = (switches1 - switches0) / seconds if tids0 == tids1 else None
    return wakeups, 100.0 * (ticks1 - ticks0) / CLK_TCK / seconds


def memory(pid):
    """Private_Dirty and Pss_Dirty in kB (smaps_rollup) summed over the
    process tree (a forked child shares its parent's dirty pages until it
    writes them: Private_Dirty leaves those out, Pss_Dirty counts each
    process its share), the shared objects the serving process (the tree's
    last) maps, and those of them that are Qt's."""
    tree = process_tree(pid)
    dirty = {"Private_Dirty:": 0, "Pss_Dirty:": 0}
    for p in tree:
        with open(f"/proc/{p}/smaps_rollup") as f:
            for line in f:
                key = line.split(None, 1)[0]
                if key in dirty:
                    dirty[key] += int(line.split()[1])
    objects = set()
    with open(f"/proc/{tree[-1]}/maps") as f:
        for line in f:
            parts = line.split(None, 5)
            if len(parts) == 6 and ".so" in os.path.basename(parts[5].strip()):
                objects.add(parts[5].strip())
    qt = sorted(o for o in objects if os.path.basename(o).startswith("libQt"))
    return dirty["Private_Dirty:"], dirty["Pss_Dirty:"], len(objects), qt


def stop_time(bridge):
    t0 = time.perf_counter()
    bridge.signal_stop()
    bridge.process.wait(30)
    return (time.perf_counter() - t0) * 1000.0


def waiting_run(bridge, args, result):
    """The bridge started with nobody connecting: start time, idleness, and
    for vantrel the stop while it waits."""
    started = bridge.start()
    if started is None:
        raise RuntimeError(f"{bridge.name} did not start listening")
    try:
        result["start_waiting"] = started
        result["wake_waiting"], result["cpu_waiting"] = idle(bridge.process.pid, args.idle)
        if isinstance(bridge, Vantrel):
            result["stop_waiting"] = stop_time(bridge)
    finally:
        bridge.cleanup()


def serving_run(bridge, board, args, data, result):
    """The bridge started and served one client: start time (to the
    client's connection), round trips, transfers with their CPU, idleness
    with the client connected, memory, and the stop."""
    started = bridge.start(connect_client=True)
    if started is None:
        raise RuntimeError(f"{bridge.name} did not start listening")
    try:
        result["start"] = started
        client, pid = bridge.client, bridge.process.pid
        if bridge.telnet:
            agree(client)
        if not handshake(client, board):
            raise RuntimeError(f"{bridge.name} relays nothing")
        switches0, migrated0 = context_switches(pid)[0], migrations(pid)
        result.update(latency(client, board, args.pings))
        result["ping_switches"] = (context_switches(pid)[0] - switches0) / args.pings
        result["ping_migrations"] = 1000.0 * (migrations(pid) - migrated0) / args.pings
        mib = len(data) / (1 << 20)
        ticks = cpu_ticks(pid)
        t, ok_up = transfer(client, board, data, b"", bridge.telnet)
        result["up"] = mib / t
        t, ok_down = transfer(client, board, b"", data, bridge.telnet)
        result["down"] = mib / t
        t, ok_both = transfer(client, board, data, data[::-1], bridge.telnet)
        result["both"] = 2 * mib / t
        result["cpu_per_mib"] = 1000.0 * (cpu_ticks(pid) - ticks) / CLK_TCK / (4 * mib)
        result["intact"] = ok_up and ok_down and ok_both
        if isinstance(bridge, Vantrel):
            ones = b"\xff" * len(data)
            t, ok_up = transfer(client, board, ones, b"", bridge.telnet)
            result["ff_up"] = mib / t
            t, ok_down = transfer(client, board, b"", ones, bridge.telnet)
            result["ff_down"] = mib / t
            result["intact"] = result["intact"] and ok_up and ok_down
        result["wake_client"], result["cpu_client"] = idle(pid, args.idle)
        result["dirty_kb"], result["pss_dirty_kb"], result["objects"], qt = memory(pid)
        result["qt_objects"] = len(qt)
        result["stop_connected"] = stop_time(bridge)
    finally:
        bridge.cleanup()
        board.drain()


def reconnect_run(bridge, board, args, result):
    """The bridge started to serve one client after another: the time
    from each client's close to the next one served."""
    started = bridge.start(connect_client=True, clients=args.reconnects + 1)
    if started is None:
        raise RuntimeError(f"{bridge.name} did not start listening")
    try:
        result["reconnect_med"], result["reconnect_max"] = reconnects(bridge, board, args.reconnects)
    finally:
        bridge.cleanup()
        board.drain()


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def board_with_device_map():
    """A board and a device folder that offers it as COM5."""
    board = Board()
    folder = tempfile.mkdtemp(prefix="vantrel-bench-")
    os.symlink(board.slave_path, os.path.join(folder, "COM5"))
    return board, folder


def bridge_makers(args):
    """The bridges asked for, in their order, each as a function of the
    board and the device folder it is to serve."""
    vantrel, before = os.path.abspath(args.vantrel), os.path.abspath(args.before or args.vantrel)
    makers = [("vantrel", lambda board, folder: Vantrel(vantrel, board, folder)),
              ("before", lambda board, folder: Before(before, board, folder)),
              ("socat", lambda board, folder: Socat(board)),
              ("socat fork", lambda board, folder: Socat(board, fork=True)),
              ("rfc2217", lambda board, folder: Rfc2217(vantrel, board, folder)),
              ("terminal alone", lambda board, folder: Terminal(board))]
    wanted = args.only.split(",") if args.only else None
    return [make for name, make in makers
            if (name != "before" or args.before) and (name != "terminal alone" or args.paired)
            and (wanted is None or name in wanted)]


def paired(args):
    """Every bridge at once, each on a board of its own, measured in short
    blocks taken in turn (the order turning from block to block): round
    trips and a transfer each way per block. A block's ratio compares
    bridges measured within seconds of each other, so the machine's drift
    over minutes, which moves the rounds' medians by 10-15 %, cancels out.
    Prints, for each bridge beside vantrel, the median of the blocks'
    ratios, their quartiles and how many blocks vantrel was ahead in."""
    boards, folders, bridges = [], [], []
    try:
        for make in bridge_makers(args):
            board, folder = board_with_device_map()
            boards.append(board)
            folders.append(folder)
            bridge = make(board, folder)
            if bridge.start(connect_client=True) is None:
                raise RuntimeError(f"{bridge.name} did not start listening")
            bridges.append(bridge)
            if bridge.telnet:
                agree(bridge.client)
            if not handshake(bridge.client, board):
                raise RuntimeError(f"{bridge.name} relays nothing")
        data = os.urandom(args.mib << 20)
        mib = len(data) / (1 << 20)
        figures = {b.name: {"lat_med": [], "lat_p99": [], "lat_max": [], "lat_slow": [], "up": [], "down": []}
                   for b in bridges}
        ticks = {b.name: 0 for b in bridges}
        load_before = load_average()
        pairs = list(zip(bridges, boards))
        for block in range(args.paired):
            turn = block % len(pairs)
            for bridge, board in pairs[turn:] + pairs[:turn]:
                f = figures[bridge.name]
                trips = latency(bridge.client, board, args.pings)
                for key in ("lat_med", "lat_p99", "lat_max", "lat_slow"):
                    f[key].append(trips[key])
                before = cpu_ticks(bridge.process.pid) if bridge.process else 0
                t, ok_down = transfer(bridge.client, board, b"", data, bridge.telnet)
                f["down"].append(mib / t)
                t, ok_up = transfer(bridge.client, board, data, b"", bridge.telnet)
                f["up"].append(mib / t)
                if bridge.process:
                    ticks[bridge.name] += cpu_ticks(bridge.process.pid) - before
                if not (ok_up and ok_down):
                    raise RuntimeError(f"{bridge.name} lost or changed bytes")
        print(f"\n{args.paired} blocks of {args.pings} pings and {args.mib} MiB each way, the bridges in turn; "
              f"load average {load_before} before, {load_average()} after\n")
        print("| vantrel beside | figure | vantrel | other | ratio per block, median (quartiles) | vantrel ahead |")
        print("|---|---|---:|---:|---:|---:|")
        mine = figures["vantrel"]
        for other_bridge in (b for b in bridges if b.name != "vantrel"):
            other = other_bridge.name
            theirs = figures[other]
            for key, title, lower_better in (("lat_med", "round trip median (µs)", True),
                                             ("lat_p99", "round trip p99 (µs)", True),
                                             ("down", "board → client (MiB/s)", False),
                                             ("up", "client → board (MiB/s)", False)):
                ratios = [a / b for a, b in zip(mine[key], theirs[key])]
                q = statistics.quantiles(ratios, n=4) if len(ratios) > 1 else [ratios[0]] * 3
                ahead = sum((r < 1) if lower_better else (r > 1) for r in ratios)
                print(f"| {other} | {title} | {statistics.median(mine[key]):.1f} | "
                      f"{statistics.median(theirs[key]):.1f} | {statistics.median(ratios):.3f} "
                      f"({q[0]:.2f}–{q[2]:.2f}) | {ahead}/{len(ratios)} |")
            if not other_bridge.process:
                continue  # no process of its own: no CPU to count
            cpu = {name: 1000.0 * ticks[name] / CLK_TCK / (2 * mib * args.paired) for name in ("vantrel", other)}
            ratio = cpu["vantrel"] / cpu[other] if cpu[other] else float("nan")
            print(f"| {other} | CPU per MiB moved, all blocks (ms) | {cpu['vantrel']:.2f} | {cpu[other]:.2f} | "
                  f"{ratio:.3f} |  |")
        # The rare delays, over all blocks: one maximum is one trip in
        # tens of thousands; the count over 1 ms shows how common they are.
        print("\n| bridge | round trip max, all blocks (µs) | block maxima, median (µs) | over 1 ms, per 10,000 |")
        print("|---|---:|---:|---:|")
        for bridge in bridges:
            f = figures[bridge.name]
            print(f"| {bridge.name} | {max(f['lat_max']):.0f} | {statistics.median(f['lat_max']):.0f} | "
                  f"{statistics.mean(f['lat_slow']):.1f} |")
    finally:
        for bridge in bridges:
            bridge.signal_stop()
            bridge.cleanup()
        for board in boards:
            board.close()
        for folder in folders:
            shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vantrel", default="build/vantrel", help="the vantrel binary")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--mib", type=int, default=32, help="MiB per transfer")
    parser.add_argument("--pings", type=int, default=2000)
    parser.add_argument("--idle", type=float, default=20.0,
                        help="seconds of each idle sample (wake-ups, CPU)")
    parser.add_argument("--reconnects", type=int, default=50, help="clients one after another per round")
    parser.add_argument("--before", default="", help="another vantrel binary, run beside this one")
    parser.add_argument("--only", default="", help="comma-separated bridges to run (a quick look, not a figure)")
    parser.add_argument("--json", default="", help="also write every round's figures to this file")
    parser.add_argument("--paired", type=int, default=0, metavar="BLOCKS",
                        help="instead: every bridge at once, in BLOCKS short blocks taken in turn")
    args = parser.parse_args()
    if not os.access(args.vantrel, os.X_OK):
        sys.exit(f"no vantrel binary at {args.vantrel}")
    if not shutil.which("socat"):
        sys.exit("socat is not installed")
    if args.paired:
        if args.only and "vantrel" not in args.only.split(","):
            sys.exit("--paired sets every bridge beside vantrel: --only must name it")
        paired(args)
        return

    board, devices = board_with_device_map()
    data = os.urandom(args.mib << 20)
    bridges = [make(board, devices) for make in bridge_makers(args)]
    results = {name: [] for name in ("vantrel", "before", "socat", "socat fork", "rfc2217")}
    load_before = load_average()
    began = time.monotonic()
    try:
        for n in range(args.rounds):
            for bridge in bridges if n % 2 == 0 else reversed(bridges):
                print(f"round {n + 1}: {bridge.name}", file=sys.stderr, flush=True)
                result = {}
                if not bridge.telnet:
                    waiting_run(bridge, args, result)
                serving_run(bridge, board, args, data, result)
                if not bridge.telnet:
                    reconnect_run(bridge, board, args, result)
                results[bridge.name].append(result)
    finally:
        board.close()
        shutil.rmtree(devices, ignore_errors=True)
    minutes = (time.monotonic() - began) / 60
    if args.json:
        with open(args.json, "w") as out:
            json.dump({"load_before": load_before, "load_after": load_average(), "rounds": results}, out, indent=1)

    def values(name, key):
        return [r[key] for r in results[name] if r.get(key) is not None]

    def med(name, key):
        got = values(name, key)
        return statistics.median(got) if got else float("nan")

    def figure(name, key, fmt):
        """The median of the rounds, and their spread (min–max)."""
        got = values(name, key)
        if not got:
            return "—"
        text = fmt.format(statistics.median(got))
        if len(got) > 1 and min(got) != max(got):
            text += f" ({fmt.format(min(got))}–{fmt.format(max(got))})"
        return text

    v, forms = "vantrel", ("socat", "socat fork")
    # title, key, format, target text, check(vantrel, socat) or None; a
    # target against socat is met only when it is met against both forms.
    rows = [
        ("wake-ups per second, client connected, idle", "wake_client", "{:.2f}", "0", lambda a, b: a == 0),
        ("wake-ups per second, waiting for a client", "wake_waiting", "{:.2f}", "0", lambda a, b: a == 0),
        ("CPU, client connected, idle (%)", "cpu_client", "{:.2f}", "", None),
        ("CPU, waiting for a client (%)", "cpu_waiting", "{:.2f}", "", None),
        ("private dirty, idle with a client (kB)", "dirty_kb", "{:.0f}", "≤ 232", lambda a, b: a <= 232),
        ("dirty memory, proportional share, idle with a client (kB)", "pss_dirty_kb", "{:.0f}", "", None),
        ("shared objects mapped", "objects", "{:.0f}", "", None),
        ("Qt libraries mapped", "qt_objects", "{:.0f}", "0", lambda a, b: a == 0),
        ("start to listening, then a client (ms)", "start", "{:.1f}", "≤ 1.2× socat", lambda a, b: a <= 1.2 * b),
        ("start to listening, no client (ms)", "start_waiting", "{:.1f}", "≤ 1.2× socat",
         lambda a, b: a <= 1.2 * b),
        ("round trip, 1 byte, median (µs)", "lat_med", "{:.0f}", "< socat", lambda a, b: a < b),
        ("round trip, 1 byte, p99 (µs)", "lat_p99", "{:.0f}", "< socat", lambda a, b: a < b),
        ("round trip, 1 byte, max (µs)", "lat_max", "{:.0f}", "≤ socat", lambda a, b: a <= b),
        ("round trips over 1 ms, per 10,000", "lat_slow", "{:.1f}", "", None),
        ("one way, client → board, median (µs)", "lat_up", "{:.0f}", "", None),
        ("one way, board → client, median (µs)", "lat_down", "{:.0f}", "", None),
        ("context switches per round trip", "ping_switches", "{:.2f}", "", None),
        ("moves between cores per 1000 round trips", "ping_migrations", "{:.0f}", "", None),
        ("CPU per MiB moved (ms)", "cpu_per_mib", "{:.2f}", "< socat", lambda a, b: a < b),
        ("client → board (MiB/s)", "up", "{:.1f}", "> socat", lambda a, b: a > b),
        ("board → client (MiB/s)", "down", "{:.1f}", "> socat", lambda a, b: a > b),
        ("both ways (MiB/s, sum)", "both", "{:.1f}", "≥ socat", lambda a, b: a >= b),
        ("close → next client through both ways, median (ms)", "reconnect_med", "{:.2f}", "≤ 5",
         lambda a, b: a <= 5),
        ("close → next client through both ways, max (ms)", "reconnect_max", "{:.2f}", "", None),
        ("stop → exit, client connected (ms)", "stop_connected", "{:.1f}", "≤ 100", lambda a, b: a <= 100),
        ("stop → exit, waiting for a client (ms)", "stop_waiting", "{:.1f}", "≤ 100", lambda a, b: a <= 100),
    ]
    intact = all(r["intact"] for rs in results.values() for r in rs)
    unsteady = sum(r.get(k, 0) is None for rs in results.values() for r in rs for k in ("wake_client", "wake_waiting"))
    print(f"\n{args.rounds} rounds, {args.mib} MiB per transfer, {args.pings} pings, {args.idle:g} s per idle "
          f"sample; medians of the rounds")
    print(f"{platform.node()}: {os.cpu_count()} cores, Linux {platform.release()}; load average "
          f"{load_before} before, {load_average()} after ({minutes:.1f} min)\n")
    print("Each figure: the median of the rounds, (their spread, min–max); ratios are vantrel / socat.\n")
    print("| Measure | vantrel | socat | ratio | socat fork | ratio | Target | Met |")
    print("|---|---:|---:|---:|---:|---:|---|---|")
    for title, key, fmt, target, check in rows:
        a = med(v, key)
        cells = [figure(v, key, fmt)]
        met = check is not None and a == a
        for form in forms:
            b = med(form, key)
            cells += [figure(form, key, fmt), f"{a / b:.2f}×" if a == a and b == b and b > 0 else ""]
            if met and not check(a, b if b == b else a):
                met = False
        verdict = "" if check is None or a != a else ("yes" if met else "NO")
        print(f"| {title} | {' | '.join(cells)} | {target} | {verdict} |")
    print(f"| bytes lost or changed | {'0' if intact else 'SOME'} | | | | | 0 | {'yes' if intact else 'NO'} |")

    # RFC 2217 beside raw: title, key of the RFC 2217 figure, key of the
    # raw one, format, whether more is better, the least (or most) ratio.
    rfc_rows = [
        ("round trip, 1 byte, median (µs)", "lat_med", "lat_med", "{:.0f}", False, 1.10),
        ("round trip, 1 byte, p99 (µs)", "lat_p99", "lat_p99", "{:.0f}", False, None),
        ("round trip, 1 byte, max (µs)", "lat_max", "lat_max", "{:.0f}", False, None),
        ("one way, client → board, median (µs)", "lat_up", "lat_up", "{:.0f}", False, None),
        ("one way, board → client, median (µs)", "lat_down", "lat_down", "{:.0f}", False, None),
        ("client → board (MiB/s)", "up", "up", "{:.1f}", True, 0.90),
        ("board → client (MiB/s)", "down", "down", "{:.1f}", True, 0.90),
        ("both ways (MiB/s, sum)", "both", "both", "{:.1f}", True, 0.90),
        ("all 0xFF, client → board (MiB/s)", "ff_up", "ff_up", "{:.1f}", True, 0.50),
        ("all 0xFF, board → client (MiB/s)", "ff_down", "ff_down", "{:.1f}", True, 0.50),
        ("CPU per MiB moved (ms)", "cpu_per_mib", "cpu_per_mib", "{:.2f}", False, None),
    ]
    print("\n| RFC 2217 beside raw | raw | RFC 2217 | ratio | Target | Met |")
    print("|---|---:|---:|---:|---|---|")
    for title, key, raw_key, fmt, more_better, bound in rfc_rows:
        a, b = med("rfc2217", key), med(v, raw_key)
        fa, fb = figure("rfc2217", key, fmt), figure(v, raw_key, fmt)
        ratio = a / b if a == a and b == b and b > 0 else float("nan")
        target = "" if bound is None else (f"≥ {bound:.2f}× raw" if more_better else f"≤ {bound:.2f}× raw")
        met = "" if bound is None or ratio != ratio else (
            "yes" if (ratio >= bound if more_better else ratio <= bound) else "NO")
        print(f"| {title} | {fb} | {fa} | {'' if ratio != ratio else f'{ratio:.2f}×'} | {target} | {met} |")
    if results["before"]:
        print("\n| This build beside the one before | before | vantrel | ratio |")
        print("|---|---:|---:|---:|")
        for title, key, fmt, _, _ in rows:
            a, b = med(v, key), med("before", key)
            ratio = f"{a / b:.2f}×" if a == a and b == b and b > 0 else ""
            print(f"| {title} | {figure('before', key, fmt)} | {figure(v, key, fmt)} | {ratio} |")
    if unsteady:
        print(f"\n{unsteady} idle sample(s) left out: a thread started or ended during the sample")
    return 0 if intact else 1


if __name__ == "__main__":
    sys.exit(main())
