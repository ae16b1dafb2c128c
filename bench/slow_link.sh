#!/usr/bin/env bash
# A whole creation over slow links: `corvenza create` over TLS against the
# emulator, every endpoint reached through bench/link_model.py on loopback
# (a round trip time and an uplink and a downlink rate that all connections
# share). For each link: one creation that caches the token, then RUNS more
# (a new process each), with their median wall time, connections and bytes,
# and how far the median is above the floor (the bytes sent up over the
# uplink rate, plus six round trips).
#   --hosts    each service (auth, identity, GraphQL, storage) behind a port
#              of its own, as the real ones are on hosts of their own, so that
#              no connection serves two of them; still one link
#   --slowest  one creation on 300 ms, 0.1 Mbit/s up, 0.2 down (minutes)
#   --stall    an uplink that carries 200 000 bytes and then nothing: the
#              creation ends on the client's silence limit, with its error
# Usage: bench/slow_link.sh [--hosts] [--slowest | --stall] [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
mode=links
services=(all)
while [[ ${1:-} == --* ]]; do
  case $1 in
    --hosts) services=(auth identity graphql storage) ;;
    --slowest | --stall) mode=${1#--} ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
build=${1:-build/default}
runs=${2:-5}
cli=$build/tools/corvenza/corvenza
front=examples/photos/front-4032x3024-exif6.jpg
side=examples/photos/side-3024x4032.jpg

emulator_args=(--tls)
# shellcheck source=bench/emulator.sh
source bench/emulator.sh
export CORVENZA_USER_ID=bench-user

link_pid=
link_ports=()
for _ in "${services[@]}"; do link_ports+=(0); done
stop_link() {
  if [ -n "$link_pid" ]; then
    { kill "$link_pid" 2>/dev/null && wait "$link_pid" 2>/dev/null; } || true
    link_pid=
  fi
}
trap 'stop_link; cleanup' EXIT
trap 'exit 130' INT TERM

# The emulator serves every service on one port; the link model goes in front
# of it, on the same ports of its own for every link, so that the endpoints (and
# the cached token) stay the same.
emulator_port=${AWS_ENDPOINT_URL_S3#https://127.0.0.1:}
emulator_port=${emulator_port%%/*}
[[ $emulator_port =~ ^[0-9]+$ ]] || { echo "no https endpoint in emulator.env" >&2; exit 1; }

start_link() {  # RTT_MS UP_MBIT DOWN_MBIT [more link_model.py arguments]
  local rtt=$1 up=$2 down=$3
  shift 3
  local ports=() port line i=0
  for port in "${link_ports[@]}"; do ports+=(--port "$port"); done
  : >"$work/link.out"
  python3 bench/link_model.py "${ports[@]}" --target "$emulator_port" --rtt "$rtt" \
    --up "$up" --down "$down" --stats "$work/link.json" --verbose "$@" \
    >"$work/link.out" 2>>"$work/link.log" &
  link_pid=$!
  for _ in $(seq 1 100); do
    [ "$(wc -l <"$work/link.out")" -ge "${#link_ports[@]}" ] && break
    sleep 0.1
  done
  while read -r line; do
    [[ $line =~ ^listening\ 127\.0\.0\.1:([0-9]+)$ ]] || break
    link_ports[i++]=${BASH_REMATCH[1]}
  done <"$work/link.out"
  [ "$i" -eq "${#link_ports[@]}" ] || { echo "link model did not start" >&2; exit 1; }
}

port_of() {  # the link model's port for a service
  local i
  for i in "${!services[@]}"; do
    [[ ${services[i]} == all || ${services[i]} == "$1" ]] && { echo "${link_ports[i]}"; return; }
  done
}

# Every endpoint of the tool to the link model instead of the emulator: the
# GraphQL one (and the real-time one, made from it) in a copy of the bundle,
# the others in the environment.
point_at_link() {
  local from=127.0.0.1:$emulator_port name service
  mkdir -p "$work/link-bundle"
  cp "$CORVENZA_BUNDLE_DIR"/* "$work/link-bundle/"
  sed "s|$from|127.0.0.1:$(port_of graphql)|g" "$CORVENZA_BUNDLE_DIR/corvenza-config.json" \
    >"$work/link-bundle/corvenza-config.json"
  export CORVENZA_BUNDLE_DIR=$work/link-bundle
  for name in CORVENZA_API_URL:auth CORVENZA_DASHBOARD_URL:auth \
    AWS_ENDPOINT_URL_COGNITO_IDENTITY:identity AWS_ENDPOINT_URL_S3:storage; do
    service=${name#*:} name=${name%:*}
    [ -n "${!name:-}" ] && export "$name=${!name//$from/127.0.0.1:$(port_of "$service")}"
  done
  if grep -q "$from" "$CORVENZA_BUNDLE_DIR/corvenza-config.json" || [[ $(env) == *"$from"* ]]; then
    echo "an endpoint still names the emulator's port" >&2
    exit 1
  fi
}

signal_link() {  # USR1: write the counters; USR2: zero them. Waits for the file.
  rm -f "$work/link.json"
  kill "-$1" "$link_pid"
  for _ in $(seq 1 100); do [ -s "$work/link.json" ] && return; sleep 0.05; done
  echo "link model wrote no counters" >&2
  exit 1
}

link_counters() {  # prints: connections bytes_up bytes_down
  signal_link USR1
  python3 -c 'import json, sys
c = json.load(open(sys.argv[1]))
print(c["connections"], c["bytes_up"], c["bytes_down"])' "$work/link.json"
}

# One creation, a process of its own: sets took (ms), status, first (ms until
# its first connection: start-up and photos, before anything is sent) and the
# link's counters for it (connections, bytes_up, bytes_down); its output is
# in $work/out.
create_once() {
  local start end counters
  signal_link USR2
  log_from=$(($(wc -l <"$work/link.log") + 1))
  emulator_from=$(($(wc -l <"$work/emulator.log") + 1))
  start=$EPOCHREALTIME
  status=0
  "$cli" create --height 170 --weight 62.5 --age 35 --gender female \
    --front "$front" --side "$side" >"$work/out" 2>&1 || status=$?
  end=$EPOCHREALTIME
  took=$(((${end/./} - ${start/./}) / 1000))
  started=$start
  # What is still on its way (the last closes) has been read by the link by now.
  sleep 0.2
  counters=$(link_counters)
  read -r connections bytes_up bytes_down <<<"$counters"
  first=$(tail -n "+$log_from" "$work/link.log" | awk -v t0="$started" '
    / opened on port / { printf "%.0f", ($1 - t0) * 1000; found = 1; exit }
    END { if (!found) print "-" }')
}

connections_of_run() {  # the link's log of the last creation, times from its start
  local names="" i
  for i in "${!services[@]}"; do names+="${link_ports[i]}=${services[i]} "; done
  tail -n "+$log_from" "$work/link.log" | awk -v t0="$started" -v names="$names" '
    BEGIN { n = split(names, pairs, " "); for (i = 1; i <= n; i++) {
              split(pairs[i], kv, "="); service[kv[1]] = kv[2] }; n = 0 }
    / opened on port / { order[++n] = $3; opened[$3] = ($1 - t0) * 1000; to[$3] = service[$7] }
    / closed: / { what[$3] = sprintf("open %6.0f ms, %s up, %s down", $6 * 1000, $8, $11) }
    END { for (i = 1; i <= n; i++)
            printf "    %sconnection at +%5.0f ms, %s\n",
                   to[order[i]] == "all" ? "" : to[order[i]] " ", opened[order[i]],
                   order[i] in what ? what[order[i]] : "still open when the link stopped" }'
}

requests_of_run() {  # what the emulator was asked during the last creation
  tail -n "+$emulator_from" "$work/emulator.log" |
    sed -nE 's|^\[emulator\] ([A-Z]+) (/s3/.*/)?([^ ]+) ([0-9]+)$|\1 \3 \4|p' | paste -sd, - |
    sed 's/,/, /g; s/^/    /'
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

summary=()
failures=0
run_link() {  # RTT_MS UP_MBIT DOWN_MBIT
  local rtt=$1 up=$2 down=$3 times=() firsts=() nets=() conns=() ups=() i
  echo "== $rtt ms round trip, $up Mbit/s up, $down Mbit/s down"
  start_link "$rtt" "$up" "$down"
  create_once
  echo "warm-up (fetches the token unless cached): $took ms (first connection at +$first ms)," \
    "$connections connections, $bytes_up bytes up, exit status $status"
  for i in $(seq 1 "$runs"); do
    create_once
    echo "run $i: $took ms (first connection at +$first ms), $connections connections," \
      "$bytes_up bytes up, $bytes_down down"
    if [ "$status" -ne 0 ]; then
      echo "  exit status $status: $(tail -n 3 "$work/out")"
      failures=$((failures + 1))
      continue
    fi
    times+=("$took") firsts+=("$first") nets+=("$((took - first))")
    conns+=("$connections") ups+=("$bytes_up")
  done
  echo "  connections of the last run:"
  connections_of_run
  echo "  requests of the last run, as answered (the emulator's log):"
  requests_of_run
  stop_link
  [ "${#times[@]}" -gt 0 ] || { summary+=("| $rtt ms, $up / $down Mbit/s | all runs failed |"); return; }
  local m f n c b floor over net_over
  m=$(printf '%s\n' "${times[@]}" | median)
  f=$(printf '%s\n' "${firsts[@]}" | median)
  n=$(printf '%s\n' "${nets[@]}" | median)
  c=$(printf '%s\n' "${conns[@]}" | median)
  b=$(printf '%s\n' "${ups[@]}" | median)
  floor=$(awk -v b="$b" -v up="$up" -v rtt="$rtt" 'BEGIN {printf "%.0f", b * 8 / (up * 1000) + 6 * rtt}')
  over=$(awk -v m="$m" -v f="$floor" -v rtt="$rtt" 'BEGIN {printf "%.1f", (m - f) / rtt}')
  net_over=$(awk -v m="$n" -v f="$floor" -v rtt="$rtt" 'BEGIN {printf "%.1f", (m - f) / rtt}')
  echo "median $m ms over ${#times[@]} runs; $c connections and $b bytes up per creation;" \
    "floor $floor ms; $over round trips above it"
  echo "  the first connection at +$f ms (median); from it to the end $n ms," \
    "$net_over round trips above the floor"
  summary+=("| $rtt ms, $up / $down Mbit/s | $m ms | $c | $b | $floor ms | $over | $f ms | $net_over |")
}

start_link 0 0 0
point_at_link
stop_link
: >"$work/link.log"

case $mode in
  links)
    run_link 60 10 30
    run_link 300 1 2
    run_link 30 50 100
    echo
    echo "runs per link: $runs ($build; services: ${services[*]})"
    echo "| link (round trip, up / down) | median wall | connections | bytes up | floor" \
      "| round trips above | first connection at | round trips above, from it |"
    echo "|---|---|---|---|---|---|---|---|"
    printf '%s\n' "${summary[@]}"
    [ "$failures" -eq 0 ] || { echo "$failures runs failed"; exit 1; }
    ;;
  slowest)
    start_link 0 0 0
    create_once  # the token, fetched at full speed
    stop_link
    echo "== 300 ms round trip, 0.1 Mbit/s up, 0.2 Mbit/s down: one creation"
    start_link 300 0.1 0.2
    create_once
    stop_link
    echo "$took ms, $connections connections, $bytes_up bytes up, $bytes_down down," \
      "exit status $status"
    connections_of_run
    echo "  requests, as answered (the emulator's log):"
    requests_of_run
    [ "$status" -eq 0 ] || { echo "exit status $status: $(cat "$work/out")"; exit 1; }
    ;;
  stall)
    start_link 0 0 0
    create_once
    stop_link
    echo "== 60 ms round trip, 10 / 30 Mbit/s, the uplink silent after 200 000 bytes"
    start_link 60 10 30 --stall-after-up 200000
    create_once
    stop_link
    stalled=$(tail -n "+$log_from" "$work/link.log" | awk '/uplink stalled/ {print $1; exit}')
    echo "$took ms, $connections connections, $bytes_up bytes up, exit status $status"
    if [ -n "$stalled" ]; then
      awk -v s="$stalled" -v t0="$started" -v took="$took" \
        'BEGIN {printf "stalled at +%.0f ms; the tool gave up %.1f s later\n", (s - t0) * 1000, took / 1000 - (s - t0)}'
    fi
    connections_of_run
    echo "  requests, as answered (the emulator's log):"
    requests_of_run
    echo "its output:"
    sed 's/^/  /' "$work/out"
    ;;
esac
