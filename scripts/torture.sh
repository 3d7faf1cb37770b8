#!/usr/bin/env bash
# The store's torture test for MINUTES minutes with fresh random seeds: random histories of
# conversions, kills, damage by hand and refusing databases, each checked after every step
# against the model of the store's promise, on SQLite and PostgreSQL side by side (one process
# each). Prints a line per history, and for every failure its seed, the failing step and the
# history shrunk to a small case ready to paste into the fixed cases of
# tests/e2e/torture_e2e_test.cpp; the figures per database at the end.
#
#   bash scripts/torture.sh MINUTES [arguments of tarnvel_torture, e.g. --steps 40 --without kill]
#
# Uses the PostgreSQL server named by TARNVEL_PG_* when they are set, else starts a throw-away
# one (scripts/pg_server.sh, port TARNVEL_TORTURE_PG_PORT or 55439; as root). Builds into
# TARNVEL_BUILD_DIR (default build); logs and every history run go to TARNVEL_TORTURE_LOGS
# (default <build>/torture). Exit status 1 when a history failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
minutes=${1:?usage: scripts/torture.sh MINUTES [arguments of tarnvel_torture]}
shift
build=${TARNVEL_BUILD_DIR:-build}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNVEL_BUILD_GUI=OFF \
    -DTARNVEL_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target tarnvel tarnvel_torture tarnvel_kill_at >/dev/null

if [ -z "${TARNVEL_PG_HOST:-}" ]; then
  source scripts/scratch_postgres.sh
  scratch_postgres tarnvel-torture-pg "${TARNVEL_TORTURE_PG_PORT:-55439}"
fi
export LC_ALL=C.UTF-8

logs=${TARNVEL_TORTURE_LOGS:-$build/torture}
mkdir -p "$logs"
pids=()
for db in sqlite postgresql; do
  rm -f "$logs/$db-histories.txt"
  ("$build/bin/tarnvel_torture" --minutes "$minutes" --databases "$db" \
    --histories "$logs/$db-histories.txt" "$@" 2>&1 | tee "$logs/$db.log" |
    sed -u "s/^/$db | /") &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
for db in sqlite postgresql; do
  sed -n '/^Torture run/,$p' "$logs/$db.log"
  grep -q '^Torture run' "$logs/$db.log" || { echo "$db: the run did not finish"; status=1; }
  if grep -q 'FAILED' "$logs/$db.log"; then status=1; fi
done
echo "Logs and histories: $logs"
exit "$status"
