#!/usr/bin/env bash
# The creation queue against one emulator on loopback: ENTRIES `corvenza queue
# add`, then one `corvenza queue run --jobs JOBS` (wall time, peak memory),
# the queue's own cost per entry, and one creation's wall time to compare.
# Usage: bench/queue_run.sh [BUILD_DIR] [ENTRIES] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
entries=${2:-100}
jobs=${3:-4}
cli=$build/tools/corvenza/corvenza
front=examples/photos/front-4032x3024-exif6.jpg
side=examples/photos/side-3024x4032.jpg

# shellcheck source=bench/emulator.sh
source bench/emulator.sh
export CORVENZA_USER_ID=queue-bench-user

echo "== $entries queue add"
start=$EPOCHREALTIME
for _ in $(seq 1 "$entries"); do
  "$cli" queue add --height 170 --weight 62.5 --age 35 --gender female \
    --front "$front" --side "$side" >/dev/null
done
end=$EPOCHREALTIME
echo "add: $(( (${end/./} - ${start/./}) / 1000 / entries )) ms per entry (photos prepared and stored, process start included)"

echo "== queue run --jobs $jobs"
timer=(/usr/bin/time -f "%M" -o "$work/rss")
[ -x /usr/bin/time ] || { echo "(install Debian's time package for peak memory)"; timer=(); }
start=$EPOCHREALTIME
"${timer[@]}" "$cli" queue run --jobs "$jobs" 2>/dev/null
end=$EPOCHREALTIME
wall_ms=$(( (${end/./} - ${start/./}) / 1000 ))
echo "run: $wall_ms ms wall for $entries entries"
[ ${#timer[@]} -gt 0 ] && awk '{printf "peak memory: %.1f MB\n", $1/1024}' "$work/rss"

echo "== the queue's own cost per entry"
"$build/bench/bench_queue_overhead" "$entries"

echo "== one creation, for comparison"
CORVENZA_USER_ID=queue-bench-single "$build/bench/bench_concurrent_creations" "$front" "$side" 1
