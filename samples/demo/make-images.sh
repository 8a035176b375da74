#!/usr/bin/env bash
# Draws the demo's pictures with ImageMagick (tools/install-deps.sh installs it). Its text is not
# pictures: it is drawn with the fonts make-fonts.sh renders.
# The PNGs are committed; run this again only to change them: bash samples/demo/make-images.sh
# Transparent parts are the engine's colour key, #FF80FF. Everything is drawn on the sky colour
# #0B1026 first and that colour is keyed out afterwards, so edges blend toward the dark sky
# instead of toward the key.
set -euo pipefail
cd "$(dirname "$0")/images"

SKY='#0B1026'
KEY='#FF80FF'
keyed() { convert "$@" -fill "$KEY" -opaque "$SKY" +set date:create +set date:modify -define png:exclude-chunks=date,time "PNG24:$out"; }

out=ship.png
keyed -size 32x32 xc:"$SKY" \
  -fill '#FF9A3C' -draw 'polygon 11,25 16,31 21,25' \
  -fill '#5A8FD0' -draw 'polygon 16,1 30,28 16,22 2,28' \
  -fill '#DDEEFF' -draw 'polygon 16,5 26,25 16,19 6,25' \
  -fill '#39C0FF' -draw 'ellipse 16,14 3,5 0,360'

out=gem.png
keyed -size 16x16 xc:"$SKY" \
  -fill '#1FA874' -draw 'polygon 8,0 15,6 8,15 0,6' \
  -fill '#3FE0A0' -draw 'polygon 8,2 13,6 8,13 2,6' \
  -fill '#C8FFE8' -draw 'polygon 8,2 11,6 5,6'

out=gold.png
keyed -size 16x16 xc:"$SKY" \
  -fill '#B8860B' -draw 'polygon 8,0 15,6 8,15 0,6' \
  -fill '#FFC83D' -draw 'polygon 8,2 13,6 8,13 2,6' \
  -fill '#FFF4C0' -draw 'polygon 8,2 11,6 5,6'

out=rock.png
keyed -size 24x24 xc:"$SKY" \
  -fill '#5E5848' -draw 'polygon 12,0 20,2 23,10 22,19 13,23 4,21 0,13 3,4' \
  -fill '#8A8470' -draw 'polygon 12,2 19,4 21,10 20,18 13,21 5,19 2,13 5,5' \
  -fill '#5E5848' -draw 'ellipse 9,9 3,2 0,360' -draw 'ellipse 15,15 2,2 0,360' \
  -fill '#B5AE96' -draw 'ellipse 14,6 2,1 0,360'
