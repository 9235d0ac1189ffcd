#!/usr/bin/env bash
# Correlates the same schedules with two builds of korva_corr and compares
# every output file byte for byte: a refactor or a speed-up must leave them
# identical. Raw files are simulated once, with the first build's korva_sim.
#   compare-outputs.sh OLD_BUILD_DIR NEW_BUILD_DIR [WORK_DIR]
#   COMPARE_EXAMPLE  the example schedule to use (default examples/example.sch;
#                    give one without $EOP lines when the old build predates them)
# Schedules: the shipped example with 1, 2 and 8 workers, and a schedule of
# four stations, four 2-channel streams of different FFT sizes and periods,
# and three processes of unequal length with 8 workers.
set -euo pipefail
cd "$(dirname "$0")/.."
old=$1 new=$2 work=${3:-$(mktemp -d)}
mkdir -p "$work"

cat > "$work/multi.sch" <<'SCH'
$Terminal MULTI 8Msps/2bit/2ch
$Station A ALPHA -3957630.431 3310266.483 3737204.070 2024/100 00:00:00 1.5e-7 2.0e-13 0 0 0
$Station B BRAVO -3870599.648 3428031.944 3724523.797
$Station C CHARLIE -3571949.281 3887188.108 3567681.302 2024/100 00:00:00 -3.0e-8 0 0 0 0
$Station D DELTA 1130730.245 -4831245.953 3994228.228
$Source 3C273 12h29m06.6997s +02d03'08.598
$Source 3C279 12h56m11.1665s -05d47'21.525
$Stream X1 3C273 8.212e9 1 1024 10
$Stream X2 3C273 8.228e9 2 4096 4
$Stream S1 3C279 2.212e9 1 256 3
$Stream S2 3C279 2.228e9 2 65536 1
$Process 2024/100 03:00:00 3 3C273 ABCD
$Process 2024/100 03:05:00 1 3C279 ABD
$Process 2024/100 03:10:00 2 3C273 BC
SCH

status=0
correlate() {  # schedule multi label
  local schedule=$1 multi=$2 label=$3 raw=$work/raw-$(basename "$1" .sch)
  if [ ! -d "$raw" ]; then
    mkdir -p "$raw"
    local processes
    processes=$(grep -c '^\$Process' "$schedule")
    for ((p = 1; p <= processes; p++)); do
      "$old/tools/sim/korva_sim" --schedule="$schedule" --process="$p" --raw-dir="$raw" \
        --correlation=0.3 --seed="$p" > /dev/null 2>&1
    done
  fi
  for side in old new; do
    local build=$old
    [ $side = new ] && build=$new
    rm -rf "$work/$label-$side" && mkdir -p "$work/$label-$side"
    "$build/corr/driver/korva_corr" --schedule="$schedule" --raw-dir="$raw" \
      --cor-dir="$work/$label-$side" --multi="$multi" > "$work/$label-$side.out" 2> "$work/$label-$side.err" ||
      echo "$label ($side): korva_corr exit status $?"
  done
  local files=0 differ=0
  for f in "$work/$label-old"/*.cor; do
    files=$((files + 1))
    cmp -s "$f" "$work/$label-new/$(basename "$f")" || { differ=$((differ + 1)); echo "differs: $label/$(basename "$f")"; }
  done
  [ "$(ls "$work/$label-old" | wc -l)" = "$(ls "$work/$label-new" | wc -l)" ] || { differ=$((differ + 1)); echo "$label: file counts differ"; }
  cmp -s "$work/$label-old.err" "$work/$label-new.err" || { differ=$((differ + 1)); echo "$label: standard error differs"; }
  echo "$label: $files files compared, $differ differences"
  [ $differ = 0 ] || status=1
}

example=${COMPARE_EXAMPLE:-examples/example.sch}
correlate "$example" 1 example-1
correlate "$example" 2 example-2
correlate "$example" 8 example-8
correlate "$work/multi.sch" 8 multi-8
correlate "$work/multi.sch" 3 multi-3
exit $status
