#!/usr/bin/env bash
# Conversion rate of korva_vdif against reading the same file with cat, on
# 16-second recordings of 2-bit samples at 64 Msps: one thread of one
# channel, and eight threads of one channel each. Both reads come from the
# page cache (the file is read once before timing).
#   bench/vdif/bench_vdif.sh [build dir] [seconds]
set -euo pipefail
build=${1:-build}
seconds=${2:-16}
work=$(mktemp -d "${TMPDIR:-/tmp}/korva_vdif_bench_XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }

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
  local t0 t1 t2
  t0=$(now)
  cat "$rec" > /dev/null
  t1=$(now)
  "$build/tools/vdif/korva_vdif" --schedule="$work/$name.sch" --process=1 --station=A --raw-dir="$raw" "$rec" > "$work/$name.log"
  t2=$(now)
  tail -1 "$work/$name.log" | grep -q 'valid 1.000000' || { echo "bench: conversion not clean"; cat "$work/$name.log"; exit 1; }
  local bytes
  bytes=$(stat -c %s "$rec")
  awk -v name="$name" -v b="$bytes" -v t0="$t0" -v t1="$t1" -v t2="$t2" 'BEGIN {
    c = t1 - t0; v = t2 - t1
    printf "%-16s %6.0f MB  cat %7.0f MB/s  korva_vdif %7.0f MB/s  ratio %.2f\n", name, b / 1e6, b / c / 1e6, b / v / 1e6, c / v }'
  rm -rf "$rec" "$raw"
}

echo "korva_vdif against cat, ${seconds} s of 2-bit 64 Msps samples ($(lscpu | sed -n 's/^Model name: *//p'))"
bench_case 1x1ch 1
bench_case 8x1ch 8
