#!/usr/bin/env bash
# Makes the demo's sound effects (WAV) and music (Ogg Vorbis) with sox and oggenc
# (tools/install-deps.sh installs both). The files in audio/ are committed; run this again only
# to change them: bash samples/demo/make-sounds.sh
# The title's music keeps between 500 and 900 Hz, above the runner's footsteps (make-character.sh)
# and below the effects; the play room's bass below 200 Hz; the effects above 1.3 kHz, or noise.
# So the sample's end-to-end test can tell them apart in what the engine plays.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p audio
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# note FILE SECONDS FREQUENCY [VOLUME]: one soft-edged sine note, 22050 Hz mono.
note() { sox -R -n -r 22050 -c 1 -b 16 "$work/$1" synth "$2" sine "$3" fade q 0.01 "$2" 0.04 vol "${4:-0.5}"; }

# tune NAME SECONDS NOTE...: the notes one after another, each SECONDS long, as audio/NAME.ogg.
# oggenc is given a fixed serial number so that making the files again gives the same bytes.
tune() {
  local name=$1 length=$2 parts=() i=0
  shift 2
  for frequency in "$@"; do
    note "$name-$i.wav" "$length" "$frequency"
    parts+=("$work/$name-$i.wav")
    i=$((i + 1))
  done
  sox -R "${parts[@]}" "$work/$name.wav"
  oggenc -Q -q 0 -s 7 -o "audio/$name.ogg" "$work/$name.wav"
}

# Title: an intro played once, then a loop that repeats (LOOP_FINAL).
tune title-intro 0.25 C5 E5 G5 C5 E5 G5 A5 G5
tune title-loop 0.5 C5 G5 A5 E5 F5 C5 F5 G5
# Play room: two bass lines taking turns (LOOP_ALL).
tune play-a 0.25 A2 A2 C3 A2 D3 A2 E3 G2 A2 A2 C3 A2 E3 D3 C3 G2
tune play-b 0.25 F2 F2 A2 F2 G2 G2 B2 G2 A2 A2 C3 A2 E3 E3 D3 E2

# Effects, 22050 Hz mono 16-bit WAV: a rising chime for the start, a two-note chime for a pick-up,
# a burst of noise for a crash.
wav=(-r 22050 -c 1 -b 16)
sox -R -n "${wav[@]}" audio/start.wav synth 0.25 sine 1319-2637 fade q 0.005 0.25 0.15 vol 0.7
note pickup-1.wav 0.07 1568 0.8
note pickup-2.wav 0.14 2093 0.8
sox -R "$work/pickup-1.wav" "$work/pickup-2.wav" "${wav[@]}" audio/pickup.wav
sox -R -n "${wav[@]}" audio/crash.wav synth 0.3 pinknoise lowpass 3000 fade q 0.002 0.3 0.28 vol 0.9
