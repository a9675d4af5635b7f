#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo patch.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
exec build/bin/orvo examples/demo.orvo
