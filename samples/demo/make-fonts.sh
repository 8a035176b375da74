#!/usr/bin/env bash
# Renders the demo's two fonts with quillfen-font (tools/font) from DejaVu Sans Bold
# (fonts-dejavu-core, which tools/install-deps.sh installs):
#   fonts/hud.fnt    18 pixels, printable ASCII: the HUD, hints and messages
#   fonts/title.fnt  64 pixels, space and A-Z only: "STAR CATCHER" and "GAME OVER"
# Each is a binary BMFont descriptor and one page of white glyphs on black (hud_0.png,
# title_0.png); the game tints them with setRenderColor.
# The files are committed, so the sample compiles and plays without FreeType; run this again only
# to change them: bash samples/demo/make-fonts.sh [path/to/quillfen-font]
# Without a path it builds quillfen-font into build-release first.
set -euo pipefail
demo=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$demo/../.." && pwd)

tool="${1:-}"
if [ -z "$tool" ]; then
  cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCH=OFF \
    >/dev/null
  cmake --build "$root/build-release" -j2 --target quillfen-font
  tool="$root/build-release/quillfen-font"
fi
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")

BOLD=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
mkdir -p "$demo/fonts"
cd "$demo/fonts"
"$tool" --font "$BOLD" --size 18 hud.fnt
"$tool" --font "$BOLD" --size 64 --chars 32,65-90 title.fnt
