#!/usr/bin/env bash
# Correlation bench: times whole korva_corr runs on fixed examples and compares
# their CPU time with the CPU time of the same number of plain FFT executions
# (correlate_fft_floor), both measured in this run.
#
#   bench/correlate/run_bench.sh [build-dir]
#
# Needs korva_corr, fillgen and correlate_fft_floor built in build-dir
# (default: build; a Release build gives the figures that count).
# Environment: BENCH_THREADS (default "1 2"), BENCH_SECONDS (default 10),
# BENCH_TMP (default /tmp).
#
# Examples, all 64 Msps, 2 bits, 1 channel, FFT 1024, 10 periods per second:
#   2st-1str  2 stations, 1 stream
#   4st-2str  4 stations, 2 streams (two sky frequencies of the channel)
# "samples" counts every station's samples of every stream:
# sample_rate x seconds x stations x streams.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
threads_list="${BENCH_THREADS:-1 2}"
seconds="${BENCH_SECONDS:-10}"
corr="$build/corr/driver/korva_corr"
fillgen="$build/fillgen/fillgen"
floor="$build/bench/correlate/correlate_fft_floor"
for program in "$corr" "$fillgen" "$floor"; do
  [ -x "$program" ] || { echo "run_bench: missing $program (build it first)" >&2; exit 1; }
done

correlator_command() {  # <schedule> <cor dir> <threads>: sets the array command
  command=("$corr" --schedule="$1" --raw-dir="$work" --cor-dir="$2" --multi="$3")
}

rate=64000000
fft=1024
pp=10
words_per_second=$((rate * 2 / 32))
work="$(mktemp -d "${BENCH_TMP:-/tmp}/korva_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# One recording serves every station: the generator's words depend on the
# second only, and the bench's cost does not depend on the data.
(cd "$work" && "$fillgen" --station=ALPHA --epoch='2020/001 00:00:00' \
   --block="$words_per_second" --length="$seconds" >/dev/null)
for station in BRAVO CHARLIE DELTA; do
  ln "$work/ALPHA_2020001000000.raw" "$work/${station}_2020001000000.raw"
done

write_schedule() {  # <file> <station codes> <stream count>
  {
    echo "\$Terminal BENCH $((rate / 1000000))Msps/2bit/1ch"
    echo "\$Station A ALPHA -3.9e6 3.3e6 3.7e6"
    echo "\$Station B BRAVO -3.5e6 3.9e6 3.6e6"
    echo "\$Station C CHARLIE -3.7e6 3.1e6 4.0e6"
    echo "\$Station D DELTA -3.2e6 4.1e6 3.5e6"
    echo "\$Source SRC1 12h29m06.6997 +02d03'08.598"
    echo "\$Stream CH1 SRC1 8.192e9 1 $fft $pp"
    [ "$3" -ge 2 ] && echo "\$Stream CH2 SRC1 8.224e9 1 $fft $pp"
    echo "\$Process 2020/001 00:00:00 $seconds SRC1 $2"
  } >"$1"
}

segments_per_period=$(((rate + pp * fft - 1) / (pp * fft)))
printf '%-9s %7s %8s %8s %13s %10s %10s %9s\n' example threads wall_s cpu_s Msamples/cpu_s ffts fft_cpu_s cpu/fft
for example in "2st-1str AB 2 1" "4st-2str ABCD 4 2"; do
  read -r name codes stations streams <<<"$example"
  schedule="$work/$name.sched"
  write_schedule "$schedule" "$codes" "$streams"
  ffts=$((seconds * pp * segments_per_period * stations * streams))
  fft_cpu=$("$floor" "$fft" "$ffts")
  pairs=$((stations * (stations + 1) / 2 * streams))
  expected_bytes=$((256 + seconds * pp * (128 + 8 * fft / 2)))
  for threads in $threads_list; do
    out="$work/cor-$name-$threads"
    mkdir -p "$out"
    correlator_command "$schedule" "$out" "$threads"
    /usr/bin/time -f '%e %U %S' -o "$work/time" "${command[@]}" >/dev/null 2>"$work/stderr" || true
    if [ -s "$work/stderr" ]; then
      echo "run_bench: korva_corr failed:" >&2; cat "$work/stderr" >&2; exit 1
    fi
    written=$(find "$out" -name '*.cor' -size "${expected_bytes}c" | wc -l)
    if [ "$written" -ne "$pairs" ]; then
      echo "run_bench: korva_corr wrote $written of $pairs complete output files" >&2
      exit 1
    fi
    read -r wall user sys <"$work/time"
    awk -v n="$name" -v t="$threads" -v w="$wall" -v u="$user" -v s="$sys" -v f="$ffts" -v fc="$fft_cpu" \
        -v samples=$((rate * seconds * stations * streams)) 'BEGIN {
      cpu = u + s
      printf "%-9s %7d %8.2f %8.2f %13.1f %10d %10.2f %9.2f\n", n, t, w, cpu, samples / cpu / 1e6, f, fc, cpu / fc
    }'
    rm -rf "$out"
  done
done
