#!/usr/bin/env bash
# Fails when a library source includes a header of a layer above its own.
# Layers, bottom to top: core platform support graphql model auth requests
# facade. The facade is the public <corvenza/enterprise.h> and the files in
# src/core that hold its state and start-up; other public headers are plain
# types of the ground floor.
# Usage: check_layers.sh SOURCE_DIR
set -euo pipefail
root=${1:?usage: check_layers.sh SOURCE_DIR}
cd "$root/src"

layers=(core platform support graphql model auth requests facade)
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

# Facade files still living in src/core.
facade_files=" core/enterprise.cpp core/enterprise_appsync.cpp core/enterprise_aws.cpp
 core/enterprise_identity.cpp core/enterprise_identity.h core/enterprise_images.cpp
 core/enterprise_impl.h core/presigned_links.cpp core/presigned_links.h "
layer_of() {
  case "$1" in
    corvenza/enterprise.h) echo facade ;;
    corvenza/*) echo core ;;
    *)
      if [[ "$facade_files" == *" $1 "* || "$facade_files" == *" $1"$'\n'* ]]; then
        echo facade
      else
        echo "${1%%/*}"
      fi
      ;;
  esac
}

# Upward includes that remain until the request operations stop being facade
# members (each line: including file, included header). No new line may be
# added here: an upward include is fixed, not listed.
known=$(
  cat <<'KNOWN'
model/remote_image_proxy.cpp core/presigned_links.h
requests/answer_step.h corvenza/enterprise.h
requests/file_util.cpp core/enterprise_impl.h
requests/file_util.cpp corvenza/enterprise.h
requests/image_upload_input.cpp core/enterprise_impl.h
requests/image_upload_input.cpp corvenza/enterprise.h
requests/operation_guard.cpp corvenza/enterprise.h
requests/request_support.h core/enterprise_impl.h
requests/request_support.h corvenza/enterprise.h
requests/subscriptions.h core/enterprise_impl.h
requests/subscriptions.h corvenza/enterprise.h
support/permission_util.cpp corvenza/enterprise.h
KNOWN
)

failures=0
seen_known=""
while IFS= read -r -d '' file; do
  file=${file#./}
  own=$(rank "$(layer_of "$file")")
  [ "$own" -ge 0 ] || continue
  while IFS= read -r header; do
    [ -n "$header" ] || continue
    theirs=$(rank "$(layer_of "$header")")
    [ "$theirs" -gt "$own" ] || continue
    if grep -qxF "$file $header" <<<"$known"; then
      seen_known+="$file $header"$'\n'
      continue
    fi
    echo "layers: $file ($(layer_of "$file")) includes $header ($(layer_of "$header")), a layer above it" >&2
    failures=$((failures + 1))
  done < <(sed -n -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]+)[">].*/\1/p' "$file")
done < <(find . \( -name '*.cpp' -o -name '*.h' \) -print0)

# A listed include that is gone must leave the list too.
while IFS= read -r line; do
  if ! grep -qxF "$line" <<<"$seen_known"; then
    echo "layers: '$line' no longer runs up a layer; remove it from the list" >&2
    failures=$((failures + 1))
  fi
done <<<"$known"

if [ "$failures" -gt 0 ]; then
  echo "layers: $failures include(s) run up a layer" >&2
  exit 1
fi
echo "layers: no include runs up a layer"
