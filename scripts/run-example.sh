#!/usr/bin/env bash
# Builds Korva, simulates the raw files of the example schedule with korva_sim
# (one sky signal seen by every station at its own delay), correlates them
# with korva_corr and shows the fringes with korva_fringe. Installs the Debian
# packages it needs first.
#   KORVA_BUILD_DIR    build folder (default build)
#   KORVA_EXAMPLE_DIR  work folder of the run (default out/example)
#   KORVA_SCHEDULE     schedule to run (default examples/example.sch)
#   KORVA_CORRELATION  correlation coefficient of the simulated sky signal (default 0.2)
#   KORVA_RAW_SOURCE   sim (default) or fillgen: pseudo-random words, no fringes
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

./scripts/install-deps.sh

build=${KORVA_BUILD_DIR:-build}
work=${KORVA_EXAMPLE_DIR:-out/example}
schedule=${KORVA_SCHEDULE:-examples/example.sch}
case $build in /*) ;; *) build=$root/$build ;; esac
case $work in /*) ;; *) work=$root/$work ;; esac
case $schedule in /*) ;; *) schedule=$root/$schedule ;; esac

cmake -S . -B "$build" -G Ninja
cmake --build "$build" --target korva_corr korva_sim fillgen

rm -rf "$work/raw" "$work/cor"
mkdir -p "$work/raw" "$work/cor"

# Words of 32 bits per second: sample_rate x bits x channels / 8 / 4.
block=$(awk '/^\$Terminal/ { split($3, m, /Msps\/|bit\/|ch/); w = m[1] * 1000000 * m[2] * m[3] / 32 }
             END { if (w == "") exit 1; printf "%d\n", w }' "$schedule") || {
  echo "run-example: no \$Terminal line in $schedule" >&2
  exit 1
}

# One raw file per process and taking-part station (its code occurs in the
# process's station text), as "<name> <date time> <length>" lines.
raw_files=$(awk '/^\$Station/ { code[++n] = $2; name[n] = $3 }
                 /^\$Process/ { for (i = 1; i <= n; i++) if (index($6, code[i]) > 0)
                                  print name[i], $2, $3, $4 }' "$schedule")

if [ "${KORVA_RAW_SOURCE:-sim}" = fillgen ]; then
  echo "Writing raw files into $work/raw with fillgen ($block words per second)"
  while read -r name date time length; do
    [ -n "$name" ] || continue
    (cd "$work/raw" && "$build/fillgen/fillgen" --station "$name" --epoch "$date $time" \
       --block "$block" --length "$length")
  done <<< "$raw_files"
else
  processes=$(grep -c '^\$Process' "$schedule" || true)
  echo "Simulating the raw files of $processes processes into $work/raw"
  for ((p = 1; p <= processes; p++)); do
    "$build/tools/sim/korva_sim" --schedule="$schedule" --process="$p" --raw-dir="$work/raw" \
      --correlation="${KORVA_CORRELATION:-0.2}" --seed="$p"
  done
fi
ls -l "$work/raw"

echo "Correlating $schedule"
"$build/corr/driver/korva_corr" --schedule="$schedule" --raw-dir="$work/raw" \
  --cor-dir="$work/cor" --multi=2

echo "Fringes (plots in $work/fringe_*.png)"
/usr/bin/python3 tools/fringe/korva_fringe --cor-dir="$work/cor" --plot="$work/fringe.png"
