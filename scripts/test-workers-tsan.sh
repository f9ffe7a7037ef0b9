#!/usr/bin/env bash
# Builds the worker threads and their tests under ThreadSanitizer in a build of their own and
# runs them. Usage: test-workers-tsan.sh [build dir]   (default: ./build-tsan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-tsan}
mkdir -p "$build"
# Only the threads and workers are built, so the Qt parts are left out of the configure.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOLVANE_TSAN=ON \
  -DSOLVANE_WITH_GUI=OFF >"$build/configure.log"
cmake --build "$build" --target sys_threads_tests facesdk_workers_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
"$build/sys/threads/sys_threads_tests"
"$build/facesdk/workers/facesdk_workers_tests" --gtest_repeat=20
