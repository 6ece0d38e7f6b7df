#!/usr/bin/env bash
# Renders the 32 px PNG of the window icon from the SVG (ImageMagick).
set -euo pipefail
cd "$(dirname "$0")"
convert -background none -density 96 q70uty.svg -resize 32x32 -strip PNG32:q70uty-32.png
convert q70uty-32.png q70uty.ico  # the Windows window and installer
