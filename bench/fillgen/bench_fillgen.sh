#!/usr/bin/env bash
# Times fillgen writing its default second (128,000,000 bytes) against
# `dd if=/dev/zero bs=128M count=1` writing to the same folder, best of a few
# runs each, and prints both times and their ratio.
#   bench_fillgen.sh [fillgen binary] [folder] [repetitions]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
fillgen="${1:-$here/../../build/fillgen/fillgen}"
folder="${2:-}"
made_folder=0
if [ -z "$folder" ]; then
  folder="$(mktemp -d "${TMPDIR:-/tmp}/fillgen_bench_XXXXXX")"
  made_folder=1
fi
repetitions="${3:-5}"
[ -x "$fillgen" ] || { echo "bench_fillgen: no fillgen at $fillgen (build the fillgen target first)" >&2; exit 1; }
fillgen="$(cd "$(dirname "$fillgen")" && pwd)/$(basename "$fillgen")"
mkdir -p "$folder"
cd "$folder"
cleanup() {
  rm -f "$folder/Bench_1970001000000.raw" "$folder/dd_zero.raw"
  if [ "$made_folder" = 1 ]; then rmdir "$folder"; fi
}
trap cleanup EXIT

now() { date +%s.%N; }
seconds_of() {  # runs "$@", prints its wall-clock time in seconds
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1
  end=$(now)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }'
}
best() { printf '%s\n' "$@" | sort -g | head -n1; }

fillgen_times=()
dd_times=()
for ((i = 0; i < repetitions; ++i)); do
  rm -f Bench_1970001000000.raw dd_zero.raw
  fillgen_times+=("$(seconds_of "$fillgen" --station=Bench)")
  [ "$(stat -c %s Bench_1970001000000.raw)" = 128000000 ] || { echo "bench_fillgen: wrong file size" >&2; exit 1; }
  rm -f Bench_1970001000000.raw
  dd_times+=("$(seconds_of dd if=/dev/zero of=dd_zero.raw bs=128M count=1)")
done

fillgen_best=$(best "${fillgen_times[@]}")
dd_best=$(best "${dd_times[@]}")
printf 'folder                         %s\n' "$folder"
printf 'fillgen, 128,000,000 bytes     best %.3f s  (%s)\n' "$fillgen_best" "${fillgen_times[*]}"
printf 'dd, 134,217,728 bytes          best %.3f s  (%s)\n' "$dd_best" "${dd_times[*]}"
awk -v f="$fillgen_best" -v d="$dd_best" 'BEGIN {
  printf "fillgen / dd time              %.2f   (at most 2.00 is required)\n", f / d
  printf "fillgen / dd bytes per second  %.2f\n", (128000000 / f) / (134217728 / d)
}'
