#!/usr/bin/env bash
# Makes the title screen's runner, a skeletal model, as project sources (docs/projects.md):
#   images/runner.png            the pictures of its parts, drawn with ImageMagick
#   scraps/runner-*.scrap        one scrap per part, a rectangle of runner.png (the head a flip-book)
#   models/runner.model          twelve bones: torso, head, and two arms and two legs, back and front
#   anims/runner-idle.anim       breathing, the arms swaying, the helmet's glow fading in and out
#   anims/runner-run.anim        the run cycle, with a "step" marker at each foot's landing
#   audio/step.wav               the footstep the runner plays at each "step" marker (sox)
# Everything it writes is committed; run it again only to change the runner:
#   bash samples/demo/make-character.sh
#
# A part's picture lies along its bone: x runs from the joint outward, y across it (y up = the
# bone's left). The runner faces right, so on the torso and head, which point up, the front is
# the picture's bottom rows. Picture rectangles count from the image's bottom-left corner, as the
# engine reads them; transparent parts are the colour key #FF80FF.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p images scraps models anims audio

SUIT='#DCE3F0' ARM='#B4C0D8' SHADE='#8E9AB2' STRIPE='#E04A6A' VISOR='#52D1FF' GLINT='#E8FBFF' BOOT='#4A5068' BACKBOOT='#343A4E'

# rect X1 Y1 X2 Y2 COLOUR: ImageMagick arguments filling that rectangle of the 64 x 64 picture,
# given from the bottom-left as the engine counts (ImageMagick counts rows from the top).
rect() { echo "-fill '$5' -draw 'rectangle $1,$((64 - $4)) $(($3 - 1)),$((63 - $2))'"; }

parts=(
  # torso 16 long, 12 wide, a stripe across it at the belt
  "$(rect 0 0 16 12 "$SUIT")" "$(rect 3 0 5 12 "$STRIPE")"
  # head, two frames: the visor on the front half; the second frame with a glint on it
  "$(rect 16 0 28 12 "$SUIT")" "$(rect 21 1 27 6 "$VISOR")"
  "$(rect 28 0 40 12 "$SUIT")" "$(rect 33 1 39 6 "$VISOR")" "$(rect 35 3 37 5 "$GLINT")"
  # front leg: thigh, shin, boot; back leg the same in the shadow colours
  "$(rect 0 16 10 21 "$SUIT")" "$(rect 10 16 20 21 "$SUIT")" "$(rect 20 16 27 20 "$BOOT")"
  "$(rect 0 24 10 29 "$SHADE")" "$(rect 10 24 20 29 "$SHADE")" "$(rect 20 24 27 28 "$BACKBOOT")"
  # arms: upper arm and forearm, front then back
  "$(rect 0 32 9 36 "$ARM")" "$(rect 10 32 18 36 "$ARM")" "$(rect 16 32 18 36 "$STRIPE")"
  "$(rect 0 40 9 44 "$SHADE")" "$(rect 10 40 18 44 "$SHADE")"
)
eval "convert -size 64x64 xc:'#FF80FF' ${parts[*]} +set date:create +set date:modify \
  -define png:exclude-chunks=date,time PNG24:images/runner.png"

# scrap NAME X1 Y1 X2 Y2 OFFSET-ACROSS: one frame of runner.png drawn from the joint along the bone
scrap() {
  cat >"scraps/runner-$1.scrap" <<EOF
# made by make-character.sh
[frame]
image = runner.png
rect = $2 $3 $4 $5
offset = 0 $6
EOF
}
scrap torso 0 0 16 12 -6
scrap thigh 0 16 10 21 -2
scrap shin 10 16 20 21 -2
scrap boot 20 16 27 20 -2
scrap thigh-back 0 24 10 29 -2
scrap shin-back 10 24 20 29 -2
scrap boot-back 20 24 27 28 -2
scrap arm 0 32 9 36 -2
scrap forearm 10 32 18 36 -2
scrap arm-back 0 40 9 44 -2
scrap forearm-back 10 40 18 44 -2
cat >scraps/runner-head.scrap <<EOF
# made by make-character.sh: the visor glints for 8 steps of every 98
[frame]
image = runner.png
rect = 16 0 28 12
offset = -1 -6
duration = 90

[frame]
image = runner.png
rect = 28 0 40 12
offset = -1 -6
duration = 8
EOF

# Bones in drawing order: the back limbs behind the torso, the front ones before it. The feet
# stand at y 0, the hip is the torso's anchor at (0, 20).
bone() {  # NAME SCRAP X Y ANGLE [joint lines...]
  local name=$1 scrap=$2 x=$3 y=$4 angle=$5
  shift 5
  printf '[bone]\nname = %s\nscrap = runner-%s\nposition = %s %s\nangle = %s\n' "$name" "$scrap" "$x" "$y" "$angle"
  for joint in "$@"; do printf 'joint = %s\n' "$joint"; done
  echo
}
{
  echo "# made by make-character.sh"
  bone armB arm-back 0 32 270 "0 23 foreB"
  bone foreB forearm-back 0 23 270
  bone thighB thigh-back 0 20 270 "0 10 shinB"
  bone shinB shin-back 0 10 270 "0 0 bootB"
  bone bootB boot-back -2 0 0
  bone torso torso 0 20 90 "0 35 head" "0 32 armB" "0 32 armF" "0 20 thighB" "0 20 thighF"
  bone head head 0 35 90
  bone thighF thigh 0 20 270 "0 10 shinF"
  bone shinF shin 0 10 270 "0 0 bootF"
  bone bootF boot -2 0 0
  bone armF arm 0 32 270 "0 23 foreF"
  bone foreF forearm 0 23 270
} >models/runner.model

# curve SECTION BONE TIME END FROM TO: one curve event (flat at both ends)
curve() { printf '[%s]\nbone = %s\ntime = %s\nend = %s\nfrom = %s\nto = %s\n\n' "$@"; }

# Idle, 2 s at 60 steps a second: the torso rises a pixel and sinks, the arms sway a little
# against each other, the helmet glows cyan and back. Limbs hang at their rest angles: a
# non-root bone's rotation is its angle from its parent, 180 for a limb hanging from the torso.
# A root moved by a translation track is drawn at its rotation value, so the torso's is set too.
{
  echo "# made by make-character.sh"
  printf '[animation]\nmodel = runner\nlength = 120\n\n'
  curve rotation torso 0 120 90 90
  curve y-translation torso 0 60 20 21
  curve rotation armF 0 60 180 174
  curve rotation armB 0 60 180 186
  printf '[color]\nbone = head\ntime = 0\nend = 60\nred = 1 0.8\ngreen = 1 0.95\nblue = 1 1\n\n'
  curve y-translation torso 60 120 21 20
  curve rotation armF 60 120 174 180
  curve rotation armB 60 120 186 180
  printf '[color]\nbone = head\ntime = 60\nend = 120\nred = 0.8 1\ngreen = 0.95 1\nblue = 1 1\n\n'
} >anims/runner-idle.anim

# The run, 24 steps a cycle (two strides): the torso leans into it and bobs once a stride, the
# legs swing 35 degrees each way with the knee folding while a leg comes forward, the arms swing
# against the legs with bent elbows. A foot lands when its thigh is furthest forward: the front
# one at 0, the back one at 12, each marked "step" at that foot.
{
  echo "# made by make-character.sh"
  printf '[animation]\nmodel = runner\nlength = 24\n\n[texts]\nstep\n\n[markers]\n0 6 0 step\n12 6 0 step\n\n'
  curve rotation torso 0 24 80 80
  curve rotation head 0 24 8 8
  curve rotation foreF 0 24 60 60
  curve rotation foreB 0 24 60 60
  curve y-translation torso 0 6 20 22
  curve rotation thighF 0 12 215 145
  curve rotation thighB 0 12 145 215
  curve rotation shinF 0 12 -10 -10
  curve rotation shinB 0 6 -10 -80
  curve rotation armF 0 12 150 210
  curve rotation armB 0 12 210 150
  curve y-translation torso 6 12 22 20
  curve rotation shinB 6 12 -80 -10
  curve y-translation torso 12 18 20 22
  curve rotation thighF 12 24 145 215
  curve rotation thighB 12 24 215 145
  curve rotation shinF 12 18 -10 -80
  curve rotation shinB 12 24 -10 -10
  curve rotation armF 12 24 210 150
  curve rotation armB 12 24 150 210
  curve y-translation torso 18 24 22 20
  curve rotation shinF 18 24 -80 -10
} >anims/runner-run.anim

# The footstep: 70 ms of low-passed brown noise, quick to rise and dying away (sox's repeatable
# mode fixes the noise, so the file only changes when this line does).
sox -R -n -r 22050 -c 1 -b 16 audio/step.wav synth 0.07 brownnoise vol 0.5 fade 0.004 0.07 0.06 lowpass 700
