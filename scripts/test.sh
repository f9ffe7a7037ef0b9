#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (CTest); then runs the tests
# again under the sanitizers (scripts/test-sanitizers.sh) and the fuzz step. Every part runs;
# the command fails when any part failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SOLVANE_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
status=0
(cd "$build" && ctest --output-on-failure --parallel "$(nproc)" --timeout 300) || status=1
bash "$root/scripts/test-sanitizers.sh" || status=1
# Every reader of outside bytes under libFuzzer: the committed corpus, then a short fresh run.
bash "$root/scripts/fuzz.sh" || status=1
exit $status
