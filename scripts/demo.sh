#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo patch in build/demo,
# where it writes its sound files and the picture of its editor window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
mkdir -p build/demo
cd build/demo
exec ../bin/orvo ../../examples/demo.orvo
