#!/usr/bin/env bash
# A listener that runs for days: the peak memory of one process hearing few
# and many update events (bench_realtime_latency keeps a fixed histogram, so
# what grows is the library's).
# Usage: bench/realtime_soak.sh [BUILD_DIR] [EVENTS...]   (default 1000 100000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000 100000)

# No estimate during the run: every event is one of the benchmark's updates.
# shellcheck source=bench/emulator.sh
emulator_args=(--estimation-delay 600000)
source bench/emulator.sh

for n in "${counts[@]}"; do
  echo "== $n events"
  CORVENZA_USER_ID="soak-$n" "$build/bench/bench_realtime_latency" "$n"
done
