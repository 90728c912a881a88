#!/bin/sh
# Takes docs/manager-windows.png and docs/help-windows.png: runs the posing
# test under Wine in a virtual desktop on a private X server, and captures
# each window with ImageMagick's import while the test waits.
#   scripts/screenshots-windows.sh <build folder of the MinGW build>
# Needs wine, fonts-wine (the caption buttons and Tahoma), xvfb and
# imagemagick; not part of the build.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
exe="$build/tests/ui_win32/ui_win32_tests.exe"
[ -f "$exe" ] || { echo "no $exe: build ui_win32_tests first" >&2; exit 1; }

export WINEPREFIX="${TMPDIR:-/tmp}/vantrel-wine-shots-$(id -u)"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
shots=$(mktemp -d)
export VANTREL_SHOTS_DIR="Z:$(echo "$shots" | tr / '\\')"
export WINEPATH=""

# A prefix that looks like a Windows desktop: Wine's own fonts (Marlett
# draws the caption buttons, Tahoma the captions) and Arial as Liberation Sans.
if [ ! -f "$WINEPREFIX/.fonts-done" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  for dir in /usr/share/wine/fonts /usr/lib/wine/fonts; do
    for font in marlett.ttf tahoma.ttf tahomabd.ttf; do
      [ -f "$dir/$font" ] && cp -n "$dir/$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    done
  done
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d 'Liberation Sans' /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.fonts-done"
fi

cat > "$shots/take.sh" <<'INNER'
#!/bin/sh
# Inside the X session: start the posing test, answer each pose.
set -u
wine explorer /desktop=vantrel,1400x720 "$1" --gtest_also_run_disabled_tests \
    --gtest_filter=Screenshots.* >"$2/run.log" 2>&1 &
wine=$!
for name in manager help; do
  i=0
  while [ ! -f "$2/$name.ready" ] && [ $i -lt 600 ]; do sleep 0.2; i=$((i + 1)); done
  [ -f "$2/$name.ready" ] || { echo "no $name pose" >&2; break; }
  sleep 1   # let the window finish painting
  geometry=$(tr -d '\r\n' < "$2/$name.ready")
  import -window root -crop "$geometry" +repage "$2/$name.png"
  touch "$2/$name.done"
done
wait $wine
wineserver -w
INNER
chmod +x "$shots/take.sh"
xvfb-run -a -s "-screen 0 1400x720x24" "$shots/take.sh" "$exe" "$shots"
cat "$shots/run.log"
cp "$shots/manager.png" "$top/docs/manager-windows.png"
cp "$shots/help.png" "$top/docs/help-windows.png"
rm -rf "$shots"
echo "docs/manager-windows.png and docs/help-windows.png written"
