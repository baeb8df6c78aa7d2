#!/usr/bin/env bash
# Renders the hicolor PNGs from velmora.svg. The PNGs are committed so that
# building needs no SVG converter; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing: apt-get install librsvg2-bin" >&2; exit 1; }
for n in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${n}x${n}/apps"
    rsvg-convert -w "$n" -h "$n" velmora.svg -o "hicolor/${n}x${n}/apps/velmora.png"
done
