#!/usr/bin/env bash
# Draws the demo's pictures with ImageMagick (tools/install-deps.sh installs it) and DejaVu fonts.
# The PNGs are committed; run this again only to change them: bash samples/demo/make-images.sh
# Transparent parts are the engine's colour key, #FF80FF. Everything is drawn on the sky colour
# #0B1026 first and that colour is keyed out afterwards, so edges blend toward the dark sky
# instead of toward the key.
set -euo pipefail
cd "$(dirname "$0")/images"

SKY='#0B1026'
KEY='#FF80FF'
FONTS=/usr/share/fonts/truetype/dejavu
BOLD=$FONTS/DejaVuSans-Bold.ttf
MONO=$FONTS/DejaVuSansMono-Bold.ttf

keyed() { convert "$@" -fill "$KEY" -opaque "$SKY" +set date:create +set date:modify -define png:exclude-chunks=date,time "PNG24:$out"; }

# text NAME POINTSIZE COLOUR TEXT
text() {
  out=$1
  keyed -background "$SKY" -fill "$3" -font "$BOLD" -pointsize "$2" label:"$4" -bordercolor "$SKY" -border 2
}

out=title.png
keyed -size 560x96 xc:"$SKY" -font "$BOLD" -pointsize 64 -gravity center \
  -fill '#4B2F9A' -annotate +5+5 'STAR CATCHER' -fill '#FFE07A' -annotate +0+0 'STAR CATCHER'

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

# Ten digits side by side, 14 x 22 pixels each: the HUD's score font.
tmp=$(mktemp -d)
for d in 0 1 2 3 4 5 6 7 8 9; do
  convert -size 14x22 xc:"$SKY" -font "$MONO" -pointsize 20 -fill '#FFE07A' -gravity center \
    -annotate +0+0 "$d" "PNG24:$tmp/d$d.png"
done
out=digits.png
keyed "$tmp"/d0.png "$tmp"/d1.png "$tmp"/d2.png "$tmp"/d3.png "$tmp"/d4.png "$tmp"/d5.png \
  "$tmp"/d6.png "$tmp"/d7.png "$tmp"/d8.png "$tmp"/d9.png +append +repage
rm -r "$tmp"

text start.png 22 '#FFFFFF' 'press ENTER or click to play'
text controls.png 14 '#9FB4FF' 'arrows: fly    click: zap rocks    S: save    L: load    H: hard    ESC: title'
text score.png 16 '#9FB4FF' 'SCORE'
text best.png 16 '#9FB4FF' 'BEST'
text hard.png 16 '#FF7A7A' 'HARD'
text saved.png 22 '#7CFFB0' 'GAME SAVED'
text loaded.png 22 '#7CFFB0' 'GAME LOADED'
text nosave.png 22 '#FF7A7A' 'NO SAVED GAME YET'
text gameover.png 48 '#FF6B6B' 'GAME OVER'
text again.png 20 '#FFFFFF' 'press ENTER to fly again'
