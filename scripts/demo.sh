#!/usr/bin/env bash
# The main job on the bundled examples: detection, information, the unchanged copy, conversions
# to a Standard MIDI File, i-melody, PMD, SMAF and feelsound files (read back), and a WAVE rendering.
set -uo pipefail
cd "$(dirname "$0")/.."
vlmconv="${1:-build/bin/vlmconv}"
out=build/demo
rm -rf "$out"
mkdir -p "$out"
status=0

step() {
  echo "\$ vlmconv $*"
  if ! "$vlmconv" "$@"; then
    echo "   (failed)"
    status=1
  fi
}

for song in examples/*.mid examples/*.vlm examples/*.mml; do
  [ -e "$song" ] || continue
  name=$(basename "$song")
  base="${name%.*}-${name##*.}"
  echo "== $name =="
  step detect "$song"
  step info "$song"
  step convert "$song" --to -3 -o "$out/copy-$name"
  cmp -s "$song" "$out/copy-$name" && echo "   copy is identical"
  step convert "$song" --to mid -o "$out/$base.mid"
  step info "$out/$base.mid"
  step convert "$song" --to mld-fm16n -o "$out/$base.mld"
  step info "$out/$base.mld"
  step convert "$song" --to pmd16 -o "$out/$base.pmd"
  step info "$out/$base.pmd"
  step convert "$song" --to mmf16j -o "$out/$base.mmf"
  step info "$out/$base.mmf"
  step convert "$song" --to mmf40 -o "$out/$base-40.mmf"
  step convert "$song" --to dxm12 -o "$out/$base.dxm"
  step info "$out/$base.dxm"
  step render "$song" -o "$out/$base.wav"
  if [ -s "$out/$base.wav" ]; then
    bytes=$(stat -c %s "$out/$base.wav")
    echo "   $out/$base.wav: $bytes bytes, $(( (bytes - 44) / 176400 )) s of 44.1 kHz stereo"
  fi
done
echo "Outputs are in $out/"
exit $status
