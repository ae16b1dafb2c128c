#!/usr/bin/env bash
# Fails when a source includes a header of a layer above its own, or when
# folders include each other (two ways, or round a longer loop).
#
# The library, src/, bottom to top: core platform support graphql model auth
# requests client queue facade. The facade is src/facade and the public
# <corvenza/enterprise.h>; the client layer src/client and
# <corvenza/estimation_client.h>; the queue src/queue and
# <corvenza/creation_queue.h>; other public headers are plain types of the
# ground floor. platform's components count as folders of their own.
#
# The emulator, tools/emulator/, bottom to top: base estimation gql faults
# context, then the services (auth identity storage gateway realtime
# dashboard control: one floor, folders of their own), server, and the root
# files that wire it all (emulator, main, bundle writer). Headers from
# outside it (the library's, the verifier's) are not its floors.
# Usage: check_layers.sh SOURCE_DIR
set -euo pipefail
root=${1:?usage: check_layers.sh SOURCE_DIR}

library_layers=(core platform support graphql model auth requests client queue facade)
emulator_layers=(base estimation gql faults context
  "auth identity storage gateway realtime dashboard control" server .)

library_layer() {
  case "$1" in
    corvenza/enterprise.h) echo facade ;;
    corvenza/estimation_client.h) echo client ;;
    corvenza/creation_queue.h) echo queue ;;
    corvenza/*) echo core ;;
    *) echo "${1%%/*}" ;;
  esac
}
library_folder() {
  [ -e "$root/src/$1" ] || return 0
  case "$1" in
    platform/*/*) echo "${1%/*}" ;;
    *) echo "${1%%/*}" ;;
  esac
}

emulator_folder() {
  [ -e "$root/tools/emulator/$1" ] || return 0
  case "$1" in
    */*) echo "${1%%/*}" ;;
    *) echo . ;;
  esac
}

failures=0
fail() {
  echo "layers: $*" >&2
  failures=$((failures + 1))
}

# check NAME DIR LAYER_FUNCTION FOLDER_FUNCTION LAYER...
check() {
  local name=$1 dir=$2 layer_of=$3 folder_of=$4
  shift 4
  local layers=("$@")
  rank() {
    local i
    for i in "${!layers[@]}"; do
      if [[ " ${layers[$i]} " == *" $1 "* ]]; then
        echo "$i"
        return
      fi
    done
    echo -1
  }
  local file header own theirs from to edges="" loop
  while IFS= read -r -d '' file; do
    file=${file#./}
    own=$(rank "$("$layer_of" "$file")")
    from=$("$folder_of" "$file")
    while IFS= read -r header; do
      [ -n "$header" ] || continue
      to=$("$folder_of" "$header")
      if [ -n "$to" ] && [ "$to" != "$from" ]; then edges+="$from $to"$'\n'; fi
      [ "$own" -ge 0 ] || continue
      theirs=$(rank "$("$layer_of" "$header")")
      if [ "$theirs" -gt "$own" ]; then
        fail "$name: $file ($("$layer_of" "$file")) includes $header ($("$layer_of" "$header")), a layer above it"
      fi
    done < <(sed -n -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]+)[">].*/\1/p' "$dir/$file")
  done < <(cd "$dir" && find . \( -name '*.cpp' -o -name '*.h' \) -print0)

  # tsort names every loop among the folders, one member a line.
  loop=""
  while IFS= read -r line; do
    if [[ "$line" == *"input contains a loop"* ]]; then
      [ -z "$loop" ] || fail "$name: folders include each other:$loop"
      loop=""
    else
      loop+=" ${line#tsort: }"
    fi
  done < <(sort -u <<<"$edges" | tsort 2>&1 >/dev/null || true)
  [ -z "$loop" ] || fail "$name: folders include each other:$loop"
}

check library "$root/src" library_layer library_folder "${library_layers[@]}"
check emulator "$root/tools/emulator" emulator_folder emulator_folder "${emulator_layers[@]}"

if [ "$failures" -gt 0 ]; then
  echo "layers: $failures include(s) run up a layer or round a loop of folders" >&2
  exit 1
fi
echo "layers: no include runs up a layer, and no folders include each other"
