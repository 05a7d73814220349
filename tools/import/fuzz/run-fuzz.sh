#!/usr/bin/env bash
# Builds the importer's fuzz targets with clang (ASan + UBSan + libFuzzer) in
# build-import-fuzz/ and fuzzes ONE of them for SECONDS (default 60). Extra arguments go to
# libFuzzer.
#   tools/import/fuzz/run-fuzz.sh table 60
#   nice -n 19 tools/import/fuzz/run-fuzz.sh netcdf 900 > fuzz.log 2>&1 &
# The growing corpus lives in build-import-fuzz/corpus-TARGET, crashes land in
# build-import-fuzz/findings-TARGET/. Exit status 0 when nothing was found.
set -euo pipefail
target=${1:?usage: run-fuzz.sh table|netcdf [SECONDS]}
seconds=${2:-60}
shift 2 || shift || true
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=${TESSALY_FUZZ_BUILD:-$root/build-import-fuzz}
cxx=${CXX_FUZZ:-$(command -v clang++-14 || command -v clang++ || true)}
case $target in table|netcdf) ;; *) echo "run-fuzz.sh: target is table or netcdf" >&2; exit 2;; esac

[ -n "$cxx" ] || { echo "run-fuzz.sh: clang++ not found (apt-get install clang-14 libclang-rt-14-dev)" >&2; exit 1; }
mkdir -p "$build"
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" > "$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2

corpus=$build/corpus-$target
mkdir -p "$corpus" "$build/findings-$target"
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build/fuzz_import_$target" -max_total_time="$seconds" -max_len=8192 -timeout=20 -rss_limit_mb=1024 \
  -malloc_limit_mb=256 -dict="$here/$target.dict" -artifact_prefix="$build/findings-$target/" -print_final_stats=1 \
  "$@" "$corpus" "$here/corpus-$target"
