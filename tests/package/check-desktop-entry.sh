#!/bin/sh
# The desktop entry passes desktop-file-validate without a single remark.
set -eu
src=$1
entry=$src/packaging/vantrel.desktop
out=$(desktop-file-validate "$entry" 2>&1) || { echo "$out"; exit 1; }
if [ -n "$out" ]; then
    echo "desktop-file-validate has remarks:"
    echo "$out"
    exit 1
fi
# What a menu needs to show and start it.
for line in 'Type=Application' 'Exec=vantrel' 'Icon=vantrel' 'Terminal=false'; do
    grep -qx "$line" "$entry" || { echo "missing: $line"; exit 1; }
done
grep -Eq '^Categories=(.*;)?(Development|System);' "$entry" || { echo "not among system or development tools"; exit 1; }
echo "desktop entry: ok"
