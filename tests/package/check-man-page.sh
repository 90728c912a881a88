#!/bin/sh
# The manual page renders without warnings, and names every environment
# variable that the program reads.
set -eu
src=$1
page=$src/packaging/vantrel.1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

groff -t -man -ww -z "$page" 2>"$tmp/groff"
if [ -s "$tmp/groff" ]; then
    echo "groff warnings:"; cat "$tmp/groff"; exit 1
fi
MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$tmp/text" 2>"$tmp/man"
if [ -s "$tmp/man" ]; then
    echo "man warnings:"; cat "$tmp/man"; exit 1
fi
for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'HEADLESS MODE' SIGNALS 'SERIAL PORT NAMES' FILES ENVIRONMENT 'EXIT STATUS'; do
    grep -qx "$section" "$tmp/text" || { echo "no section $section"; exit 1; }
done

# Every getenv("NAME") of the program's own sources.
vars=$(grep -rhoE 'getenv\("[A-Z_]+"\)' "$src/port/posix" "$src/manager" "$src/worker" "$src/ui/qt" "$src/tarn" \
       | sed -E 's/getenv\("([A-Z_]+)"\)/\1/' | sort -u)
[ -n "$vars" ] || { echo "no getenv found in the sources"; exit 1; }
sed -n '/^ENVIRONMENT$/,/^EXIT STATUS$/p' "$tmp/text" >"$tmp/environment"
for var in $vars; do
    grep -qw "$var" "$tmp/environment" || { echo "ENVIRONMENT does not name $var"; exit 1; }
done
echo "manual page: ok ($(echo $vars | wc -w) variables)"
