#!/usr/bin/env bash
# Builds Korva and runs the whole test suite. Installs the Debian packages it
# needs first. KORVA_SANITIZE=1 builds and tests under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-sanitize/ instead of build/.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build=build
flags=()
if [ "${KORVA_SANITIZE:-0}" = 1 ]; then
  build=build-sanitize
  flags=(-DKORVA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi

cmake -S . -B "$build" -G Ninja "${flags[@]}"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
