#!/usr/bin/env bash
# Whole-process figures for the main job: a complete creation through the CLI
# against the emulator on loopback (create, upload and attach both photos,
# read back), beside the preparation of the two photos alone.
# Usage: bench/whole_creation.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
runs=${2:-5}
cli=$build/tools/corvenza/corvenza
front=examples/photos/front-4032x3024-exif6.jpg
side=examples/photos/side-3024x4032.jpg

# shellcheck source=bench/emulator.sh
source bench/emulator.sh
export CORVENZA_USER_ID=bench-user

elapsed() {  # runs "$@" quietly, prints its wall time in milliseconds
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  local end=$EPOCHREALTIME
  echo $(( (${end/./} - ${start/./}) / 1000 ))
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

create_times=() prepare_times=()
for _ in $(seq 1 "$runs"); do
  create_times+=("$(elapsed "$cli" create --height 170 --weight 62.5 --age 35 --gender female \
    --front "$front" --side "$side")")
  prepare_times+=("$(( $(elapsed "$cli" prepare-photo "$front" "$work/f.jpg") +
                      $(elapsed "$cli" prepare-photo "$side" "$work/s.jpg") ))")
done
echo "runs: $runs"
echo "whole creation (process, median):       $(printf '%s\n' "${create_times[@]}" | median) ms"
echo "two photos prepared alone (median sum): $(printf '%s\n' "${prepare_times[@]}" | median) ms"
