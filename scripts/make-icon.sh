#!/usr/bin/env bash
# Draws the program's icon (a lattice mast with a red lamp sending waves,
# the same picture as the Linux window's) into a Windows .ico with the
# sizes 16, 24, 32, 48 and 256. Run by the Windows build:
#   make-icon.sh CONVERT OUT.ico      (CONVERT: ImageMagick's convert)
set -euo pipefail
convert=${1:?usage: make-icon.sh CONVERT OUT.ico}
out=${2:?usage: make-icon.sh CONVERT OUT.ico}

# Drawn once at 256 x 256 (8 units per point of the 32-point design) and
# scaled down for the smaller sizes.
"$convert" -size 256x256 xc:none \
  -fill none -stroke '#3c3c46' -strokewidth 18 -draw 'stroke-linecap round' \
  -draw 'line 128,84 78,244' -draw 'line 128,84 178,244' \
  -draw 'line 104,168 152,168' -draw 'line 92,208 164,208' \
  -stroke '#1e6ec8' -strokewidth 16 \
  -draw "path 'M 171,46 A 52,52 0 0,1 171,106 M 85,46 A 52,52 0 0,0 85,106'" \
  -draw "path 'M 207,21 A 96,96 0 0,1 207,131 M 49,21 A 96,96 0 0,0 49,131'" \
  -stroke none -fill '#dc281e' -draw 'circle 128,76 128,98' \
  -define icon:auto-resize=256,48,32,24,16 "$out"
