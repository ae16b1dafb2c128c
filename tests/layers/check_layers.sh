#!/usr/bin/env bash
# Fails when a library source includes a header of a layer above its own.
# Layers, bottom to top: core platform support graphql model auth requests
# client facade. The facade is src/facade and the public
# <corvenza/enterprise.h>; the client layer src/client and
# <corvenza/estimation_client.h>; other public headers are plain types of the
# ground floor.
# Usage: check_layers.sh SOURCE_DIR
set -euo pipefail
root=${1:?usage: check_layers.sh SOURCE_DIR}
cd "$root/src"

layers=(core platform support graphql model auth requests client facade)
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

if [ "$failures" -gt 0 ]; then
  echo "layers: $failures include(s) run up a layer" >&2
  exit 1
fi
echo "layers: no include runs up a layer"
