#!/usr/bin/env bash
# Makes the title screen's runner, a skeletal model, by importing a skeleton exported the way 2D
# animation editors export them (docs/skeleton-import.md):
#   runner.json        the skeleton: bones, slots, attachments, the "idle" and "run" animations
#                      and the "step" event (written by hand, in the editor's 3.8 JSON layout)
#   runner.atlas       where each part's picture lies on the atlas page (written by hand)
#   runner-page.png    the atlas page, drawn here with ImageMagick
# and `quillfen-pack import-skeleton runner.json runner.atlas .`, which writes
#   images/runner.png            the page, transparency as the engine's colour key
#   scraps/runner-*.scrap        one scrap per part (the head has a second, with the visor's glint)
#   models/runner.model          a root, the thirteen skeleton bones, a bone per slot carrying its picture
#   anims/runner-idle.anim       breathing, the arms swaying, the helmet's glow fading in and out
#   anims/runner-run.anim        the run cycle, with a "step" marker at each foot's landing
# and also makes audio/step.wav (sox), the footstep the runner plays at each "step" marker.
# Everything it writes is committed; run it again only to change the runner:
#   bash samples/demo/make-character.sh [path/to/quillfen-pack]
# (without a path it builds quillfen-pack into build-release).
#
# A part's picture lies along its bone: x runs from the joint outward, y across it (y up = the
# bone's left). The runner faces right, so on the torso and head, which point up, the front is
# the picture's bottom rows.
set -euo pipefail
cd "$(dirname "$0")"
pack=${1:-}
if [ -z "$pack" ]; then
  (cd ../.. && cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCH=OFF >/dev/null &&
    cmake --build build-release -j2 --target quillfen-pack >/dev/null)
  pack=../../build-release/quillfen-pack
fi
mkdir -p images scraps models anims audio

SUIT='#DCE3F0' ARM='#B4C0D8' SHADE='#8E9AB2' STRIPE='#E04A6A' VISOR='#52D1FF' GLINT='#E8FBFF' BOOT='#4A5068' BACKBOOT='#343A4E'

# part X Y W H: the part whose W x H picture lies at (X, Y) of the page, as runner.atlas says
# (from the page's top-left). fill X1 Y1 X2 Y2 COLOUR: ImageMagick arguments filling that
# rectangle of the part's picture, given from the picture's bottom-left like the bones see it.
part() { px=$1 py=$2 pw=$3 ph=$4; }
fill() { echo "-fill '$5' -draw 'rectangle $((px + $1)),$((py + ph - $4)) $((px + $3 - 1)),$((py + ph - $2 - 1))'"; }

draw=()
part 0 0 16 12;  draw+=("$(fill 0 0 16 12 "$SUIT")" "$(fill 3 0 5 12 "$STRIPE")")       # torso, the belt across it
part 18 0 12 12; draw+=("$(fill 0 0 12 12 "$SUIT")" "$(fill 5 1 11 6 "$VISOR")")        # head, the visor in front
part 32 0 12 12; draw+=("$(fill 0 0 12 12 "$SUIT")" "$(fill 5 1 11 6 "$VISOR")" "$(fill 7 3 9 5 "$GLINT")")
part 0 14 10 5;  draw+=("$(fill 0 0 10 5 "$SUIT")")                                    # front leg
part 12 14 10 5; draw+=("$(fill 0 0 10 5 "$SUIT")")
part 24 14 7 4;  draw+=("$(fill 0 0 7 4 "$BOOT")")
part 33 14 10 5; draw+=("$(fill 0 0 10 5 "$SHADE")")                                   # back leg, in the shade
part 45 14 10 5; draw+=("$(fill 0 0 10 5 "$SHADE")")
part 57 14 7 4;  draw+=("$(fill 0 0 7 4 "$BACKBOOT")")
part 0 21 9 4;   draw+=("$(fill 0 0 9 4 "$ARM")")                                      # arms: front, back
part 11 21 8 4;  draw+=("$(fill 0 0 8 4 "$ARM")" "$(fill 6 0 8 4 "$STRIPE")")
part 21 21 9 4;  draw+=("$(fill 0 0 9 4 "$SHADE")")
part 32 21 8 4;  draw+=("$(fill 0 0 8 4 "$SHADE")")
eval "convert -size 64x64 xc:none ${draw[*]} +set date:create +set date:modify \
  -define png:exclude-chunks=date,time PNG32:runner-page.png"

"$pack" import-skeleton runner.json runner.atlas .

# The footstep: 70 ms of low-passed brown noise, quick to rise and dying away (sox's repeatable
# mode fixes the noise, so the file only changes when this line does).
sox -R -n -r 22050 -c 1 -b 16 audio/step.wav synth 0.07 brownnoise vol 0.5 fade 0.004 0.07 0.06 lowpass 700
