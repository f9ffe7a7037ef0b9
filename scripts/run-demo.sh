#!/usr/bin/env bash
# Builds the manager and runs it against the local demo catalog server on loopback.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SOLVANE_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
exec "$build/manager/app/SolvaneManager" "$@"
