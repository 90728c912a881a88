#!/bin/sh
# The Debian package that `make package` built: its files (dpkg-deb -c),
# its control fields (dpkg-deb -f), and that what it installs is what the
# source tree holds. Skipped (77) until a package has been built, and while
# it is older than the sources it holds.
set -eu
src=$1
dir=$2
deb=$(ls "$dir"/vantrel_*.deb 2>/dev/null | head -n 1 || true)
if [ -z "$deb" ]; then
    echo "no package in $dir: run make package"
    exit 77
fi
# A package older than the files it holds is checked after the next
# make package, not now.
newer=$(find "$src/README.md" "$src/docs" "$src/packaging" "$src/resources/icons" -newer "$deb" -type f | head -n 1)
if [ -n "$newer" ]; then
    echo "$deb is older than $newer: run make package"
    exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$deb: $*"; exit 1; }

# Files, with their modes.
dpkg-deb -c "$deb" | awk '{ print $1, $NF }' >"$tmp/list"
has() {
    grep -qxF -- "$1 ./$2" "$tmp/list" || fail "no $2 with mode $1"
}
has -rwxr-xr-x usr/bin/vantrel
has -rw-r--r-- usr/lib/vantrel/vantrel-ui.so
has -rw-r--r-- usr/share/applications/vantrel.desktop
for size in 16 32 48 64 128 256; do
    has -rw-r--r-- "usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png"
done
has -rw-r--r-- usr/share/icons/hicolor/scalable/apps/vantrel.svg
has -rw-r--r-- usr/share/man/man1/vantrel.1.gz
has -rw-r--r-- lib/systemd/system/vantrel.service
has -rw-r--r-- usr/share/doc/vantrel/README.md
has -rw-r--r-- usr/share/doc/vantrel/vantrel.ini
# Nothing outside the places a package may use, nothing under /usr/local,
# no enabled unit.
if grep -Ev ' \./(usr/(bin|share|lib/vantrel)/|lib/systemd/system/)|/$' "$tmp/list"; then
    fail "files outside /usr/bin, /usr/lib/vantrel, /usr/share and /lib/systemd/system"
fi
grep -q 'usr/local' "$tmp/list" && fail "files under /usr/local"
grep -q 'etc/systemd' "$tmp/list" && fail "the unit is enabled by the package"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vantrel ] || fail "Package: $(field Package)"
[ "$(field Version)" = 1.0r5 ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' >"$tmp/depends"
for dep in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins adduser; do
    grep -qxF "$dep" "$tmp/depends" || fail "Depends lacks $dep: $depends"
done
# Only names of Debian packages: no file paths, no unresolved variables.
echo "$depends" | grep -Eq '[/$]' && fail "Depends is not a list of packages: $depends"
dpkg --compare-versions "$(field Version)" gt 1.0 || fail "1.0r5 does not sort after 1.0"
dpkg --compare-versions "$(field Version)" lt 1.0r10 || fail "1.0r5 does not sort before 1.0r10"

# Maintainer scripts: the system user, and the unit never enabled.
dpkg-deb -e "$deb" "$tmp/control"
for script in postinst prerm postrm; do
    [ -x "$tmp/control/$script" ] || fail "no executable $script"
    sh -n "$tmp/control/$script" || fail "$script does not parse"
done
grep -q 'adduser --system' "$tmp/control/postinst" || fail "postinst makes no system user"
grep -q 'dialout' "$tmp/control/postinst" || fail "postinst does not add the serial group"
grep -Eq 'systemctl( [a-z-]+)* enable' "$tmp/control/postinst" && fail "postinst enables the service"

# The files are the sources' own.
dpkg-deb -x "$deb" "$tmp/root"
cmp "$tmp/root/usr/share/applications/vantrel.desktop" "$src/packaging/vantrel.desktop" || fail "desktop entry differs"
cmp "$tmp/root/lib/systemd/system/vantrel.service" "$src/packaging/vantrel.service" || fail "unit differs"
gzip -dc "$tmp/root/usr/share/man/man1/vantrel.1.gz" | cmp - "$src/packaging/vantrel.1" || fail "manual page differs"
cmp "$tmp/root/usr/share/doc/vantrel/README.md" "$src/README.md" || fail "README differs"
cmp "$tmp/root/usr/share/doc/vantrel/vantrel.ini" "$src/packaging/vantrel.ini" || fail "example configuration differs"
for size in 16 256; do
    cmp "$tmp/root/usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png" "$src/resources/icons/vantrel-$size.png" \
        || fail "icon $size differs"
done
# The program itself runs from the package's copy: a worker with an
# empty TCP port ends at once (the report goes nowhere), with exit code 0.
timeout 20 "$tmp/root/usr/bin/vantrel" "no-such-event" "" COM1 19200 0 0 0 0 </dev/null \
    || fail "the packaged program did not run as a worker"
# Qt is the window library's, never the executable's: a worker maps none
# of it. The program finds the library at its installed place.
readelf -d "$tmp/root/usr/bin/vantrel" >"$tmp/program-needs" || fail "readelf cannot read the program"
grep -q 'NEEDED.*\[libc\.so' "$tmp/program-needs" || fail "no libraries read from the program"
grep -q 'NEEDED.*\[libQt' "$tmp/program-needs" && fail "the program needs Qt: $(grep libQt "$tmp/program-needs")"
readelf -d "$tmp/root/usr/lib/vantrel/vantrel-ui.so" | grep -q 'NEEDED.*\[libQt6Widgets' \
    || fail "the window library does not need Qt Widgets"
# The manager mode, with no display to open, loads the library before it
# finds that out (the dynamic loader's record of the files it opened).
mkdir "$tmp/home"
(
    ulimit -c 0
    env -u DISPLAY -u WAYLAND_DISPLAY HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/config" \
        VANTREL_CONFIG_DIR="$tmp/home/etc" QT_QPA_PLATFORM=xcb LD_DEBUG=files LD_DEBUG_OUTPUT="$tmp/home/loader" \
        timeout -s KILL 20 "$tmp/root/usr/bin/vantrel" </dev/null >"$tmp/manager.out" 2>&1 || true
)
cat "$tmp/home"/loader.* 2>/dev/null | grep -qF "file=$(cd "$tmp/root" && pwd -P)/usr/lib/vantrel/vantrel-ui.so" \
    || fail "the packaged manager did not load its window library: $(cat "$tmp/manager.out")"
grep -q 'ExecStart=/usr/bin/vantrel --headless$' "$tmp/root/lib/systemd/system/vantrel.service" \
    || fail "the unit does not run the headless manager"
# systemd's own check, where systemd is there, of the unit as installed
# (the program at its place in the unpacked tree; the manual page is not
# installed, so its link cannot be followed).
if command -v systemd-analyze >/dev/null 2>&1; then
    mkdir "$tmp/unit"
    sed "s|/usr/bin/vantrel|$tmp/root/usr/bin/vantrel|" "$tmp/root/lib/systemd/system/vantrel.service" \
        >"$tmp/unit/vantrel.service"
    systemd-analyze verify "$tmp/unit/vantrel.service" 2>"$tmp/verify" || true
    if grep -v "Command 'man vantrel(1)' failed" "$tmp/verify" | grep -q .; then
        cat "$tmp/verify"
        fail "systemd-analyze verify has remarks on the unit"
    fi
fi
echo "$(basename "$deb"): ok ($(wc -l <"$tmp/list") entries)"
