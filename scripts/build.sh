#!/usr/bin/env bash
# Configures and builds the whole tree in ./build (or $SOLVANE_BUILD_DIR). Arguments go to the
# configure step; SOLVANE_BUILD_TARGET names the one target to build instead of everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SOLVANE_BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh"
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-Release} "$@"
cmake --build "$build" --parallel "$(nproc)" ${SOLVANE_BUILD_TARGET:+--target "$SOLVANE_BUILD_TARGET"}
