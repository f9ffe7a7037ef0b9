#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer, UndefinedBehaviorSanitizer)
# in ./build-fuzz (or $SOLVANE_FUZZ_BUILD_DIR) and runs each one twice: over its committed corpus
# (every input there must pass: they are the regression cases of earlier findings), then for
# FUZZ_SECONDS (default 20) from that corpus on fresh inputs. A crash, leak, timeout or
# out-of-memory fails the script and prints the reproducer, which is kept in the build folder's
# fuzz-artifacts. FUZZ_TARGETS (names without "fuzz_", separated by blanks) picks targets;
# FUZZ_JOBS (default: the processor count) runs that many at once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SOLVANE_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
jobs=${FUZZ_JOBS:-$(nproc)}

export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSOLVANE_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target fuzz_all --parallel "$(nproc)"

artifacts="$build/fuzz-artifacts"
logs="$build/fuzz-logs"
rm -rf "$artifacts" "$logs"
mkdir -p "$artifacts" "$logs"
targets=${FUZZ_TARGETS:-$(cd "$root/fuzz/corpus" && ls)}

# One target: the regression run, then the fresh run. Writes its log and answers 0 or 1.
run_target() {
  local name=$1
  local binary="$build/fuzz/fuzz_$name" corpus="$root/fuzz/corpus/$name" dict="$root/fuzz/dict/$name.dict"
  local log="$logs/$name.log" fresh
  fresh=$(mktemp -d)
  local options=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 -artifact_prefix="$artifacts/$name-" -print_final_stats=1)
  [ -f "$dict" ] && options+=(-dict="$dict")
  {
    echo "== $name: the committed corpus"
    "$binary" "${options[@]}" -runs=0 "$corpus" &&
      echo "== $name: fresh inputs for ${seconds}s" &&
      "$binary" "${options[@]}" -max_total_time="$seconds" "$fresh" "$corpus"
  } >"$log" 2>&1
  local result=$?
  rm -rf "$fresh"
  return $result
}
export -f run_target
export build root seconds artifacts logs
export UBSAN_OPTIONS=print_stacktrace=1

failed=()
passed=0
# shellcheck disable=SC2086
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run_target {} && echo "fuzz {}: ok" || echo "fuzz {}: FAILED"' \
  | tee "$logs/summary.txt"
while read -r _ name status; do
  name=${name%:}
  if [ "$status" = ok ]; then
    passed=$((passed + 1))
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$logs/$name.log" | tail -2 | sed "s/^/  $name /"
  else
    failed+=("$name")
  fi
done <"$logs/summary.txt"
for name in "${failed[@]}"; do
  echo "---- $name (log: $logs/$name.log)"
  grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse|RELOAD)' "$logs/$name.log" | tail -60
  for file in "$artifacts/$name"-*; do
    [ -e "$file" ] || continue
    echo "reproducer $file ($(stat -c %s "$file") bytes), base64:"
    head -c 4096 "$file" | base64
  done
done
echo "fuzz: $passed passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
