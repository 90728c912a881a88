#!/bin/sh
# The Windows archive that `make package` built: vantrel.exe and the
# read-me, whose lines end in CR LF. Skipped (77) until it has been built.
set -eu
zip=$1/vantrel-1.0r5-win64.zip
if [ ! -f "$zip" ]; then
    echo "no $zip: run make package"
    exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$zip: $*"; exit 1; }
unzip -Z1 "$zip" | sort >"$tmp/list"
printf '%s\n' README.txt vantrel.exe >"$tmp/expected"
diff "$tmp/expected" "$tmp/list" || fail "wrong contents"
unzip -q -d "$tmp/x" "$zip"
[ "$(head -c 2 "$tmp/x/vantrel.exe")" = MZ ] || fail "vantrel.exe is no Windows program"
lines=$(wc -l <"$tmp/x/README.txt")
crlf=$(grep -c "$(printf '\r')\$" "$tmp/x/README.txt" || true)
[ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "README.txt lines do not all end in CR LF ($crlf of $lines)"
grep -q '1\.0r5' "$tmp/x/README.txt" || fail "README.txt does not name the version"
echo "$(basename "$zip"): ok"
