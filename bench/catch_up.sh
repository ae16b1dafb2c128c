#!/usr/bin/env bash
# Catching up after a dropped real-time connection, for a user holding few and
# many requests: the time from the subscriptions being acknowledged again to
# the last event of the changes made while they were down.
# Usage: bench/catch_up.sh [BUILD_DIR] [REQUESTS...]   (default 1 200)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 200)

# No estimate during the run: the only changes are the benchmark's own.
# shellcheck source=bench/emulator.sh
emulator_args=(--estimation-delay 600000)
source bench/emulator.sh
base=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["base"])' "$work/ready")

for n in "${counts[@]}"; do
  CORVENZA_USER_ID="catch-up-$n" "$build/bench/bench_catch_up" "$n" 1 "$base"
done
