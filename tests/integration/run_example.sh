#!/usr/bin/env bash
# Runs an example program against a fresh emulator:
#   run_example.sh EMULATOR EXAMPLE PHOTO_DIR [MEASUREMENT_LINES]
# Exits with the example's status, and fails when the example printed other
# than MEASUREMENT_LINES measurements (18 by default; 0 skips the count). The
# emulator is stopped in every case.
set -euo pipefail

emulator_bin="$1"
example_bin="$2"
photos="$3"
measurements="${4:-18}"

work="$(mktemp -d "${TMPDIR:-/tmp}/corvenza-example.XXXXXX")"
emulator_pid=""
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  if [ -n "$emulator_pid" ]; then
    kill -TERM "$emulator_pid" 2>/dev/null || true
    wait "$emulator_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$emulator_bin" --port 0 --data-dir "$work/data" --write-bundle "$work/bundle" \
  >"$work/ready" 2>"$work/emulator.log" &
emulator_pid=$!
for _ in $(seq 1 300); do
  [ -s "$work/ready" ] && break
  kill -0 "$emulator_pid" 2>/dev/null || { cat "$work/emulator.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/ready" ] || { echo "the emulator did not get ready" >&2; exit 1; }

# shellcheck disable=SC1091
source "$work/bundle/emulator.env"
export CORVENZA_USER_ID=example-user
export CORVENZA_KEYCHAIN_DIR="$work/keychain"
export CORVENZA_CACHE_DIR="$work/cache"
export CORVENZA_QUEUE_DIR="$work/queue"

"$example_bin" "$photos/front-4032x3024-exif6.jpg" "$photos/side-3024x4032.jpg" | tee "$work/out"
# The run counts only when every measurement was printed.
if [ "$measurements" -gt 0 ]; then
  [ "$(grep -c ' cm$' "$work/out")" -eq "$measurements" ] ||
    { echo "expected $measurements measurements" >&2; exit 1; }
fi
