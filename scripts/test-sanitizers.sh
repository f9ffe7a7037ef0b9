#!/usr/bin/env bash
# The sanitizer runs of the test command, each in a build folder of its own:
#   - AddressSanitizer with UndefinedBehaviorSanitizer: the whole tree, every test
#     (./build-asan or $SOLVANE_ASAN_BUILD_DIR);
#   - ThreadSanitizer: the tests labelled "threads", the ones that start threads
#     (./build-tsan or $SOLVANE_TSAN_BUILD_DIR).
# A sanitizer report fails the test that caused it. Each run ends with its summary: CTest's
# count and every sanitizer summary line its tests printed. Fails when either run fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
asan=${SOLVANE_ASAN_BUILD_DIR:-$root/build-asan}
tsan=${SOLVANE_TSAN_BUILD_DIR:-$root/build-tsan}
status=0
summaries=()

# run_tests <name> <build dir> <ctest arguments...>: runs CTest there and keeps its summary.
run_tests() {
  local name=$1 dir=$2
  shift 2
  local started=$SECONDS result=0
  (cd "$dir" && ctest --output-on-failure --parallel "$(nproc)" "$@") | tee "$dir/ctest.out" || result=1
  local counted
  counted=$(grep -E '^[0-9]+% tests passed' "$dir/ctest.out" || echo "no tests ran")
  summaries+=("$name: $counted ($((SECONDS - started)) s)")
  # Every report ends with one "SUMMARY: <tool>: ..." line; the full log keeps passing tests too.
  local reports
  reports=$(grep -hE '^SUMMARY: [A-Za-z]+Sanitizer|runtime error:' "$dir/Testing/Temporary/LastTest.log" | sort | uniq -c || true)
  if [ -n "$reports" ]; then
    summaries+=("$name: sanitizer reports:" "$reports")
    result=1
  else
    summaries+=("$name: sanitizer reports: none")
  fi
  [ $result -eq 0 ] || status=1
}

SOLVANE_BUILD_DIR=$asan bash "$root/scripts/build.sh" -DSOLVANE_SANITIZE=address
run_tests "AddressSanitizer+UndefinedBehaviorSanitizer" "$asan"

SOLVANE_BUILD_DIR=$tsan SOLVANE_BUILD_TARGET=threaded_tests bash "$root/scripts/build.sh" -DSOLVANE_SANITIZE=thread
run_tests "ThreadSanitizer" "$tsan" -L threads

echo
echo "== Sanitizer runs"
printf '%s\n' "${summaries[@]}"
exit $status
