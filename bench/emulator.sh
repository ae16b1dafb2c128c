# Sourced by the benchmark scripts: starts the emulator of build "$build" on
# loopback in a scratch folder "$work" (with the extra arguments of the array
# "emulator_args", when set), stops it and removes the folder on exit, and exports the tool's
# environment with a token store and cache of the run's own.
work=$(mktemp -d)
emulator_pid=
cleanup() {
  [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null && wait "$emulator_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$build/tools/emulator/corvenza-emulator" --port 0 --data-dir "$work/data" \
  --write-bundle "$work/bundle" ${emulator_args[@]+"${emulator_args[@]}"} \
  >"$work/ready" 2>"$work/emulator.log" &
emulator_pid=$!
for _ in $(seq 1 100); do [ -s "$work/ready" ] && break; sleep 0.1; done
[ -s "$work/ready" ] || { echo "emulator did not start" >&2; exit 1; }
# shellcheck disable=SC1091
source "$work/bundle/emulator.env"
export CORVENZA_KEYCHAIN_DIR=$work/keychain CORVENZA_CACHE_DIR=$work/cache
