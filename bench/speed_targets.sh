#!/usr/bin/env bash
# The converter's speed and memory targets, measured side by side in one run and reported as
# ratios (medians of REPS repetitions):
#   - the 100 MiB Steim2 file and the 2,000-gap file into SQLite (the ODBC data source as
#     scripts/odbc_config.sh writes it) and into PostgreSQL (a server of its own that syncs as a
#     production server does), against the CSS conversion of the same file; every conversion
#     durable (the default: files synced before their rows or lines); SQLite both as the data
#     source scripts/odbc_config.sh writes (WAL, SyncPragma=FULL) and with the driver's
#     defaults, and both outputs once without syncing files (TARNVEL_NO_SYNC=1) for the cost;
#   - peak memory (RSS) of CSS and SQLite conversions of a 1 GiB and a 4 GiB input (3 channels
#     at 100 sps, Steim2), and the 1 GiB conversions' wall time against the larger of a libmseed
#     decode of the file and a durable write of as many bytes as the conversion wrote
#     (dd conv=fdatasync on the same disk).
#
#   bench/speed_targets.sh [BUILD_DIR] [SCRATCH_DIR]
#
# BUILD_DIR (default build) must hold bin/tarnvel, bin/measure_tool, bin/seed_generate_tool and
# bin/mseed_decode_tool. Inputs are generated into SCRATCH_DIR (default: a new folder under
# /tmp; about 5.3 GB of inputs and up to 17 GB of outputs at a time), removed at the end unless
# KEEP_SCRATCH=1 (then inputs already there are used again).
# Environment: REPS (default 3), LARGE_REPS (repetitions of the 1 GiB runs; default 1),
# SKIP_LARGE=1 (neither large input), SKIP_4G=1 (no 4 GiB input), MAX_STEP (largest step of the
# generated random walk; default 800, a realistic mix of Steim2 word layouts),
# PG_PORT (default 55449: the port of the PostgreSQL server the script starts, with fsync on, in
# a folder of its own, stopped at the end; NO_PG=1 measures without PostgreSQL), BEFORE (another
# build's tarnvel program: every conversion is measured with it too, right after the same one
# with BUILD_DIR's, and reported beside it, so that a change is judged side by side in one run).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=bench/bench_common.sh
source "$here/bench_common.sh"
bench_open build tarnvel-speed "${1:-}" "${2:-}" tarnvel measure_tool seed_generate_tool mseed_decode_tool
reps=${REPS:-3}
large_reps=${LARGE_REPS:-1}
max_step=${MAX_STEP:-800}
pg_port=${PG_PORT:-55449}
tarnvel=$bin/tarnvel
before=${BEFORE:-}
if [ -n "$before" ] && [ ! -x "$before" ]; then
  echo "BEFORE=$before is no program" >&2
  exit 2
fi
pg_dir=
pg_db=
cleanup() {
  if [ -n "$pg_dir" ]; then bash "$root/scripts/pg_server.sh" stop "$pg_dir" || true; rm -rf "$pg_dir"; fi
  rm -rf "$scratch/css" "$scratch/data" "$scratch/dd.out"
  if [ "${KEEP_SCRATCH:-0}" != 1 ]; then rm -rf "$scratch"; fi
}
trap cleanup EXIT

# ---------------------------------------------------------------------------------------------
# Inputs (kept from an earlier run with KEEP_SCRATCH=1)
gen() {
  local out=$1
  shift
  [ -s "$out" ] && return 0
  log "generating $out"
  "$bin/seed_generate_tool" "$out.part" "$@" >/dev/null
  mv "$out.part" "$out"
}
gen "$scratch/f100.mseed" --bytes=104857600 --max-step="$max_step"
# One channel of 1000-sample records, each followed by a 1 s gap: 2,000 gaps.
gen "$scratch/gaps2k.mseed" --channels=1 --block=1000 --gap=1 --blocks=2001
if [ "${SKIP_LARGE:-0}" != 1 ]; then
  gen "$scratch/f1g.mseed" --bytes=1073741824 --max-step="$max_step"
  [ "${SKIP_4G:-0}" = 1 ] || gen "$scratch/f4g.mseed" --bytes=4294967296 --max-step="$max_step"
fi

# Databases: a fresh SQLite store per run, copied from a template; PostgreSQL emptied per run.
sqlite3 "$scratch/empty.db" <"$root/schema/qor_sqlite.sql" 2>/dev/null || true
pg_source=()
if [ "${NO_PG:-0}" != 1 ]; then
  pg_dir=$(mktemp -d /tmp/tarnvel-speed-pg.XXXXXX)
  chmod 755 "$pg_dir"
  log "starting a durable PostgreSQL server on port $pg_port"
  eval "$(TARNVEL_PG_DURABLE=1 bash "$root/scripts/pg_server.sh" start "$pg_dir" "$pg_port")"
  pg_db=$TARNVEL_PG_DB
  pg -d "$pg_db" -f "$root/schema/qor_postgres.sql" >/dev/null
  pg_fsync=$(pg -d "$pg_db" -tAc "show fsync")
  pg_source=("PGBENCH=postgres:$TARNVEL_PG_HOST:$TARNVEL_PG_PORT:$pg_db")
fi
eval "$(bash "$root/scripts/odbc_config.sh" "$scratch/odbc" "BENCH=sqlite:$scratch/store.db" "${pg_source[@]}")"
# The same store with nothing but the SQLite ODBC driver's own defaults (rollback journal, the
# driver's sync setting), beside the data source as scripts/odbc_config.sh and the package
# write it (write-ahead journal, every commit synced).
printf '[BENCH_DEFAULTS]\nDriver=SQLite3\nDatabase=%s\nTimeout=10000\n\n' "$scratch/store.db" \
  >>"$scratch/odbc/odbc.ini"

# ---------------------------------------------------------------------------------------------
# Measuring
declare -A WALLS CPUS WALL CPU RSS BYTES SAMPLES

fresh_outputs() {
  rm -rf "$scratch/css" "$scratch/data" "$scratch/store.db" "$scratch/dd.out"
  sync  # the outputs of the run before are on disk, not written back during the next
  mkdir -p "$scratch/css" "$scratch/data"
  cp "$scratch/empty.db" "$scratch/store.db"
  if [ -n "$pg_db" ]; then pg -d "$pg_db" -c "delete from FILELIST"; fi
}

# Bytes under a folder (the waveform files and lock files of a store, the CSS files).
bytes_in() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f", s }'; }

css() { fresh_outputs; measure "$1" "$tarnvel" "$2" "CSS=$scratch/css/" ODBC=BENCH USER=bench PASSWORD=bench "DATA=$scratch/data"; }
sqlite() { fresh_outputs; measure "$1" "$tarnvel" "$2" "ODBC=${3:-BENCH}" USER=bench PASSWORD=bench "DATA=$scratch/data"; }
# Without the syncs of waveform and data files (TARNVEL_NO_SYNC=1): what durability costs.
unsynced() { fresh_outputs; measure "$1" env TARNVEL_NO_SYNC=1 "$tarnvel" "${@:2}" ODBC=BENCH USER=bench PASSWORD=bench "DATA=$scratch/data"; }
postgres() {
  [ -n "$pg_db" ] || return 0
  fresh_outputs
  measure "$1" "$tarnvel" "$2" ODBC=PGBENCH "USER=$TARNVEL_PG_USER" \
    "PASSWORD=$TARNVEL_PG_PASSWORD" "DATA=$scratch/data"
}
decode() { measure "$1" "$bin/mseed_decode_tool" "$2"; }
# A durable write of as many bytes as NAME's conversion wrote, in whole MiB.
durable_write() {
  local name=$1 bytes=$2
  fresh_outputs
  measure "$name" dd if=/dev/zero of="$scratch/dd.out" bs=1M count="$(awk -v b="$bytes" 'BEGIN { printf "%.0f", b / 1048576 + 0.5 }')" conv=fdatasync
}

# twice FUNCTION NAME ARGS...: the measurement, then (with BEFORE) the same with the other
# program as before_NAME.
twice() {
  local fn=$1 name=$2
  shift 2
  "$fn" "$name" "$@"
  if [ -n "$before" ]; then tarnvel=$before "$fn" "before_$name" "$@"; fi
}

log "warming up"
css warmup "$scratch/f100.mseed"
for ((r = 1; r <= reps; ++r)); do
  log "100 MiB and 2,000 gaps: repetition $r of $reps"
  decode libmseed_100 "$scratch/f100.mseed"
  twice css css_100 "$scratch/f100.mseed"
  twice sqlite sqlite_100 "$scratch/f100.mseed"
  twice sqlite sqlite_defaults_100 "$scratch/f100.mseed" BENCH_DEFAULTS
  twice postgres pg_100 "$scratch/f100.mseed"
  twice unsynced css_nosync_100 "$scratch/f100.mseed" "CSS=$scratch/css/"
  twice unsynced sqlite_nosync_100 "$scratch/f100.mseed"
  twice css css_gaps2k "$scratch/gaps2k.mseed"
  twice sqlite sqlite_gaps2k "$scratch/gaps2k.mseed"
  twice sqlite sqlite_defaults_gaps2k "$scratch/gaps2k.mseed" BENCH_DEFAULTS
  twice postgres pg_gaps2k "$scratch/gaps2k.mseed"
done

large_inputs=()
if [ "${SKIP_LARGE:-0}" != 1 ]; then
  large_inputs=(1g)
  [ "${SKIP_4G:-0}" = 1 ] || large_inputs+=(4g)
fi
for size in "${large_inputs[@]}"; do
  n=$large_reps
  [ "$size" = 1g ] || n=1
  for ((r = 1; r <= n; ++r)); do
    log "$size input: repetition $r of $n"
    decode "libmseed_$size" "$scratch/f$size.mseed"
    css "css_$size" "$scratch/f$size.mseed"
    BYTES[css_$size]=$(bytes_in "$scratch/css")
    sqlite "sqlite_$size" "$scratch/f$size.mseed"
    BYTES[sqlite_$size]=$(bytes_in "$scratch/data")
    if [ -n "$before" ]; then
      tarnvel=$before css "before_css_$size" "$scratch/f$size.mseed"
      tarnvel=$before sqlite "before_sqlite_$size" "$scratch/f$size.mseed"
    fi
    durable_write "dd_$size" "${BYTES[css_$size]}"
  done
done
fresh_outputs

# ---------------------------------------------------------------------------------------------
# Report
take_medians
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
larger() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (a > b ? a : b) }'; }
row() { printf '%-50s %10s %10s %7s %7s %s\n' "$@"; }
compare() {  # LABEL NAME REFERENCE TARGET: wall-time ratio of two measurements
  local r
  r=$(ratio "${WALL[$2]}" "${WALL[$3]}")
  row "$1" "${WALL[$2]}" "${WALL[$3]}" "$r" "<=$4" "$(verdict "$r" "$4")"
  if [ -n "${WALL[before_$2]:-}" ] && [ -n "${WALL[before_$3]:-}" ]; then
    r=$(ratio "${WALL[before_$2]}" "${WALL[before_$3]}")
    row "  before (BEFORE's program)" "${WALL[before_$2]}" "${WALL[before_$3]}" "$r" "<=$4" "$(verdict "$r" "$4")"
  fi
}

echo
echo "tarnvel speed and memory targets ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg), medians of $reps; wall seconds unless said)"
echo "Inputs: seed_generate_tool --max-step=$max_step: Steim2, 4096-byte records, 3 channels" \
  "at 100 sps; the gap file one channel of 2,001 records of 1000 samples, 1 s apart"
[ -z "$pg_db" ] || echo "PostgreSQL: own server on port $pg_port, fsync=$pg_fsync"
echo
row "measurement" "figure" "reference" "ratio" "target" "verdict"
row "-----------" "------" "---------" "-----" "------" "-------"
row "decode 100 MiB with libmseed (for scale)" "${WALL[libmseed_100]}" "" "" "" ""
compare "SQLite 100 MiB vs CSS 100 MiB" sqlite_100 css_100 1.2
compare "SQLite 2,000 gaps vs CSS 2,000 gaps" sqlite_gaps2k css_gaps2k 2
compare "  the same, SQLite driver defaults: 100 MiB" sqlite_defaults_100 css_100 1.2
compare "  the same, SQLite driver defaults: 2,000 gaps" sqlite_defaults_gaps2k css_gaps2k 2
row "  without file syncs: SQLite vs CSS 100 MiB" "${WALL[sqlite_nosync_100]}" \
  "${WALL[css_nosync_100]}" "$(ratio "${WALL[sqlite_nosync_100]}" "${WALL[css_nosync_100]}")" "" ""
if [ -n "$pg_db" ]; then
  compare "PostgreSQL 100 MiB vs CSS 100 MiB" pg_100 css_100 1.6
  compare "PostgreSQL 2,000 gaps vs CSS 2,000 gaps" pg_gaps2k css_gaps2k 3
fi
for name in css_100 sqlite_100 ${pg_db:+pg_100}; do
  row "peak RSS $name (MiB)" "$(mib "${RSS[$name]}")" "" "" "" ""
done
for size in "${large_inputs[@]}"; do
  outs=(css sqlite)
  [ -z "$before" ] || outs+=(before_css before_sqlite)
  for out in "${outs[@]}"; do
    r=$(ratio "${RSS[${out}_$size]}" $((512 * 1024)))
    row "peak RSS $out $size input (MiB; vs 512 MiB)" "$(mib "${RSS[${out}_$size]}")" 512 "$r" "<=1" \
      "$(verdict "$r" 1)"
  done
  floor=$(larger "${WALL[libmseed_$size]}" "${WALL[dd_$size]}")
  row "decode $size with libmseed" "${WALL[libmseed_$size]}" "" "" "" ""
  row "durable write of the CSS output's bytes ($(awk -v b="${BYTES[css_$size]}" 'BEGIN { printf "%.2f GB", b / 1e9 }'))" \
    "${WALL[dd_$size]}" "" "" "" ""
  for out in "${outs[@]}"; do
    r=$(ratio "${WALL[${out}_$size]}" "$floor")
    target=1.3
    [ "$size" = 1g ] || target=
    row "$out $size vs larger of decode and durable write" "${WALL[${out}_$size]}" "$floor" "$r" \
      "${target:+<=$target}" "$([ -z "$target" ] || verdict "$r" "$target")"
  done
done
echo
echo "CPU seconds (user + system, medians):"
for name in $(tr ' ' '\n' <<<"${!CPU[@]}" | sort); do
  printf '  %-16s %8s cpu %8s wall   runs: %s\n' "$name" "${CPU[$name]}" "${WALL[$name]}" "${WALLS[$name]}"
done
