#!/usr/bin/env bash
# Builds the dataset loader fuzz target with clang (ASan + UBSan + libFuzzer) in build-fuzz/
# and fuzzes it for SECONDS (default 60). Extra arguments go to libFuzzer.
#   tools/fuzz/run-fuzz.sh            # the short CI run
#   nice -n 19 tools/fuzz/run-fuzz.sh 1800 > fuzz.log 2>&1 &   # a long run
# The growing corpus lives in build-fuzz/corpus; crashes land in build-fuzz/findings/.
# Exit status: 0 when nothing was found, non-zero on a finding or a build failure.
set -euo pipefail
seconds=${1:-60}
shift || true
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${TESSALY_FUZZ_BUILD:-$root/build-fuzz}
cxx=${CXX_FUZZ:-$(command -v clang++-14 || command -v clang++ || true)}

[ -n "$cxx" ] || { echo "run-fuzz.sh: clang++ not found (apt-get install clang-14 libclang-rt-14-dev)" >&2; exit 1; }
mkdir -p "$build"
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" > "$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2

mkdir -p "$build/corpus" "$build/findings"
# Replay the regression corpus first: a finding that came back fails at once.
regressions=$root/tests/data/fuzz-regressions
if compgen -G "$regressions/*" > /dev/null; then
  "$build/fuzz_loader" -runs=0 "$regressions"/* > "$build/regressions.log" 2>&1 \
    || { tail -40 "$build/regressions.log"; exit 1; }
fi

# Fuzzing rewrites two small files per input: detect_leaks stays on, allocations above
# 256 MB count as findings (the loader must size nothing from an unchecked header).
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build/fuzz_loader" -max_total_time="$seconds" -max_len=16384 -timeout=20 -rss_limit_mb=1024 \
  -malloc_limit_mb=256 -dict="$here/loader.dict" -artifact_prefix="$build/findings/" -print_final_stats=1 \
  "$@" "$build/corpus" "$here/seeds"
