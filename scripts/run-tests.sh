#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test; then builds the
# same tree with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole suite again,
# the private-session tests included. Both builds go through ccache.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
# Paths relative to the checkout, so a fresh clone elsewhere reuses what an earlier one compiled.
export CCACHE_BASEDIR="$PWD"
for preset in ci asan; do
  cmake --preset "$preset" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j 2
done
