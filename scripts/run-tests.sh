#!/usr/bin/env bash
# Builds everything and runs all tests: the optimised build first (unit, GUI
# and command-line tests, then the GUI tests under a window manager), the
# Release build with default options and its Debian package, then the core
# and the command-line tool again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRO_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
# The window under a real window manager; a packager's Release build and its .deb.
scripts/run-wm-tests.sh
scripts/check-release-package.sh

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRO_SANITIZE=ON -DTAVRO_WERROR=ON \
  -DTAVRO_BUILD_GUI=OFF -DTAVRO_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The fuzz targets, about 20 seconds each (skipped without clang).
scripts/run-fuzz.sh
