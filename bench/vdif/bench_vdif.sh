#!/usr/bin/env bash
# Conversion rate of korva_vdif against reading the same file with cat, on
# 16-second recordings of 2-bit samples at 64 Msps: one thread of one
# channel, and eight threads of one channel each. Both reads come from the
# page cache (the file is read once before timing). Each figure is the best
# of three runs; the raw file goes next to the recording and, where /dev/shm
# exists, also to memory, which leaves out the cost of the disk. Writing the
# raw file costs the system as much as cat FILE > OUTPUT, so that copy is
# shown too, as the bound any conversion writing its output meets (the
# figure after "copy" is korva_vdif's rate over the copy's, to /dev/shm).
#   bench/vdif/bench_vdif.sh [build dir] [seconds]
set -euo pipefail
build=${1:-build}
seconds=${2:-16}
work=$(mktemp -d "${TMPDIR:-/tmp}/korva_vdif_bench_XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }

cat_once() { cat "$1" > /dev/null; }

copy_once() { cat "$1" > "$2/copy"; rm -f "$2/copy"; }

convert_once() {  # name raw-dir recording
  "$build/tools/vdif/korva_vdif" --schedule="$work/$1.sch" --process=1 --station=A --raw-dir="$2" "$3" > "$work/$1.log"
  tail -1 "$work/$1.log" | grep -q 'valid 1.000000' || { echo "bench: conversion not clean" >&2; cat "$work/$1.log" >&2; exit 1; }
  rm -f "$2"/*.raw
}

best_of() {  # count command args...: the shortest wall time in seconds
  local count=$1 best=-1 t0 t1
  shift
  for _ in $(seq "$count"); do
    t0=$(now)
    "$@"
    t1=$(now)
    best=$(awk -v b="$best" -v t="$(awk -v a="$t0" -v z="$t1" 'BEGIN { print z - a }')" 'BEGIN { print (b < 0 || t < b) ? t : b }')
  done
  echo "$best"
}

bench_case() {  # name threads
  local name=$1 threads=$2
  local rec="$work/$name.vdif" raw="$work/raw_$name"
  mkdir -p "$raw"
  "$build/bench/vdif/make_vdif_recording" "$rec" 64 2 "$threads" 1 "$seconds"
  cat > "$work/$name.sch" <<SCHEDULE
\$Terminal BENCH 64Msps/2bit/${threads}ch
\$Station A ALPHA -3948382.481 3313086.283 3744779.842
\$Source SRC1 12h29m06.6997 +02d03'08.598
\$Process 2024/101 12:00:00 $seconds SRC1 A
SCHEDULE
  cat "$rec" > /dev/null
  local cat_s disk_s shm_s copy_s bytes
  cat_s=$(best_of 3 cat_once "$rec")
  disk_s=$(best_of 3 convert_once "$name" "$raw" "$rec")
  shm_s=-1 copy_s=-1
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    local shm
    shm=$(mktemp -d /dev/shm/korva_vdif_bench_XXXXXX)
    shm_s=$(best_of 3 convert_once "$name" "$shm" "$rec")
    copy_s=$(best_of 3 copy_once "$rec" "$shm")
    rm -rf "$shm"
  fi
  bytes=$(stat -c %s "$rec")
  awk -v name="$name" -v b="$bytes" -v c="$cat_s" -v d="$disk_s" -v m="$shm_s" -v k="$copy_s" 'BEGIN {
    printf "%-8s %5.0f MB  cat %6.0f MB/s  korva_vdif %6.0f MB/s (ratio %.2f)", name, b / 1e6, b / c / 1e6, b / d / 1e6, c / d
    if (m > 0) printf "  to /dev/shm %6.0f MB/s (ratio %.2f)", b / m / 1e6, c / m
    if (k > 0) printf "  copy to /dev/shm %6.0f MB/s (korva_vdif/copy %.2f)", b / k / 1e6, k / m
    printf "\n" }'
  rm -rf "$rec" "$raw"
}

echo "korva_vdif against cat, ${seconds} s of 2-bit 64 Msps samples ($(lscpu | sed -n 's/^Model name: *//p'))"
bench_case 1x1ch 1
bench_case 8x1ch 8
