#!/bin/sh
# Renders the image sources (images/*.svg) to the PNGs the program compiles in
# (images/UPS/*.png). Run it after changing an SVG and commit both; the build
# itself needs no SVG renderer.
set -eu
cd "$(dirname "$0")/images"
size=64
for svg in *.svg; do
    rsvg-convert --width "$size" --height "$size" --format png \
        --output "UPS/${svg%.svg}.png" "$svg"
done
