#!/usr/bin/env bash
# Simulated raw files (three stations seeing one sky signal) of every process
# of job.sch, written once into the folder given, for the korva_mpi tests.
set -euo pipefail
sim="$1"
schedule="$2"
folder="$3"
rm -rf "$folder"
mkdir -p "$folder/raw"
cp "$schedule" "$folder/job.sch"
processes=$(grep -c '^\$Process' "$schedule")
for p in $(seq 1 "$processes"); do
  "$sim" --schedule="$folder/job.sch" --process="$p" --raw-dir="$folder/raw" --correlation=0.3 --quiet
done
