#!/usr/bin/env bash
# Fails when a library source includes a header of a layer above its own.
# Layers, bottom to top: core platform support graphql model auth requests
# client queue facade. The facade is src/facade and the public
# <corvenza/enterprise.h>; the client layer src/client and
# <corvenza/estimation_client.h>; the queue src/queue and
# <corvenza/creation_queue.h>; other public headers are plain types of the
# ground floor.
# Usage: check_layers.sh SOURCE_DIR
set -euo pipefail
root=${1:?usage: check_layers.sh SOURCE_DIR}
cd "$root/src"

layers=(core platform support graphql model auth requests client queue facade)
rank() {
  local i
  for i in "${!layers[@]}"; do
    if [ "${layers[$i]}" = "$1" ]; then
      echo "$i"
      return
    fi
  done
  echo -1
}

layer_of() {
  case "$1" in
    corvenza/enterprise.h) echo facade ;;
    corvenza/estimation_client.h) echo client ;;
    corvenza/creation_queue.h) echo queue ;;
    corvenza/*) echo core ;;
    *) echo "${1%%/*}" ;;
  esac
}

failures=0
while IFS= read -r -d '' file; do
  file=${file#./}
  own=$(rank "$(layer_of "$file")")
  [ "$own" -ge 0 ] || continue
  while IFS= read -r header; do
    [ -n "$header" ] || continue
    theirs=$(rank "$(layer_of "$header")")
    [ "$theirs" -gt "$own" ] || continue
    echo "layers: $file ($(layer_of "$file")) includes $header ($(layer_of "$header")), a layer above it" >&2
    failures=$((failures + 1))
  done < <(sed -n -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]+)[">].*/\1/p' "$file")
done < <(find . \( -name '*.cpp' -o -name '*.h' \) -print0)

# Within a layer too, no two folders include each other (platform's
# components count as folders of their own).
folder_of() {
  case "$1" in
    platform/*/*) echo "${1%/*}" ;;
    *) echo "${1%%/*}" ;;
  esac
}
edges=$(
  find . \( -name '*.cpp' -o -name '*.h' \) -print0 |
    while IFS= read -r -d '' file; do
      file=${file#./}
      from=$(folder_of "$file")
      sed -n -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file" |
        while IFS= read -r header; do
          to=$(folder_of "$header")
          if [ "$to" != "$from" ]; then echo "$from $to"; fi
        done
    done | sort -u
)
while read -r from to; do
  [ -n "$from" ] || continue
  if [[ "$from" < "$to" ]] && grep -qxF "$to $from" <<<"$edges"; then
    echo "layers: $from and $to include each other" >&2
    failures=$((failures + 1))
  fi
done <<<"$edges"

if [ "$failures" -gt 0 ]; then
  echo "layers: $failures include(s) run up a layer or between folders both ways" >&2
  exit 1
fi
echo "layers: no include runs up a layer, and no two folders include each other"
