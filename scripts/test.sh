#!/usr/bin/env bash
# Builds tarnvel and runs the whole test suite: unit and end-to-end tests against a real SQLite
# store and a throw-away PostgreSQL server, the dialog program's tests offscreen, the Debian
# package built, checked by lintian, installed, used and removed again, then a second full pass
# built with AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of every fuzz
# target. Installs what it needs first (as root), then checks that every C/C++ file is formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

bash scripts/install_packages.sh

echo "== clang-format =="
bash scripts/format_check.sh

source scripts/scratch_postgres.sh
scratch_postgres tarnvel-test-pg "${TARNVEL_TEST_PG_PORT:-55432}"

export QT_QPA_PLATFORM=offscreen
export LC_ALL=C.UTF-8

echo "== build and test =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== Debian package: built, lintian, installed, used, removed =="
bash scripts/package_check.sh

echo "== AddressSanitizer + UndefinedBehaviorSanitizer pass =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNVEL_SANITIZE=ON \
  -DTARNVEL_BUILD_GUI=OFF -DTARNVEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs")

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzz smoke =="
  FUZZ_SECONDS=${FUZZ_SECONDS:-20} bash scripts/fuzz.sh
fi
