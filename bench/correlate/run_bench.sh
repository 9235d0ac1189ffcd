#!/usr/bin/env bash
# Correlation bench: times whole korva_corr runs on fixed examples and compares
# their CPU time with the CPU time of the same number of plain FFT executions
# (correlate_fft_floor), both measured in this run.
#
#   bench/correlate/run_bench.sh [build-dir]
#
# Needs korva_corr, fillgen, correlate_fft_floor and correlate_kernel_path
# built in build-dir (default: build; a Release build gives the figures that
# count). Environment: BENCH_THREADS (default "1 2"), BENCH_SECONDS (default
# 10), BENCH_CASES (default: all four), BENCH_KERNELS (default "sse default"),
# BENCH_REPEAT (default 1: on a busy machine, repeat every timing and keep
# the least CPU time), BENCH_TMP (default /tmp).
#
# Every case runs once per entry of BENCH_KERNELS in the same bench: "sse"
# forces the portable SSE kernels (KORVA_KERNELS=sse), "default" leaves the
# choice to the CPU's features, avx2 or avx512 force those. The column
# "kernels" names the path used, "sse/this" is the SSE run's CPU time over
# this run's (when sse comes first). All 64 Msps, 2 bits, 1 channel, 10 periods per second:
#   2st-1str   2 stations, 1 stream, FFT 1024
#   4st-2str   4 stations, 2 streams (two sky frequencies of the channel), FFT 1024
#   10st-1str  10 stations (55 pairs), 1 stream, FFT 1024
#   4st-64k    4 stations, 1 stream, FFT 65536
# "samples" counts every station's samples of every stream:
# sample_rate x seconds x stations x streams; cpu/fft is the run's CPU time
# over the CPU time of the same number of plain FFT executions.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
threads_list="${BENCH_THREADS:-1 2}"
seconds="${BENCH_SECONDS:-10}"
repeat="${BENCH_REPEAT:-1}"
corr="$build/corr/driver/korva_corr"
fillgen="$build/fillgen/fillgen"
floor="$build/bench/correlate/correlate_fft_floor"
path_of="$build/bench/correlate/correlate_kernel_path"
for program in "$corr" "$fillgen" "$floor" "$path_of"; do
  [ -x "$program" ] || { echo "run_bench: missing $program (build it first)" >&2; exit 1; }
done

correlator_command() {  # <schedule> <cor dir> <threads>: sets the array command
  command=("$corr" --schedule="$1" --raw-dir="$work" --cor-dir="$2" --multi="$3")
}

rate=64000000
pp=10
cases="${BENCH_CASES:-2st-1str 4st-2str 10st-1str 4st-64k}"
words_per_second=$((rate * 2 / 32))
work="$(mktemp -d "${BENCH_TMP:-/tmp}/korva_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# One recording serves every station: the generator's words depend on the
# second only, and the bench's cost does not depend on the data.
(cd "$work" && "$fillgen" --station=ALPHA --epoch='2020/001 00:00:00' \
   --block="$words_per_second" --length="$seconds" >/dev/null)
names=(ALPHA BRAVO CHARLIE DELTA ECHO FOXTROT GOLF HOTEL INDIA JULIET)
positions=("-3.9e6 3.3e6 3.7e6" "-3.5e6 3.9e6 3.6e6" "-3.7e6 3.1e6 4.0e6" "-3.2e6 4.1e6 3.5e6"
           "-3.6e6 3.5e6 3.8e6" "-4.0e6 3.0e6 3.9e6" "-3.3e6 3.8e6 3.9e6" "-3.8e6 3.6e6 3.4e6"
           "-3.4e6 3.4e6 4.1e6" "-3.1e6 3.9e6 3.9e6")
for station in "${names[@]:1}"; do
  ln "$work/ALPHA_2020001000000.raw" "$work/${station}_2020001000000.raw"
done

write_schedule() {  # <file> <station count> <stream count> <fft points>
  local codes=ABCDEFGHIJ k
  {
    echo "\$Terminal BENCH $((rate / 1000000))Msps/2bit/1ch"
    for ((k = 0; k < $2; k++)); do
      echo "\$Station ${codes:k:1} ${names[k]} ${positions[k]}"
    done
    echo "\$Source SRC1 12h29m06.6997 +02d03'08.598"
    echo "\$Stream CH1 SRC1 8.192e9 1 $4 $pp"
    [ "$3" -ge 2 ] && echo "\$Stream CH2 SRC1 8.224e9 1 $4 $pp"
    echo "\$Process 2020/001 00:00:00 $seconds SRC1 ${codes:0:$2}"
  } >"$1"
}

printf '%-10s %-7s %7s %8s %8s %14s %9s %10s %8s %9s\n' example kernels threads wall_s cpu_s Msamples/cpu_s ffts \
  fft_cpu_s cpu/fft sse/this
for example in "2st-1str 2 1 1024" "4st-2str 4 2 1024" "10st-1str 10 1 1024" "4st-64k 4 1 65536"; do
  read -r name stations streams fft <<<"$example"
  case " $cases " in *" $name "*) ;; *) continue ;; esac
  schedule="$work/$name.sched"
  write_schedule "$schedule" "$stations" "$streams" "$fft"
  segments_per_period=$(((rate + pp * fft - 1) / (pp * fft)))
  ffts=$((seconds * pp * segments_per_period * stations * streams))
  fft_cpu=""
  for ((r = 0; r < repeat; r++)); do
    fft_cpu=$(awk -v a="$fft_cpu" -v b="$("$floor" "$fft" "$ffts")" 'BEGIN { print (a == "" || b < a) ? b : a }')
  done
  pairs=$((stations * (stations + 1) / 2 * streams))
  expected_bytes=$((256 + seconds * pp * (128 + 8 * fft / 2)))
  for threads in $threads_list; do
    sse_cpu=""
    for kernels in ${BENCH_KERNELS:-sse default}; do
      [ "$kernels" = default ] && kernels=""
      out="$work/cor-$name-$threads"
      mkdir -p "$out"
      correlator_command "$schedule" "$out" "$threads"
      best=""
      for ((r = 0; r < repeat; r++)); do
        KORVA_KERNELS=$kernels /usr/bin/time -f '%e %U %S' -o "$work/time" "${command[@]}" >/dev/null \
          2>"$work/stderr" || true
        if [ -s "$work/stderr" ]; then
          echo "run_bench: korva_corr failed:" >&2; cat "$work/stderr" >&2; exit 1
        fi
        written=$(find "$out" -name '*.cor' -size "${expected_bytes}c" | wc -l)
        if [ "$written" -ne "$pairs" ]; then
          echo "run_bench: korva_corr wrote $written of $pairs complete output files" >&2
          exit 1
        fi
        best=$(awk -v best="$best" -v now="$(cat "$work/time")" 'BEGIN {
          split(now, t, " "); split(best, b, " ")
          print (best == "" || t[2] + t[3] < b[2] + b[3]) ? now : best
        }')
      done
      echo "$best" >"$work/time"
      read -r wall user sys <"$work/time"
      path=$(KORVA_KERNELS=$kernels "$path_of")
      awk -v n="$name" -v k="$path" -v t="$threads" -v w="$wall" -v u="$user" -v s="$sys" -v f="$ffts" \
          -v fc="$fft_cpu" -v sc="$sse_cpu" -v samples=$((rate * seconds * stations * streams)) 'BEGIN {
        cpu = u + s
        ratio = sc == "" ? "" : sprintf("%.2f", sc / cpu)
        printf "%-10s %-7s %7d %8.2f %8.2f %14.1f %9d %10.2f %8.2f %9s\n", n, k, t, w, cpu, samples / cpu / 1e6, f, fc,
          cpu / fc, ratio
      }'
      [ -z "$sse_cpu" ] && [ "$path" = sse ] && sse_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
      rm -rf "$out"
    done
  done
done
