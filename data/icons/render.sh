#!/bin/sh
# Regenerates the hicolor PNGs from corvatel.svg. The PNGs are kept in the source tree, so a build
# needs no SVG renderer; run this after changing the drawing (needs rsvg-convert, librsvg2-bin).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
command -v rsvg-convert >/dev/null 2>&1 || {
    echo "render.sh: rsvg-convert not found (install librsvg2-bin)" >&2
    exit 1
}
for n in 16 22 24 32 48 64 128 256; do
    out="$here/hicolor/${n}x${n}/apps/corvatel.png"
    mkdir -p "$(dirname "$out")"
    rsvg-convert --width "$n" --height "$n" --keep-aspect-ratio --format png \
        --output "$out" "$here/corvatel.svg"
    echo "$out"
done
