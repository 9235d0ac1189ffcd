#!/usr/bin/env bash
# Runs the same inputs through two builds of Korva and compares every byte
# they write: fillgen's raw files, korva_sim's raw files, korva_corr's output
# files, and the programs' standard output, standard error and exit status
# (wall-clock times in the Started and Finished lines left aside).
#
#   scripts/compare-outputs.sh <old build dir> <new build dir>
#   COMPARE_EXAMPLE  the example schedule to use (default examples/example.sch;
#                    give one without $EOP lines when the old build predates them)
#
# Schedules: the example (three processes, two streams, 8 threads and 1), the
# end-to-end fringe schedules, a four-channel schedule of several processes
# and streams on 8 threads, and failing runs. Prints one line per comparison
# and ends with status 1 if anything differs.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 <old build dir> <new build dir>" >&2
  exit 2
fi
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/korva_compare_XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
differences=0

# compare <label> <old path> <new path>: files, or folders file by file.
compare() {
  if diff -r -q "$2" "$3" > "$work/diff.txt" 2>&1; then
    local count
    count=$(find "$2" -type f | wc -l)
    echo "same      $1 ($count files)"
  else
    echo "DIFFERENT $1"
    head -5 "$work/diff.txt"
    differences=$((differences + 1))
  fi
}

# run <build> <label> <folder> <program> <args...>: runs a program of a build
# in the folder, keeping stdout, stderr (times masked) and the status.
run() {
  local build=$1 label=$2 folder=$3 program=$4
  shift 4
  mkdir -p "$folder"
  (cd "$folder" && env -u RAW-FILE -u COR-FILE "$build/$program" "$@" \
    > "$work/$label.out" 2> "$work/$label.err"; echo $? > "$work/$label.status")
  sed -i -E 's/(Started|Finished) +[0-9]{4}\/[0-9]{3} [0-9:.]+/\1<time>/' "$work/$label.out"
}

# both <name> <program> <args...>: runs the program of each build in
# $work/<old|new>/<name> and compares the folders and the texts.
both() {
  local name=$1
  shift
  for side in old new; do
    local build=$old
    [ $side = new ] && build=$new
    run "$build" "$side.$name" "$work/$side/$name" "$@"
  done
  compare "$name: files" "$work/old/$name" "$work/new/$name"
  for stream in out err status; do
    compare "$name: $stream" "$work/old.$name.$stream" "$work/new.$name.$stream"
  done
}

corr=corr/driver/korva_corr
fillgen=fillgen/fillgen
sim=tools/sim/korva_sim

# fillgen: the raw files of the example, and edge cases of its command line.
example_raw=(
  "ALPHA 2024/100 03:00:00 3" "BRAVO 2024/100 03:00:00 3" "CHARLIE 2024/100 03:00:00 3"
  "ALPHA 2024/100 03:05:00 2" "BRAVO 2024/100 03:05:00 2"
  "BRAVO 2024/100 03:10:00 2" "CHARLIE 2024/100 03:10:00 2")
for entry in "${example_raw[@]}"; do
  read -r station date time length <<< "$entry"
  both fillgen_raw "$fillgen" "--station=$station" "--epoch=$date $time" --block=1000000 "--length=$length"
done
both fillgen_edges_before_1970 "$fillgen" --station=Old "--epoch=1969/365 23:59:59" --block=3 --length=2
both fillgen_edges_empty "$fillgen" --station=E --length=0 --block=5
both fillgen_edges_usage "$fillgen"
both fillgen_edges_bad_block "$fillgen" --block=0
both fillgen_edges_bad_epoch "$fillgen" "--epoch=2008/101 12:00"

# The example schedule on the fillgen files, with 8 threads and with 1.
cp "${COMPARE_EXAMPLE:-$source_dir/examples/example.sch}" "$work/example.sch"
for threads in 8 1; do
  both "example_multi$threads" "$corr" "--schedule=$work/example.sch" "--raw-dir=$work/old/fillgen_raw" \
    "--cor-dir=." "--multi=$threads"
done

# Simulated recordings: the schedules of the end-to-end fringe tests and a
# four-channel schedule of several processes and streams.
cat > "$work/short.sch" <<'EOF'
$Terminal TESTMODE 1Msps/2bit/4ch
$Station A ALPHA -3948382.481 3313086.283 3744779.842
$Station B BRAVO -3957456.132 3250691.115 3789615.974 2024/101 00:00:00 5.0e-6 0 0 0 0
$Station C CHARLIE -3934176.332 3360104.019 3717741.058
$Source SRC1 12h29m06.6997 +02d03'08.598
$Stream CH2 SRC1 2.0e9 2 1024 4
$Process 2024/101 12:00:00 4 SRC1 ABC
EOF
cat > "$work/one_bit.sch" <<'EOF'
$Terminal ONEBIT 2Msps/1bit/1ch
$Station A ALPHA -3948382.481 3313086.283 3744779.842
$Station B BRAVO -3957456.132 3250691.115 3789615.974
$Source SRC1 12h29m06.6997 +02d03'08.598
$Stream S1 SRC1 1.4e9 1 4096 2
$Process 2024/101 12:00:00 2 SRC1 AB
EOF
cat > "$work/fast.sch" <<'EOF'
$Terminal FAST 1Msps/2bit/4ch
$Station A ALPHA -3948382.481 3313086.283 3744779.842
$Station D DELTA 1130730.0 -4831245.0 3994228.0
$Source SRC2 04h00m00.0 +20d00'00.0
$Stream X1 SRC2 7.0e8 1 256 4
$Process 2024/101 12:00:00 3 SRC2 AD
EOF
cat > "$work/multi.sch" <<'EOF'
$Terminal QUAD 2Msps/2bit/4ch
$Station A ALPHA -3957630.431 3310266.483 3737204.070 2024/100 00:00:00 1.5e-7 2.0e-13 0 0 0
$Station B BRAVO -3870599.648 3428031.944 3724523.797 2024/100 00:00:00 -3.0e-8 -1.0e-13 0 0 0
$Station C CHARLIE -3571949.281 3887188.108 3567681.302
$Station D DELTA 1130730.0 -4831245.0 3994228.0
$Source 3C273 12h29m06.6997s +02d03'08.598
$Source 3C279 12h56m11.1665s -05d47'21.525
$Stream S1 3C273 8.212e9 1 1024 10
$Stream S2 3C279 8.220e9 2 512 5
$Stream S3 3C273 2.2e9 3 2048 3
$Stream S4 3C273 2.3e9 4 4096 1
$Process 2024/100 03:00:00 2 3C273 ABCD
$Process 2024/100 03:05:00 3 3C279 ABD
$Process 2024/100 03:10:00 2 NOSUCH CD
EOF
for schedule in short one_bit fast; do
  both "sim_$schedule" "$sim" "--schedule=$work/$schedule.sch" --raw-dir=. --seed=11 --correlation=0.3
  both "corr_$schedule" "$corr" "--schedule=$work/$schedule.sch" "--raw-dir=$work/old/sim_$schedule" \
    --cor-dir=. --multi=2
done
for process in 1 2 3; do
  both sim_multi "$sim" "--schedule=$work/multi.sch" --raw-dir=. "--process=$process" --seed=3
done
both corr_multi "$corr" "--schedule=$work/multi.sch" "--raw-dir=$work/old/sim_multi" --cor-dir=. --multi=8

# Failing runs: a missing raw file, a schedule that does not read, no schedule.
both fail_missing_raw "$corr" "--schedule=$work/example.sch" "--raw-dir=$work/nowhere" --cor-dir=.
printf '$Terminal T 16Msps/2bit/3ch\n$Stream X S 1e9 1 1024 1\n' > "$work/bad.sch"
both fail_bad_schedule "$corr" "--schedule=$work/bad.sch" --raw-dir=. --cor-dir=.
both fail_no_schedule "$corr" --raw-dir=. --cor-dir=.

if [ "$differences" -ne 0 ]; then
  echo "$differences comparisons differ"
  exit 1
fi
echo "every comparison is the same"
