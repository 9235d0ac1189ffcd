#!/usr/bin/env bash
# korva_mpi bench: the same job timed with korva_corr --multi=2 and with
# mpirun -np 3 korva_mpi --multi=1 (a manager and two workers), both in this
# run. Prints the ratio of wall times, the manager's share of the CPU time,
# the per-unit costs of workers and manager, and the manager's output rate
# computed from the schedule, from which larger jobs can be estimated.
#
#   bench/mpi/run_bench.sh [build-dir]
#
# Needs korva_corr, korva_mpi and fillgen built in build-dir (default: build).
# Environment: BENCH_MSPS (default 16), BENCH_CHUNK (default 2), BENCH_TMP.
# The job: 3 stations, 2 bits, 1 channel, two streams (FFT 1024 with 10
# periods per second, FFT 256 with 20), three processes of 6, 10 and 4 s.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
corr="$build/corr/driver/korva_corr"
mpi="$build/corr/mpi/korva_mpi"
fillgen="$build/fillgen/fillgen"
for program in "$corr" "$mpi" "$fillgen"; do
  [ -x "$program" ] || { echo "run_bench: missing $program (build it first)" >&2; exit 1; }
done
command -v mpirun >/dev/null || { echo "run_bench: mpirun not found" >&2; exit 1; }
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

msps="${BENCH_MSPS:-16}"
chunk="${BENCH_CHUNK:-2}"
words_per_second=$((msps * 1000000 * 2 / 32))
work="$(mktemp -d "${BENCH_TMP:-/tmp}/korva_mpi_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/raw" "$work/cor_corr" "$work/cor_mpi"

lengths=(6 10 4)
{
  echo "\$Terminal BENCH ${msps}Msps/2bit/1ch"
  echo "\$Station A ALPHA -3948382.481 3313086.283 3744779.842"
  echo "\$Station B BRAVO -3957456.132 3250691.115 3789615.974"
  echo "\$Station C CHARLIE -3934176.332 3360104.019 3717741.058"
  echo "\$Source SRC1 12h29m06.6997 +02d03'08.598"
  echo "\$Stream CH1 SRC1 8.192e9 1 1024 10"
  echo "\$Stream CH2 SRC1 8.200e9 1 256 20"
  for k in 0 1 2; do echo "\$Process 2020/001 00:0$k:00 ${lengths[$k]} SRC1 ABC"; done
} > "$work/job.sch"
# One recording per process serves every station: the cost does not depend
# on the data.
for k in 0 1 2; do
  (cd "$work/raw" && "$fillgen" --station=ALPHA --epoch="2020/001 00:0$k:00" \
     --block="$words_per_second" --length="${lengths[$k]}" >/dev/null)
  for station in BRAVO CHARLIE; do
    ln "$work/raw/ALPHA_2020001000${k}00.raw" "$work/raw/${station}_2020001000${k}00.raw"
  done
done
args=(--schedule="$work/job.sch" --raw-dir="$work/raw")

/usr/bin/time -f "%e %U %S" -o "$work/corr.time" "$corr" "${args[@]}" --cor-dir="$work/cor_corr" --multi=2 >/dev/null
# Every rank timed on its own: rank r writes rank_r.time.
mpirun --oversubscribe -np 3 sh -c 'exec /usr/bin/time -f "%e %U %S" -o "$0/rank_$OMPI_COMM_WORLD_RANK.time" "$@"' \
  "$work" "$mpi" "${args[@]}" --cor-dir="$work/cor_mpi" --multi=1 --chunk="$chunk" >"$work/mpi.out"
grep -q "Correlation Finished" "$work/mpi.out" || { echo "run_bench: korva_mpi failed" >&2; exit 1; }

read -r corr_wall corr_user corr_sys < "$work/corr.time"
read -r manager_wall manager_user manager_sys < "$work/rank_0.time"
read -r w1_wall w1_user w1_sys < "$work/rank_1.time"
read -r w2_wall w2_user w2_sys < "$work/rank_2.time"
seconds=$((lengths[0] + lengths[1] + lengths[2]))
units=$(grep -o 'in [0-9]* units' "$work/mpi.out" | awk '{s += $2} END {print s}')

awk -v cw="$corr_wall" -v cu="$corr_user" -v cs="$corr_sys" \
    -v mw="$manager_wall" -v mu="$manager_user" -v ms="$manager_sys" \
    -v w1u="$w1_user" -v w1s="$w1_sys" -v w2u="$w2_user" -v w2s="$w2_sys" \
    -v units="$units" -v seconds="$seconds" -v msps="$msps" -v chunk="$chunk" 'BEGIN {
  manager = mu + ms; workers = w1u + w1s + w2u + w2s;
  # Output of one second of the job: 6 pairs x (10 x (128 + 8 x 512) + 20 x (128 + 8 x 128)) bytes.
  out_per_second = 6 * (10 * (128 + 8 * 512) + 20 * (128 + 8 * 128));
  printf "job: %d s of data, 3 stations x %d Msps x 2 bit, 2 streams, %d units of %d s\n", seconds, msps, units, chunk;
  printf "korva_corr --multi=2            wall %7.2f s  cpu %7.2f s\n", cw, cu + cs;
  printf "mpirun -np 3 korva_mpi --multi=1 wall %7.2f s  cpu %7.2f s (manager %.2f s, workers %.2f s)\n",
         mw, manager + workers, manager, workers;
  printf "wall ratio korva_mpi / korva_corr: %.3f\n", mw / cw;
  printf "manager share of the CPU time: %.2f %%\n", 100 * manager / (manager + workers);
  printf "per unit: worker %.4f s cpu, manager %.5f s cpu\n", workers / units, manager / units;
  printf "output written by the manager: %.0f bytes per second of data, %.2f MB/s at the measured speed\n",
         out_per_second, out_per_second * seconds / mw / 1e6;
}'
