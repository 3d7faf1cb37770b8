#!/usr/bin/env bash
# The store checker on a generated store of ROWS rows and files (default 100,000), into SQLite
# and, with TARNVEL_PG_HOST, TARNVEL_PG_PORT, TARNVEL_PG_USER and TARNVEL_PG_PASSWORD set, into
# PostgreSQL: its wall time and peak memory beside reading every file of the store once (tar
# into /dev/null), measured side by side, REPS times each (default 3; medians).
#
#   bench/check_benchmark.sh [BUILD_DIR] [SCRATCH_DIR]
#
# BUILD_DIR (default build-release) must hold bin/tarnvel-check, bin/store_generate_tool and
# bin/measure_tool. SCRATCH_DIR (default a new folder under /tmp) is removed at the end unless
# KEEP_SCRATCH=1.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=bench/bench_common.sh
source "$here/bench_common.sh"
bench_open build-release tarnvel-check-bench "${1:-}" "${2:-}" tarnvel-check store_generate_tool measure_tool
rows=${ROWS:-100000}
reps=${REPS:-3}
pg_db=
trap bench_drop_outputs EXIT

sqlite3 "$scratch/store.db" <"$root/schema/qor_sqlite.sql"
sources=("BENCH=sqlite:$scratch/store.db")
if [ -n "${TARNVEL_PG_HOST:-}" ]; then
  pg_db=tarnvel_check_bench_$$
  pg -d postgres -c "create database $pg_db"
  pg -d "$pg_db" -f "$root/schema/qor_postgres.sql" >/dev/null
  sources+=("PGBENCH=postgres:$TARNVEL_PG_HOST:$TARNVEL_PG_PORT:$pg_db")
fi
eval "$(bash "$root/scripts/odbc_config.sh" "$scratch/odbc" "${sources[@]}")"
export TZ=UTC

# bench NAME CONNECTION...: generates the store, then times the checker beside tar.
bench() {
  local name=$1
  shift
  local data=$scratch/data-$name
  log "$name: generating $rows rows and files"
  "$bin/store_generate_tool" "$@" "DATA=$data" "ROWS=$rows" >&2
  local check_walls="" tar_walls="" rss=0 wall user sys peak status
  for ((r = 1; r <= reps; ++r)); do
    log "$name: repetition $r of $reps"
    "$bin/measure_tool" "$scratch/result.txt" "$bin/tarnvel-check" "$@" "DATA=$data" \
      >"$scratch/$name.out" 2>&1 || true
    read -r wall user sys peak status <"$scratch/result.txt"
    if [ "$status" != 0 ]; then
      echo "$name: the check found problems or failed (exit $status):" >&2
      tail -5 "$scratch/$name.out" >&2
      exit 1
    fi
    check_walls+="$wall "
    if [ "$peak" -gt "$rss" ]; then rss=$peak; fi
    "$bin/measure_tool" "$scratch/result.txt" tar -cf /dev/null -C "$data" . >/dev/null 2>&1
    read -r wall user sys peak status <"$scratch/result.txt"
    tar_walls+="$wall "
  done
  local check tar
  check=$(median "$check_walls")
  tar=$(median "$tar_walls")
  printf '%-11s %8d rows: check %7.2f s (%s), reading every file with tar %6.2f s, ratio %5.2f, peak memory %d kB\n' \
    "$name" "$rows" "$check" "$(tail -1 "$scratch/$name.out")" "$tar" \
    "$(awk -v a="$check" -v b="$tar" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')" "$rss"
}

bench SQLite ODBC=BENCH USER=bench PASSWORD=bench
if [ -n "$pg_db" ]; then
  bench PostgreSQL ODBC=PGBENCH "USER=$TARNVEL_PG_USER" "PASSWORD=$TARNVEL_PG_PASSWORD"
fi
