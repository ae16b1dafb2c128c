#!/usr/bin/env bash
# Several clients in one process against one emulator on loopback: CLIENTS
# users, PER_CLIENT creations each, all at once (wall time, throughput, peak
# memory).
# Usage: bench/clients_in_one_process.sh [BUILD_DIR] [CLIENTS] [PER_CLIENT]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
clients=${2:-5}
per_client=${3:-10}
front=examples/photos/front-4032x3024-exif6.jpg
side=examples/photos/side-3024x4032.jpg

# shellcheck source=bench/emulator.sh
source bench/emulator.sh

echo "== $clients clients x $per_client creations at once in one process"
"$build/bench/bench_clients_in_one_process" "$front" "$side" "$clients" "$per_client"
