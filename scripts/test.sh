#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SOLVANE_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 300
# Every reader of outside bytes under libFuzzer: the committed corpus, then a short fresh run.
bash "$root/scripts/fuzz.sh"
