#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo patch.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
# The sound files the demo reads, made fresh each run (sox without dither: the same bytes every time).
mkdir -p build/demo
sox -D -n -r 44100 -c 2 -b 16 build/demo/tone.wav synth 1 sine 440 sine 660 gain -6
sox -D -n -r 22050 -c 1 -b 16 build/demo/sweep.aif synth 0.5 sine 200-2000 gain -3
exec build/bin/orvo --search build/demo examples/demo.orvo
