#!/bin/sh
# Takes docs/manager-linux.png and docs/help-linux.png from a real X server:
# Xvfb with IceWM for the window frames, three services (one running on a
# pseudo-terminal board with a client connected, one whose TCP port is
# taken, one stopped).
# IceWM is told to offer close, maximise and minimise buttons and draws
# those that a window's hints allow; the script also checks the main
# window's own hints, which must not ask for maximising.
# Needs xvfb, icewm, xdotool, x11-utils and imagemagick; not part of the
# build. Usage: scripts/screenshots-linux.sh [path of vantrel]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$top/build/vantrel}
work=$(mktemp -d)
display=:87
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/etc" "$work/dev" "$work/home" "$work/xdg"
Xvfb $display -screen 0 1600x800x24 -nolisten tcp >/dev/null 2>&1 & pids="$pids $!"
export DISPLAY=$display
for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
mkdir -p "$work/icewm"
printf 'ShowTaskBar=0\n' > "$work/icewm/preferences"
printf 'TitleButtonsLeft="s"\nTitleButtonsRight="xmi"\n' > "$work/icewm/prefoverride"
ICEWM_PRIVCFG="$work/icewm" icewm >/dev/null 2>&1 & pids="$pids $!"

# Two boards on pseudo-terminals and a program that holds the TCP port of
# the second service, so that its worker reports the port in use.
python3 - "$work" <<'EOF' & pids="$pids $!"
import os, pty, socket, sys, time
work = sys.argv[1]
held = []
for name in ("COM5", "COM7"):
    master, slave = pty.openpty()
    held += [master, slave]
    os.symlink(os.ttyname(slave), os.path.join(work, "dev", name))
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 24002))
s.listen(1)
open(os.path.join(work, "ready"), "w").close()
# A client of the first service, once its worker listens: the Client
# column shows it.
deadline = time.monotonic() + 30
while time.monotonic() < deadline:
    try:
        held.append(socket.create_connection(("127.0.0.1", 24001), timeout=1))
        break
    except OSError:
        time.sleep(0.1)
time.sleep(120)
EOF
for i in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.1; done

cat > "$work/etc/vantrel.ini" <<'EOF'
[General]
autostart = 1
services   = 3
xpos      = 60
ypos      = 60
width     = 0
heigth    = 0
columns   = 10
column0   = 90
column1   = 240
column2   = 75
column3   = 75
column4   = 70
column5   = 75
column6   = 50
column7   = 60
column8   = 45
column9   = 45
column10  = 70
column11  = 150
column12  = 75
column13  = 75
column14  = 110

[Service1]
name      = Eval board A
tcpip     = 24001
comport   = COM5
baudrate  = 115200
handshake = None
parity    = None
stopbits  = 1
dtro      = Yes
dtrc      = No
active    = 1

[Service2]
name      = Eval board B
tcpip     = 24002
comport   = COM7
baudrate  = 38400
handshake = RTS/CTS
parity    = Even
stopbits  = 1
dtro      = No
dtrc      = No
busy      = Refuse
active    = 1

[Service3]
name      = Spare
tcpip     = telnet
comport   = COM7
baudrate  = 9600
handshake = Xon/Xoff
parity    = None
stopbits  = 2
dtro      = No
dtrc      = Yes
protocol  = RFC 2217
listen    = 127.0.0.1
allow     = 192.168.1.0/24
active    = 0
EOF

env VANTREL_CONFIG_DIR="$work/etc" VANTREL_DEVICE_DIR="$work/dev" XDG_CONFIG_HOME="$work/home" \
    VANTREL_AUTOSTART_DIR="$work/xdg/autostart" "$exe" >/dev/null 2>&1 & pids="$pids $!"
manager=$!
title="BRAMBLE Vantrel Server"
for i in $(seq 100); do xdotool search --name "^$title\$" >/dev/null 2>&1 && break; sleep 0.1; done
window=$(xdotool search --name "^$title\$" | head -1)
# Motif hints: flags, functions, decorations. Maximise is 0x10 among the
# functions and 0x40 among the decorations.
hints=$(xprop -id "$window" _MOTIF_WM_HINTS | sed 's/.*= //')
functions=$(echo "$hints" | cut -d, -f2); decorations=$(echo "$hints" | cut -d, -f3)
if [ $((functions & 0x10)) -ne 0 ] || [ $((decorations & 0x40)) -ne 0 ]; then
    echo "the main window asks for a maximise button: $hints" >&2
    exit 1
fi
xdotool windowsize "$window" 1440 250
sleep 2 # the second worker's report arrives
# Select the running service with a click on its Status cell.
xdotool windowactivate --sync "$window"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" 200 52 click 1
sleep 0.5
import -frame -window "$title" "$top/docs/manager-linux.png"

# Help: the button at the bottom right.
helpx=$((WIDTH - 45)); helpy=$((HEIGHT - 22))
xdotool mousemove --window "$window" $helpx $helpy click 1
for i in $(seq 50); do xdotool search --name "^Vantrel Server Help\$" >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1
import -frame -window "Vantrel Server Help" "$top/docs/help-linux.png"
kill -TERM "$manager"
wait "$manager" 2>/dev/null || true
echo "docs/manager-linux.png and docs/help-linux.png written"
