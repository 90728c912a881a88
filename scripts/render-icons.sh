#!/bin/sh
# Renders resources/icons/vantrel.svg to the PNG sizes the windows use and
# packs 16, 32 and 48 pixels into vantrel.ico for the Windows build.
# Needs rsvg-convert (librsvg2-bin), or falls back to ImageMagick alone.
set -e
cd "$(dirname "$0")/../resources/icons"
if [ -x /usr/bin/convert ]; then im=/usr/bin/convert; else im=convert; fi
for size in 16 32 48 64 128 256; do
  if command -v rsvg-convert >/dev/null 2>&1; then
    rsvg-convert -w "$size" -h "$size" vantrel.svg -o "vantrel-$size.png"
  else
    "$im" -background none -density 384 vantrel.svg -resize "${size}x$size" "vantrel-$size.png"
  fi
done
"$im" vantrel-16.png vantrel-32.png vantrel-48.png vantrel.ico
