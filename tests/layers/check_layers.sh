#!/usr/bin/env bash
# Fails when a source includes a header of a layer above its own, or when
# folders include each other (two ways or round a longer loop). The floors
# of src/ and of tools/emulator/ are drawn in docs/architecture.md; of the
# public headers, <corvenza/enterprise.h>, <corvenza/estimation_client.h> and
# <corvenza/creation_queue.h> belong to the facade, client and queue layers,
# the others to core. platform's components count as folders of their own.
# Usage: check_layers.sh SOURCE_DIR
set -euo pipefail
root=${1:?usage: check_layers.sh SOURCE_DIR}

library_layers=(core platform support graphql model auth requests creation client queue facade)
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
# A folder of the tree, or nothing for a header from elsewhere.
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

# check NAME DIR LAYER_OF FOLDER_OF LAYER...
check() {
  local name=$1 dir=$2 layer_of=$3 folder_of=$4 file header own theirs from to edges="" loop=""
  shift 4
  local layers=("$@")
  rank() {
    local i
    for i in "${!layers[@]}"; do
      if [[ " ${layers[$i]} " == *" $1 "* ]]; then echo "$i" && return; fi
    done
    echo -1
  }
  while IFS= read -r -d '' file; do
    file=${file#./}
    own=$(rank "$("$layer_of" "$file")")
    from=$("$folder_of" "$file")
    while IFS= read -r header; do
      to=$("$folder_of" "$header")
      if [ -n "$to" ] && [ "$to" != "$from" ]; then edges+="$from $to"$'\n'; fi
      theirs=$(rank "$("$layer_of" "$header")")
      if [ "$own" -ge 0 ] && [ "$theirs" -gt "$own" ]; then
        fail "$name: $file ($("$layer_of" "$file")) includes $header ($("$layer_of" "$header")), a layer above it"
      fi
    done < <(sed -n -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]+)[">].*/\1/p' "$dir/$file")
  done < <(cd "$dir" && find . \( -name '*.cpp' -o -name '*.h' \) -print0)
  # tsort names the folders of every loop, one a line, after a heading.
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
