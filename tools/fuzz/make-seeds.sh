#!/usr/bin/env bash
# Regenerates the loader fuzz seed corpus in tools/fuzz/seeds/ (checked in; run this only
# after changing it). Needs the main build's generator: build/tools/tessaly-gen.
# Usage: tools/fuzz/make-seeds.sh [path/to/tessaly-gen]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
gen=${1:-$root/build/tools/tessaly-gen}
out=$here/seeds
[ -x "$gen" ] || { echo "no generator at $gen (build the project first)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"

# pack NAME GRIDFILE DATAFILE [nodata]: 4-byte little-endian grid length (bit 31: no data
# file), then the grid bytes, then the data bytes.
pack() {
  local name=$1 grid=$2 data=$3 flag=${4:-}
  local len; len=$(stat -c %s "$grid")
  [ "$flag" = nodata ] && len=$((len | 0x80000000))
  { perl -e 'print pack("V", $ARGV[0])' "$len"; cat "$grid"; [ -f "$data" ] && cat "$data"; } > "$out/$name"
}
# header TEXT: the 40-byte header, blank padded (TEXT longer than 40 is cut by the caller)
header() { perl -e 'printf "%-40s", $ARGV[0]' "$1"; }
# floats V...: little-endian single floats ("nan", "inf", "-inf" understood)
floats() { perl -e 'print pack("f<*", map { $_ eq "nan" ? 9**9**9/9**9**9 : $_ eq "inf" ? 9**9**9 : $_ eq "-inf" ? -9**9**9 : $_ } @ARGV)' -- "$@"; }
# repeat N WORDS...: the words N times (one record per point)
repeat() { local n=$1; shift; for ((k = 0; k < n; k++)); do echo "$@"; done; }
# points NAME "HEADER" "x y z ..." "vx vy vz v..." : a hand-made pair
points() {
  local name=$1
  { header "$2"; floats $3; } > "$work/g"
  floats $4 > "$work/d"
  pack "$name" "$work/g" "$work/d"
}

# Well-formed datasets of every flow kind, small enough to mutate quickly.
for entry in uniform:1x1 uniform:2x2 uniform:4x4 saddle:5x3 vortices:6x6 channel:3x3 channel:8x5 saddle:3x7; do
  kind=${entry%%:*} size=${entry#*:}
  "$gen" "$kind" "$work/$kind.gri" "$size" > /dev/null
  pack "gen-$kind-$size" "$work/$kind.gri" "$work/$kind.00000.dat"
done
g=$work/uniform.gri d=$work/uniform.00000.dat
"$gen" uniform "$g" 4x4 > /dev/null

# The examples of the file format: 3 x 2 x 1 with one value; the extent rules.
points header-3x2 "SN4DB 3 2 1 1 1 0.1" "0 0 0 1 0 0 2 0 0 0 1 0 1 1 0 2 1 0" "$(repeat 6 1 0 0 0.5)"
points extent-crossed "SN4DB 2 1 1 0 1 0" "0 5 0 5 0 0" "1 0 0 1 0 0"
points extent-equal-x "SN4DB 2 1 1 0 1 0" "0 5 0 0 3 0" "1 0 0 1 0 0"

# Wrong magic, no magic, lower case, magic only, magic without numbers.
{ printf 'SN4DC'; tail -c +6 "$g"; } > "$work/m"; pack wrong-magic "$work/m" "$d"
{ printf 'sn4db'; tail -c +6 "$g"; } > "$work/m"; pack lowercase-magic "$work/m" "$d"
header "SN4DB" > "$work/m"; pack magic-only "$work/m" "$d"
header "SN4DB x y z w t" > "$work/m"; pack magic-no-numbers "$work/m" "$d"
header "SN4DB 4 4" > "$work/m"; pack magic-two-numbers "$work/m" "$d"
{ printf 'SN4DB 4 4 1 0 1 0\0garbage after a NUL byte' | head -c 40; tail -c +41 "$g"; } > "$work/m"; pack header-nul "$work/m" "$d"

# Negative and overflowing counts.
points negative-x "SN4DB -3 2 1 1 1 0" "0 0 0 1 1 1" "0 0 0 0"
points negative-channels "SN4DB 2 1 1 -1 1 0" "0 0 0 1 1 0" "1 0 0 1 0 0"
points negative-pair "SN4DB -2 -2 1 0 1 0" "0 0 0 1 1 0" "1 0 0 1 0 0"
points overflow-product "SN4DB 65536 65536 2 1 1 0" "0 0 0" "0 0 0 0"
points overflow-int "SN4DB 99999999999 1 1 0 1 0" "0 0 0" "0 0 0"
points overflow-channels "SN4DB 2 1 1 2147483647 1 0" "0 0 0 1 1 0" "0 0 0 0 0 0"
points huge-n-no-points "SN4DB 0 0 0 2000000000 1 0" "" ""
points huge-factors-zero "SN4DB 1000000 1000000 0 1 1 0" "" ""
# Header text that runs past byte 40: the later numbers are not part of it.
{ printf 'SN4DB 2 2 1 %-30s1 1 0.5' ''; floats 0 0 0 1 0 0 0 1 0 1 1 0; } > "$work/m"
floats 1 0 0 1 0 0 1 0 0 1 0 0 > "$work/n"; pack header-past-40 "$work/m" "$work/n"
{ printf 'SN4DB 2147483647 2147483647 2147483647 2147483647 1 0'; } > "$work/m"; pack header-long-ints "$work/m" "$d"

# Truncated and missing files.
head -c 100 "$g" > "$work/m"; pack short-grid "$work/m" "$d"
head -c 30 "$g" > "$work/m"; pack short-header "$work/m" "$d"
head -c 100 "$d" > "$work/n"; pack short-data "$g" "$work/n"
: > "$work/e"; pack empty-both "$work/e" "$work/e"
pack empty-data "$g" "$work/e"
pack no-data-file "$g" "$d" nodata
printf '' > "$out/empty-input"

# Odd positions: a zero-width extent, NaN and infinite coordinates, points outside the
# extent that the corner rule finds (a curved grid), far-away points.
points zero-width "SN4DB 3 3 1 1 1 0" "$(for y in 0 1 2; do for x in 0 1 2; do echo 1 $y 0; done; done)" "$(repeat 9 1 0 0 0.5)"
points zero-area "SN4DB 3 3 1 1 1 0" "$(for i in 1 2 3 4 5 6 7 8 9; do echo 2 2 0; done)" "$(repeat 9 1 0 0 0.5)"
points nan-positions "SN4DB 3 3 1 1 1 0" "0 0 0 nan 0 0 2 0 0 0 1 0 1 nan 0 2 1 0 0 2 0 1 2 0 2 2 0" "$(repeat 9 1 0 0 0.5)"
points inf-positions "SN4DB 3 3 1 1 1 0" "-inf -inf 0 1 0 0 2 0 0 0 1 0 1 1 0 2 1 0 0 2 0 1 2 0 inf inf 0" "$(repeat 9 1 0 0 0.5)"
points outside-extent "SN4DB 3 3 1 1 1 0" "0 0 0 -1e30 0 0 2 0 0 0 1e30 0 1 1 0 2 1 0 0 2 0 1 2 0 2 2 0" "$(repeat 9 1 0 0 0.5)"
points curved "SN4DB 3 3 1 0 1 0" "1 0 0 2 1 0 3 2 0 0 1 0 1 2 0 2 3 0 -1 2 0 0 3 0 1 4 0" "$(repeat 9 1 0 0)"
# A cell whose diagonal corners lie a billion grid units apart on either side of the grid
# while the extent rule still finds the regular corners.
points far-corners "SN4DB 4 3 1 1 1 0" "0 0 0 -1e9 5 0 2 0 0 3 0 0 0 1 0 1 1 0 1e9 -5 0 3 1 0 0 2 0 1 2 0 2 2 0 3 2 0" "$(repeat 12 1 0 0 0.5)"
points far-span "SN4DB 4 4 1 1 1 0" "0 0 0 1 0 0 2 0 0 3 10 0 0 1 0 -1e9 1 0 2 1 0 3 1 0 0 2 0 1 2 0 1e9 2 0 3 2 0 0 3 0 1 3 0 2 3 0 3 3 0" "$(repeat 6 0 0 0 0) 1 0 0 1 $(repeat 9 0 0 0 0)"
points nan-flow "SN4DB 3 3 1 1 1 0" "$(for y in 0 1 2; do for x in 0 1 2; do echo $x $y 0; done; done)" "nan 0 0 1 0 inf 0 2 -inf 0 0 3 1 nan 0 4 0 1 0 nan 0 0 inf 6 1 1 1 7 -1 -1 0 8 2 2 2 inf"
points layers "SN4DB 3 3 2 2 1 0" "$(for z in 0 1; do for y in 0 1 2; do for x in 0 1 2; do echo $x $y $z; done; done; done)" "$(for i in $(seq 18); do echo 1 1 1 $i 0; done)"

# Files that are not datasets at all.
printf '\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0' > "$work/m"; pack png "$work/m" "$work/e"
printf 'hello, this is a text file and not a flow dataset\n' > "$work/m"; pack text "$work/m" "$work/m"

ls "$out" | wc -l | xargs echo "seeds written:"
du -sh "$out"
