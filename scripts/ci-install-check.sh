#!/bin/bash
# Installs the Debian package as a user would and runs the installed program
# as the service does: headless, as the system user `vantrel`, against a
# pseudo-terminal board that belongs to root:dialout like a real serial
# port, mapped as COM7. A TCP client on 127.0.0.1 must reach the board; a
# service on a missing port must report its error; SIGTERM must end
# everything with exit code 0. Then the package is removed and purged.
#
# Needs root (apt-get) and socat. Usage, from the source tree after
# `make package`:
#   scripts/ci-install-check.sh [path/to/vantrel_*.deb]
set -euo pipefail
cd "$(dirname "$0")/.."

deb=${1:-$(ls dist/vantrel_*.deb 2>/dev/null | head -n 1 || true)}
[ -n "$deb" ] && [ -f "$deb" ] || { echo "no package: run make package first" >&2; exit 1; }
case $deb in /*|./*) ;; *) deb=./$deb ;; esac
[ "$(id -u)" -eq 0 ] || { echo "needs root" >&2; exit 1; }
command -v socat >/dev/null || { echo "needs socat" >&2; exit 1; }

port=${VANTREL_CI_PORT:-47011}
missing_port=$((port + 1))
work=$(mktemp -d)
board_pid=
manager_pid=

log() { echo "ci-install-check: $*"; }
fail() {
    log "FAILED: $*"
    if [ -s "$work/stderr" ]; then
        log "the manager's standard error:"
        sed 's/^/    /' "$work/stderr"
    fi
    exit 1
}
cleanup() {
    for pid in $manager_pid $board_pid; do
        kill -KILL "$pid" 2>/dev/null || true
    done
    if dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q installed; then
        apt-get purge -y -q vantrel >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Polls `command` every 100 ms until it succeeds or `seconds` pass.
wait_for() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    for ((i = 0; i < tries; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

export DEBIAN_FRONTEND=noninteractive
log "installing $deb"
apt-get install -y -q --no-install-recommends "$deb"

# What the package put in place.
[ -x /usr/bin/vantrel ] || fail "no /usr/bin/vantrel"
[ -f /lib/systemd/system/vantrel.service ] || fail "no unit"
[ ! -e /etc/systemd/system/multi-user.target.wants/vantrel.service ] || fail "the unit was enabled"
getent passwd vantrel >/dev/null || fail "no system user vantrel"
id -nG vantrel | tr ' ' '\n' | grep -qx dialout || fail "vantrel is not in dialout"
[ "$(getent passwd vantrel | cut -d: -f7)" = /usr/sbin/nologin ] || fail "vantrel can log in"
/usr/bin/vantrel --version | grep -q '1\.0r5' || fail "--version does not print 1.0r5"
man -w vantrel >/dev/null || fail "man vantrel finds no page"

# The board: a pseudo-terminal that echoes what it receives.
mkdir -p "$work/conf" "$work/devices" "$work/run" "$work/home"
chown vantrel: "$work/run"
chmod 0700 "$work/run"
chmod 0755 "$work" "$work/conf" "$work/devices"
socat PTY,link="$work/devices/COM7",rawer,wait-slave,group=dialout,perm=0660 EXEC:cat &
board_pid=$!
wait_for 10 test -e "$work/devices/COM7" || fail "socat made no pseudo-terminal"
ln -s /nonexistent/vantrel-ci-device "$work/devices/COM8"

cat >"$work/conf/vantrel.ini" <<EOF
[General]
autostart = 0
services   = 2

[Service1]
name      = CI board
tcpip     = $port
comport   = COM7
baudrate  = 115200
handshake = None
parity    = None
stopbits  = 1
dtro      = No
dtrc      = No
active    = 1

[Service2]
name      = Missing board
tcpip     = $missing_port
comport   = COM8
baudrate  = 9600
handshake = None
parity    = None
stopbits  = 1
dtro      = No
dtrc      = No
active    = 1
EOF
chmod 0644 "$work/conf/vantrel.ini"
cp "$work/conf/vantrel.ini" "$work/vantrel.ini.before"

log "starting /usr/bin/vantrel --headless --config $work/conf as vantrel"
setpriv --reuid=vantrel --regid=vantrel --init-groups --reset-env \
    env HOME="$work/home" XDG_RUNTIME_DIR="$work/run" VANTREL_DEVICE_DIR="$work/devices" \
    /usr/bin/vantrel --headless --config "$work/conf" 2>"$work/stderr" </dev/null &
manager_pid=$!

has_line() { grep -qF -- "$1" "$work/stderr"; }
wait_for 20 has_line "CI board ($port -> COM7): Active" || fail "no Active line for the board"
wait_for 20 has_line "Missing board ($missing_port -> COM8): Error" || fail "no error line for the missing port"

# A client on 127.0.0.1 reaches the board: what it sends comes back through
# the pseudo-terminal's echo. The connection stays open until the answer is
# in (the worker ends the session when the client closes). The listener may
# need a moment after Active: a refused connection is tried again.
talk() {
    (
        exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1
        printf 'hello board\n' >&3
        IFS= read -r -t 10 line <&3 || true
        printf '%s' "$line" >"$work/reply"
        exec 3>&-
        [ "$line" = "hello board" ]
    ) 2>/dev/null
}
: >"$work/reply"
wait_for 20 talk || fail "the client did not reach the board (got: $(cat "$work/reply"))"
log "the client reached the board"

# SIGTERM: every worker stopped, exit code 0, within the stop limits.
kill -TERM "$manager_pid"
stopped() { ! kill -0 "$manager_pid" 2>/dev/null; }
wait_for 25 stopped || fail "still running 25 s after SIGTERM"
set +e
wait "$manager_pid"
rc=$?
set -e
manager_pid=
[ "$rc" -eq 0 ] || fail "exit code $rc after SIGTERM"
if pgrep -u vantrel -x vantrel >/dev/null; then
    fail "processes of vantrel are left: $(pgrep -a -u vantrel -x vantrel)"
fi
socat -u /dev/null "TCP:127.0.0.1:$port" 2>/dev/null && fail "port $port still accepts connections"
cmp -s "$work/conf/vantrel.ini" "$work/vantrel.ini.before" || fail "headless mode changed the configuration file"
log "SIGTERM ended the manager and its workers"

log "removing the package"
apt-get remove -y -q vantrel
[ ! -e /usr/bin/vantrel ] || fail "/usr/bin/vantrel is still there after remove"
apt-get purge -y -q vantrel
[ ! -e /lib/systemd/system/vantrel.service ] || fail "the unit is still there after purge"
log "1 passed, 0 failed"
