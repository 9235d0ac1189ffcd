#!/usr/bin/env bash
# Builds Korva, writes the raw files of the example schedule with fillgen and
# correlates them with korva_corr. Installs the Debian packages it needs first.
#   KORVA_BUILD_DIR    build folder (default build)
#   KORVA_EXAMPLE_DIR  work folder of the run (default out/example)
#   KORVA_SCHEDULE     schedule to run (default examples/example.sch)
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
cmake --build "$build" --target korva_corr fillgen

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

echo "Writing raw files into $work/raw ($block words per second)"
while read -r name date time length; do
  [ -n "$name" ] || continue
  (cd "$work/raw" && "$build/fillgen/fillgen" --station "$name" --epoch "$date $time" \
     --block "$block" --length "$length")
done <<< "$raw_files"
ls -l "$work/raw"

echo "Correlating $schedule"
"$build/corr/driver/korva_corr" --schedule="$schedule" --raw-dir="$work/raw" \
  --cor-dir="$work/cor" --multi=2
