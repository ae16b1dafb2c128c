#!/usr/bin/env bash
# Real-time latency and concurrent creations against one emulator on loopback:
# the latency of 1 000 update events, 50 creations at once in one process, and
# 20 `corvenza create --wait` processes at once (wall time, peak memory).
# Usage: bench/realtime_and_concurrency.sh [BUILD_DIR] [EVENTS] [IN_PROCESS] [PROCESSES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
events=${2:-1000}
in_process=${3:-50}
processes=${4:-20}
cli=$build/tools/corvenza/corvenza
front=examples/photos/front-4032x3024-exif6.jpg
side=examples/photos/side-3024x4032.jpg

# shellcheck source=bench/emulator.sh
emulator_args=(--estimation-delay 500)
source bench/emulator.sh

echo "== real-time latency"
CORVENZA_USER_ID=latency-user "$build/bench/bench_realtime_latency" "$events"

echo "== $in_process creations at once in one process"
CORVENZA_USER_ID=in-process-user "$build/bench/bench_concurrent_creations" "$front" "$side" \
  "$in_process"

echo "== $processes corvenza create --wait processes at once"
timer=(/usr/bin/time -f "%M" -o)
[ -x /usr/bin/time ] || { echo "(install Debian's time package for peak memory)"; timer=(); }
start=$EPOCHREALTIME
pids=()
for i in $(seq 1 "$processes"); do
  CORVENZA_USER_ID="process-user-$i" "${timer[@]}" ${timer:+"$work/rss-$i"} \
    "$cli" create --height 170 --weight 62.5 --age 35 --gender female \
    --front "$front" --side "$side" --wait --timeout 120 >/dev/null 2>"$work/err-$i" &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
end=$EPOCHREALTIME
echo "processes: $processes ($failed failed)"
echo "wall: $(( (${end/./} - ${start/./}) / 1000 )) ms (each waits for its estimate, 500 ms after both photos)"
if [ ${#timer[@]} -gt 0 ]; then
  echo "peak memory per process: $(sort -n "$work"/rss-* | tail -1 | awk '{printf "%.1f MB (largest)", $1/1024}')"
fi
