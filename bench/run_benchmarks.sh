#!/usr/bin/env bash
# Whole-program benchmarks of the converter, measured side by side in one run and reported as
# ratios: information mode and conversions against libmseed decoding the same file, peak memory
# against the size of the samples, scaling with file size, gaps, channels and FILELIST rows, and
# what syncing the CSS output costs (the same conversions with TARNVEL_NO_SYNC=1 beside them).
#
#   bench/run_benchmarks.sh [BUILD_DIR] [SCRATCH_DIR]
#
# BUILD_DIR (default build-release) must hold bin/tarnvel, bin/measure_tool,
# bin/seed_generate_tool and bin/mseed_decode_tool. Inputs are generated once into SCRATCH_DIR
# (default: a new folder under /tmp, about 1.2 GB of inputs and up to 3 GB of outputs at a time),
# which is removed at the end unless KEEP_SCRATCH=1.
# Environment: REPS (repetitions of the small measurements; default 5), LARGE_REPS (of the
# 1 GiB conversion; default 1), GAPS (gaps on the one-channel file; default 20000),
# SKIP_LARGE=1 (no 1 GiB file), MAX_STEP (largest step of the generated random walk; default
# 800, which gives Steim2 frames a realistic mix of word layouts: 500 and below make almost
# only one).
# With TARNVEL_PG_HOST, TARNVEL_PG_PORT, TARNVEL_PG_USER and TARNVEL_PG_PASSWORD set (source
# /work/pg/env.sh), the conversions into the database are also measured into PostgreSQL, in a
# database of its own that is dropped at the end.
# The cost of durability: conversions into SQLite as they run by default (every file synced
# before its rows are committed, and SQLite syncing its commits: SyncPragma=FULL) beside the
# same without the store's syncs (TARNVEL_NO_SYNC=1) and without any sync (SQLite's
# SyncPragma=NORMAL too, as before the store synced), and into PostgreSQL with and without the
# store's syncs. SYNC_REPS repetitions (default REPS), SYNC_ONLY=1 measures only these.
#
# Wall and CPU (user + system) times are medians of the repetitions, with the fastest beside
# them for the headline figures; the runs of one repetition follow each other, so that load
# from elsewhere falls on all of them alike. Other load shows in the wall times first.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=bench/bench_common.sh
source "$here/bench_common.sh"
bench_open build-release tarnvel-bench "${1:-}" "${2:-}" tarnvel measure_tool seed_generate_tool mseed_decode_tool
reps=${REPS:-5}
large_reps=${LARGE_REPS:-1}
gaps=${GAPS:-20000}
max_step=${MAX_STEP:-800}
pg_db=
trap bench_drop_outputs EXIT

# ---------------------------------------------------------------------------------------------
# Inputs
log "generating inputs in $scratch"
gen() { "$bin/seed_generate_tool" "$@" >/dev/null; }
gen "$scratch/f100.mseed" --bytes=104857600 --max-step="$max_step"
if [ "${SKIP_LARGE:-0}" != 1 ]; then
  gen "$scratch/f1g.mseed" --bytes=1073741824 --max-step="$max_step"
fi
# One channel of 1000-sample records, each followed by a 1 s gap, and the same without gaps.
gen "$scratch/gaps.mseed" --channels=1 --block=1000 --gap=1 --blocks=$((gaps + 1))
gen "$scratch/nogaps.mseed" --channels=1 --block=1000 --blocks=$((gaps + 1))
# The same with 2,000 gaps: a station with frequent gaps.
gen "$scratch/gaps2k.mseed" --channels=1 --block=1000 --gap=1 --blocks=2001
# 300 channels of 20 minutes each.
gen "$scratch/ch300.mseed" --channels=300 --block=120000 --blocks=1
# One hour of the channel B000 BHZ 00.
gen "$scratch/hour1.mseed" --channels=1 --blocks=1

# Database: a fresh SQLite QOR store per run, copied from a template.
sqlite3 "$scratch/empty.db" <"$root/schema/qor_sqlite.sql"
cp "$scratch/empty.db" "$scratch/filled.db"
sqlite3 "$scratch/filled.db" <<'SQL'
with recursive n(i) as (select 0 union all select i + 1 from n where i < 9999)
insert into FILELIST (STA, TBEGIN, TQTY, SPS, GAIN, CPATH, DATATYPE, CH, CREATER, LDDATE, FOFF,
                      CALIB, CALPER, LCODE)
select 'B000', 1237593600.0 - 864000.0 - i * 10.0, 1.0, 100.0, 1,
       printf('B000/00/old%05d-BHZ.B000', i), 3, 'BHZ', 'tarnvel', '2009-01-01 00:00:00', 512,
       0.0, 0.0, '00'
from n;
SQL
pg_source=()
if [ -n "${TARNVEL_PG_HOST:-}" ]; then
  pg_db=tarnvel_bench_$$
  pg -d postgres -c "create database $pg_db"
  pg -d "$pg_db" -f "$root/schema/qor_postgres.sql"
  pg_source=("PGBENCH=postgres:$TARNVEL_PG_HOST:$TARNVEL_PG_PORT:$pg_db")
fi
eval "$(bash "$root/scripts/odbc_config.sh" "$scratch/odbc" "BENCH=sqlite:$scratch/store.db" "${pg_source[@]}")"
printf '[BENCH_TRACE]\nDriver=SQLite3\nDatabase=%s\nTimeout=10000\nTraceFile=%s\n\n' \
  "$scratch/store.db" "$scratch/trace.sql" >>"$scratch/odbc/odbc.ini"
# The same store with SQLite's commits not synced (a power cut may take the last ones away).
printf '[BENCH_UNSYNCED]\nDriver=SQLite3\nDatabase=%s\nTimeout=10000\nJournalMode=WAL\nSyncPragma=NORMAL\n\n' \
  "$scratch/store.db" >>"$scratch/odbc/odbc.ini"
connection=(ODBC=BENCH USER=bench PASSWORD=bench "DATA=$scratch/data")

# ---------------------------------------------------------------------------------------------
# Measuring
declare -A WALLS CPUS WALL CPU WMIN CMIN RSS RECORDS SAMPLES

fresh_outputs() {
  rm -rf "$scratch/css" "$scratch/data" "$scratch/store.db"
  sync  # the outputs of the run before are on disk, not written back during the next
  mkdir -p "$scratch/css" "$scratch/data"
  cp "$scratch/${1:-empty}.db" "$scratch/store.db"
}

# Counts records and samples with libmseed (also the reference decode).
count_file() {
  local name=$1 file=$2 line
  line=$("$bin/mseed_decode_tool" "$file")
  RECORDS[$name]=$(awk '{ print $2 }' <<<"$line")
  SAMPLES[$name]=$(awk '{ print $4 }' <<<"$line")
}

tarnvel() { measure "$1" "$bin/tarnvel" "${@:2}" "${connection[@]}"; }
# The same into PostgreSQL, its FILELIST emptied first.
tarnvel_pg() {
  fresh_outputs
  pg -d "$pg_db" -c "delete from FILELIST"
  measure "$1" "$bin/tarnvel" "${@:2}" ODBC=PGBENCH "USER=$TARNVEL_PG_USER" \
    "PASSWORD=$TARNVEL_PG_PASSWORD" "DATA=$scratch/data"
}

# Median and minimum of a list of numbers.
minimum() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk 'NR == 1 { printf "%.3f", $1 }'; }

# --- the cost of durability --------------------------------------------------------------------
# Each input converted durably (the default), without the store's syncs, and without any sync,
# one after the other in each repetition.
sync_reps=${SYNC_REPS:-$reps}
sync_inputs=(f100 ch300 gaps2k)
measure_syncing() {
  log "syncing: durable against unsynced conversions"
  local r input
  for ((r = 1; r <= sync_reps; ++r)); do
    for input in "${sync_inputs[@]}"; do
      fresh_outputs
      measure "sync_$input" "$bin/tarnvel" "$scratch/$input.mseed" "${connection[@]}"
      fresh_outputs
      measure "nostoresync_$input" env TARNVEL_NO_SYNC=1 "$bin/tarnvel" "$scratch/$input.mseed" \
        "${connection[@]}"
      fresh_outputs
      measure "unsynced_$input" env TARNVEL_NO_SYNC=1 "$bin/tarnvel" "$scratch/$input.mseed" \
        ODBC=BENCH_UNSYNCED USER=bench PASSWORD=bench "DATA=$scratch/data"
      if [ -n "$pg_db" ]; then
        tarnvel_pg "pgsync_$input" "$scratch/$input.mseed"
        fresh_outputs
        pg -d "$pg_db" -c "delete from FILELIST"
        measure "pgnosync_$input" env TARNVEL_NO_SYNC=1 "$bin/tarnvel" "$scratch/$input.mseed" \
          ODBC=PGBENCH "USER=$TARNVEL_PG_USER" "PASSWORD=$TARNVEL_PG_PASSWORD" "DATA=$scratch/data"
      fi
    done
  done
  fresh_outputs
}
# Files written by one conversion of each input (the syncs before the commits are per file).
files_of() { find "$scratch/data" -type f ! -path '*/.lock/*' | wc -l; }
report_syncing() {
  local input a b c
  echo
  echo "The cost of durability (wall s, medians of $sync_reps; SQLite in WAL mode):"
  printf '%-34s %9s %11s %9s %11s %9s' "input" "durable" "no file sync" "ratio" "no sync at all" "ratio"
  [ -n "$pg_db" ] && printf ' %10s %12s %7s' "PG durable" "PG no sync" "ratio"
  echo
  for input in "${sync_inputs[@]}"; do
    a=${WALL[sync_$input]}
    b=${WALL[nostoresync_$input]}
    c=${WALL[unsynced_$input]}
    printf '%-34s %9s %11s %9s %11s %9s' "$input (${SYNC_FILES[$input]} files)" "$a" "$b" \
      "$(ratio "$a" "$b")" "$c" "$(ratio "$a" "$c")"
    if [ -n "$pg_db" ]; then
      printf ' %10s %12s %7s' "${WALL[pgsync_$input]}" "${WALL[pgnosync_$input]}" \
        "$(ratio "${WALL[pgsync_$input]}" "${WALL[pgnosync_$input]}")"
    fi
    echo
  done
  echo "  durable: files and folders synced before each commit, SQLite SyncPragma=FULL;"
  echo "  no file sync: TARNVEL_NO_SYNC=1, SQLite still FULL; no sync at all: also SyncPragma=NORMAL."
}
declare -A SYNC_FILES
for input in "${sync_inputs[@]}"; do
  fresh_outputs
  TARNVEL_NO_SYNC=1 "$bin/tarnvel" "$scratch/$input.mseed" "${connection[@]}" >/dev/null
  SYNC_FILES[$input]=$(files_of)
done
if [ "${SYNC_ONLY:-0}" = 1 ]; then
  measure_syncing
  for name in "${!WALLS[@]}"; do WALL[$name]=$(median "${WALLS[$name]}"); done
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
  echo
  echo "tarnvel durability benchmark ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
    "load $(cut -d' ' -f1-3 /proc/loadavg))"
  report_syncing
  exit 0
fi

# --- 1 to 3: the 100 MiB file ------------------------------------------------------------------
log "100 MiB file: warming up"
count_file f100 "$scratch/f100.mseed"
fresh_outputs
tarnvel warmup "$scratch/f100.mseed" -i=200
for ((r = 1; r <= reps; ++r)); do
  log "100 MiB file: repetition $r of $reps"
  measure libmseed_100 "$bin/mseed_decode_tool" "$scratch/f100.mseed"
  tarnvel info_100 "$scratch/f100.mseed" -i=200
  fresh_outputs
  tarnvel css_100 "$scratch/f100.mseed" "CSS=$scratch/css/"
  # The same without syncing: what putting the data files and lines on the disk costs.
  fresh_outputs
  TARNVEL_NO_SYNC=1 tarnvel css_nosync_100 "$scratch/f100.mseed" "CSS=$scratch/css/"
  # Into a folder the run makes itself: no data file can be written before the output phase.
  fresh_outputs
  tarnvel css_late_100 "$scratch/f100.mseed" "CSS=$scratch/css/new/f100.wfdisc"
  fresh_outputs
  tarnvel sqlite_100 "$scratch/f100.mseed"
  if [ -n "$pg_db" ]; then tarnvel_pg pg_100 "$scratch/f100.mseed"; fi
done
fresh_outputs

# --- 4: scale -----------------------------------------------------------------------------------
if [ "${SKIP_LARGE:-0}" != 1 ]; then
  log "1 GiB file"
  count_file f1g "$scratch/f1g.mseed"
  for ((r = 1; r <= large_reps; ++r)); do
    measure libmseed_1g "$bin/mseed_decode_tool" "$scratch/f1g.mseed"
    fresh_outputs
    tarnvel css_1g "$scratch/f1g.mseed" "CSS=$scratch/css/"
    fresh_outputs
    # The 100 MiB conversion once more right beside it, under the same conditions.
    tarnvel css_100_beside_1g "$scratch/f100.mseed" "CSS=$scratch/css/"
    fresh_outputs
  done
fi

log "gaps, channels"
count_file gaps "$scratch/gaps.mseed"
count_file nogaps "$scratch/nogaps.mseed"
count_file ch300 "$scratch/ch300.mseed"
for ((r = 1; r <= reps; ++r)); do
  fresh_outputs
  tarnvel css_nogaps "$scratch/nogaps.mseed" "CSS=$scratch/css/"
  fresh_outputs
  tarnvel css_gaps "$scratch/gaps.mseed" "CSS=$scratch/css/"
  fresh_outputs
  tarnvel css_ch300 "$scratch/ch300.mseed" "CSS=$scratch/css/"
  fresh_outputs
  tarnvel sqlite_ch300 "$scratch/ch300.mseed"
  fresh_outputs
  tarnvel css_gaps2k "$scratch/gaps2k.mseed" "CSS=$scratch/css/"
  fresh_outputs
  TARNVEL_NO_SYNC=1 tarnvel css_nosync_gaps2k "$scratch/gaps2k.mseed" "CSS=$scratch/css/"
  fresh_outputs
  tarnvel sqlite_gaps2k "$scratch/gaps2k.mseed"
  if [ -n "$pg_db" ]; then tarnvel_pg pg_gaps2k "$scratch/gaps2k.mseed"; fi
done
fresh_outputs
tarnvel sqlite_nogaps "$scratch/nogaps.mseed"
log "gaps into SQLite (one segment, file and row per record: slow)"
fresh_outputs
tarnvel sqlite_gaps "$scratch/gaps.mseed"
fresh_outputs

log "FILELIST with 10,000 rows of the channel"
for ((r = 1; r <= reps + 2; ++r)); do
  fresh_outputs empty
  tarnvel hour_empty "$scratch/hour1.mseed"
  fresh_outputs filled
  tarnvel hour_filled "$scratch/hour1.mseed"
done
# The statements a conversion into the filled store runs, and how SQLite plans them.
fresh_outputs filled
rm -f "$scratch/trace.sql"
"$bin/tarnvel" "$scratch/hour1.mseed" ODBC=BENCH_TRACE USER=bench PASSWORD=bench \
  "DATA=$scratch/data" >/dev/null
fresh_outputs filled
plans=$(grep -i -E '^(select|delete|update)' "$scratch/trace.sql" | grep -i 'from FILELIST\|update FILELIST' |
  sort -u | while IFS= read -r statement; do
  echo "  $statement"
  sqlite3 "$scratch/store.db" "EXPLAIN QUERY PLAN ${statement%;}" | sed 's/^/      /'
done)

measure_syncing

# ---------------------------------------------------------------------------------------------
# Report
take_medians
for name in "${!WALLS[@]}"; do
  WMIN[$name]=$(minimum "${WALLS[$name]}")
  CMIN[$name]=$(minimum "${CPUS[$name]}")
done
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

row() { printf '%-58s %12s %12s %9s %8s %s\n' "$@"; }
echo
echo "tarnvel whole-program benchmarks ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg), medians of $reps)"
echo "Inputs: seed_generate_tool --max-step=$max_step: Steim2, big-endian, 4096-byte records," \
  "3 channels at 100 sps"
echo
row "measurement" "figure" "reference" "ratio" "target" "verdict"
row "-----------" "------" "---------" "-----" "------" "-------"
r=$(ratio "${WALL[info_100]}" "${WALL[libmseed_100]}")
row "1. info mode -i=200, 100 MiB vs libmseed decode (wall s)" "${WALL[info_100]}" \
  "${WALL[libmseed_100]}" "$r" "<=0.25" "$(verdict "$r" 0.25)"
r=$(ratio "${CPU[info_100]}" "${CPU[libmseed_100]}")
row "   same, CPU s" "${CPU[info_100]}" "${CPU[libmseed_100]}" "$r" "" ""
r=$(ratio "${WALL[css_100]}" "${WALL[libmseed_100]}")
row "2. CSS conversion 100 MiB vs libmseed decode (wall s)" "${WALL[css_100]}" \
  "${WALL[libmseed_100]}" "$r" "<=1.2" "$(verdict "$r" 1.2)"
r=$(ratio "${WMIN[css_100]}" "${WMIN[libmseed_100]}")
row "   same, fastest runs (wall s)" "${WMIN[css_100]}" "${WMIN[libmseed_100]}" "$r" "" ""
r=$(ratio "${CPU[css_100]}" "${CPU[libmseed_100]}")
row "   same, CPU s" "${CPU[css_100]}" "${CPU[libmseed_100]}" "$r" "" ""
r=$(ratio "${CMIN[css_100]}" "${CMIN[libmseed_100]}")
row "   same, CPU s of the fastest runs" "${CMIN[css_100]}" "${CMIN[libmseed_100]}" "$r" "" ""
r=$(ratio "${WALL[css_100]}" "${WALL[css_nosync_100]}")
row "   synced vs TARNVEL_NO_SYNC=1 (wall s)" "${WALL[css_100]}" "${WALL[css_nosync_100]}" "$r" "" ""
r=$(ratio "${CPU[css_100]}" "${CPU[css_nosync_100]}")
row "   same, CPU s" "${CPU[css_100]}" "${CPU[css_nosync_100]}" "$r" "" ""
r=$(ratio "${WALL[css_late_100]}" "${WALL[libmseed_100]}")
row "   data files written only after reading (wall s)" "${WALL[css_late_100]}" \
  "${WALL[libmseed_100]}" "$r" "" ""
r=$(ratio "${CPU[css_late_100]}" "${CPU[libmseed_100]}")
row "   same, CPU s" "${CPU[css_late_100]}" "${CPU[libmseed_100]}" "$r" "" ""
r=$(ratio "${WALL[sqlite_100]}" "${WALL[css_100]}")
row "   SQLite conversion vs CSS conversion (wall s)" "${WALL[sqlite_100]}" "${WALL[css_100]}" \
  "$r" "<=1.2" "$(verdict "$r" 1.2)"
r=$(ratio "${CPU[sqlite_100]}" "${CPU[css_100]}")
row "   same, CPU s" "${CPU[sqlite_100]}" "${CPU[css_100]}" "$r" "" ""
if [ -n "$pg_db" ]; then
  row "   PostgreSQL conversion vs CSS conversion (wall s)" "${WALL[pg_100]}" "${WALL[css_100]}" \
    "$(ratio "${WALL[pg_100]}" "${WALL[css_100]}")" "" ""
fi
bound=$(awk -v s="${SAMPLES[f100]}" 'BEGIN { printf "%.0f", (1.3 * 4 * s + 64 * 1048576) / 1024 }')
r=$(ratio "${RSS[css_100]}" "$bound")
row "3. peak memory, CSS conversion 100 MiB (MiB; bound)" "$(mib "${RSS[css_100]}")" \
  "$(mib "$bound")" "$r" "<=1" "$(verdict "$r" 1)"
row "   samples ${SAMPLES[f100]}, 4 x samples (MiB)" \
  "$(awk -v s="${SAMPLES[f100]}" 'BEGIN { printf "%.1f", 4 * s / 1048576 }')" "" "" "" ""
row "   peak memory, SQLite conversion 100 MiB (MiB)" "$(mib "${RSS[sqlite_100]}")" \
  "$(mib "$bound")" "$(ratio "${RSS[sqlite_100]}" "$bound")" "<=1" \
  "$(verdict "$(ratio "${RSS[sqlite_100]}" "$bound")" 1)"
row "   peak memory, info mode (MiB)" "$(mib "${RSS[info_100]}")" "" "" "" ""
if [ "${SKIP_LARGE:-0}" != 1 ]; then
  bound=$(awk -v s="${SAMPLES[f1g]}" 'BEGIN { printf "%.0f", (1.3 * 4 * s + 64 * 1048576) / 1024 }')
  r=$(ratio "${RSS[css_1g]}" "$bound")
  row "4. peak memory, CSS conversion 1 GiB (MiB; bound)" "$(mib "${RSS[css_1g]}")" \
    "$(mib "$bound")" "$r" "<=1" "$(verdict "$r" 1)"
  r=$(ratio "${WALL[css_1g]}" "${WALL[css_100_beside_1g]}")
  row "   CSS conversion 1 GiB vs 100 MiB (wall s)" "${WALL[css_1g]}" \
    "${WALL[css_100_beside_1g]}" "$r" "<=11" "$(verdict "$r" 11)"
  r=$(ratio "${CPU[css_1g]}" "${CPU[css_100_beside_1g]}")
  row "   same, CPU s" "${CPU[css_1g]}" "${CPU[css_100_beside_1g]}" "$r" "" ""
  row "   peak memory 1 GiB vs 100 MiB (MiB)" "$(mib "${RSS[css_1g]}")" "$(mib "${RSS[css_100]}")" \
    "$(ratio "${RSS[css_1g]}" "${RSS[css_100]}")" "" ""
  row "   libmseed decode 1 GiB (wall s; ratio to CSS 1 GiB)" "${WALL[libmseed_1g]}" "" \
    "$(ratio "${WALL[css_1g]}" "${WALL[libmseed_1g]}")" "" ""
fi
per_record() { awk -v t="$1" -v n="$2" 'BEGIN { printf "%.1f", t / n * 1e6 }'; }
for out in css sqlite; do
  a=$(per_record "${WALL[${out}_gaps]}" "${RECORDS[gaps]}")
  b=$(per_record "${WALL[${out}_nogaps]}" "${RECORDS[nogaps]}")
  row "   $gaps gaps, one channel, $out: us per record vs gap-free" "$a" "$b" "$(ratio "$a" "$b")" \
    "~1" ""
done
for out in css sqlite; do
  a=$(per_record "${WALL[${out}_ch300]}" "${RECORDS[ch300]}")
  b=$(per_record "${WALL[${out}_100]}" "${RECORDS[f100]}")
  row "   300 channels, $out: us per record vs 3 channels" "$a" "$b" "$(ratio "$a" "$b")" "~1" ""
done
r=$(ratio "${WALL[sqlite_gaps2k]}" "${WALL[css_gaps2k]}")
row "   2,000 gaps, one channel: SQLite vs CSS conversion (wall s)" "${WALL[sqlite_gaps2k]}" \
  "${WALL[css_gaps2k]}" "$r" "<=8" "$(verdict "$r" 8)"
r=$(ratio "${WALL[css_gaps2k]}" "${WALL[css_nosync_gaps2k]}")
row "   2,000 gaps, one channel, CSS: synced vs TARNVEL_NO_SYNC=1 (wall s)" "${WALL[css_gaps2k]}" \
  "${WALL[css_nosync_gaps2k]}" "$r" "" ""
if [ -n "$pg_db" ]; then
  row "   2,000 gaps, one channel: PostgreSQL vs CSS conversion (wall s)" "${WALL[pg_gaps2k]}" \
    "${WALL[css_gaps2k]}" "$(ratio "${WALL[pg_gaps2k]}" "${WALL[css_gaps2k]}")" "" ""
fi
a=$(per_record "${WALL[sqlite_gaps]}" $((gaps + 1)))
b=$(per_record "${WALL[sqlite_gaps2k]}" 2001)
row "   $gaps gaps vs 2,000 gaps into SQLite: us per segment" "$a" "$b" "$(ratio "$a" "$b")" "~1" ""
r=$(ratio "${WALL[hour_filled]}" "${WALL[hour_empty]}")
row "   1-hour file into FILELIST with 10,000 rows vs empty (s)" "${WALL[hour_filled]}" \
  "${WALL[hour_empty]}" "$r" "~1" ""
echo
echo "Records: 100 MiB ${RECORDS[f100]}, gaps ${RECORDS[gaps]}, gap-free ${RECORDS[nogaps]}," \
  "300 channels ${RECORDS[ch300]}${RECORDS[f1g]:+, 1 GiB ${RECORDS[f1g]}}"
echo
echo "FILELIST statements of a conversion into the store with 10,000 rows, and their plans:"
echo "$plans"
report_syncing
echo
for statement in "order by LDDATE desc" "select sum("; do
  if grep -F -A3 "$statement" <<<"$plans" | grep -q 'USING INDEX FILELIST_CHANNEL\|USING COVERING INDEX FILELIST_CHANNEL'; then
    echo "  '$statement': uses the FILELIST_CHANNEL index"
  else
    echo "  '$statement': does NOT use the FILELIST_CHANNEL index"
  fi
done
