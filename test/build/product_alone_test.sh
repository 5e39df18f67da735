#!/bin/sh
# Configures the sources $1 for the product alone, as distribution builds do, with
# GoogleTest and pkg-config (and so libfuse) out of reach; extra arguments go to cmake.
set -eu
source=$1
shift
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake -S "$source" -B "$scratch" -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON "$@" >"$scratch/log" 2>&1 || { cat "$scratch/log"; exit 1; }
# Only the product: no test program and no part of the simulated hub.
if grep -Eq '(^| )(bwsim_|bw_test_support|gtest)' "$scratch/Makefile" "$scratch"/CMakeFiles/Makefile2; then
  echo "test targets in the product-only build"; exit 1
fi
grep -q 'bw-selftest' "$scratch/CMakeFiles/Makefile2"
