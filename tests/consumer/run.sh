#!/usr/bin/env bash
# Installs the built tree into a scratch prefix, builds the consumer against it
# with find_package(Corvenza) and with pkg-config, and runs both.
# Usage: run.sh BUILD_DIR [COMPILER_FLAGS]  (flags the tree was built with, such
# as sanitizers, which the consumer must share to link against it)
set -euo pipefail
build_dir=$1
flags=${2:-}
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/consumer"
PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --exists corvenza
# shellcheck disable=SC2086  # the flags are a list
c++ -std=c++20 $flags "$source_dir/main.cpp" -o "$work/consumer-pc" \
  $(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs --static corvenza)
"$work/consumer-pc"
