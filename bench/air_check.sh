#!/usr/bin/env bash
# What goes out over the air when "Play" transmits a file: N plays (default
# 5) each of a 2 s wav, the same as mp3, and a 1 s MIDI note, heard by the
# air check (tests/air) beside the program and gated with the stand-in's
# keying; median and worst of the lead (key to sound), the tail (sound to
# unkey; cut when negative), the sound lost after the unkey and the longest
# gap, beside their goals.
#
#   air_check.sh linux|windows BUILD_DIR [N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
platform=${1:?usage: air_check.sh linux|windows BUILD_DIR [N]}
build=${2:?usage: air_check.sh linux|windows BUILD_DIR [N]}
export PB_PLAYS=${3:-5}
for format in wav mp3 mid; do
  bash "$here/program_bench.sh" "$platform" "$build" air "$format"
done
