# Shared by the benchmark scripts (sourced, not run): the built tools a script needs and the
# folder its generated inputs and stores go to.

# bench_require_tools BIN TOOL...: exits with 2, naming the targets to build, when a tool is
# missing from BIN.
bench_require_tools() {
  local bin=$1
  shift
  local tool
  for tool in "$@"; do
    if [ ! -x "$bin/$tool" ]; then
      echo "missing $bin/$tool: build the targets $*" >&2
      exit 2
    fi
  done
}

# bench_scratch FOLDER PREFIX: prints the scratch folder's absolute path: FOLDER (made when
# missing) when given, else a new folder /tmp/PREFIX.XXXXXX.
bench_scratch() {
  if [ -n "$1" ]; then
    mkdir -p "$1"
    (cd "$1" && pwd)
  else
    mktemp -d "/tmp/$2.XXXXXX"
  fi
}

# bench_open DEFAULT_BUILD PREFIX BUILD_ARG SCRATCH_ARG TOOL...: sets build (BUILD_ARG, else
# DEFAULT_BUILD under the project root `root`), bin and scratch (bench_scratch SCRATCH_ARG
# PREFIX), after checking that bin holds every TOOL.
bench_open() {
  local default_build=$1 prefix=$2 build_arg=$3 scratch_arg=$4
  shift 4
  build=$(cd "${build_arg:-$root/$default_build}" && pwd)
  bin=$build/bin
  bench_require_tools "$bin" "$@"
  scratch=$(bench_scratch "$scratch_arg" "$prefix")
}

# pg ARGS...: psql on the server TARNVEL_PG_HOST, _PORT, _USER and _PASSWORD name, quietly.
pg() { PGPASSWORD=$TARNVEL_PG_PASSWORD psql -h "$TARNVEL_PG_HOST" -p "$TARNVEL_PG_PORT" -U "$TARNVEL_PG_USER" -q "$@"; }

# bench_drop_outputs: drops the PostgreSQL database pg_db when one was made and removes the
# scratch folder unless KEEP_SCRATCH=1 (for `trap ... EXIT`).
bench_drop_outputs() {
  if [ -n "${pg_db:-}" ]; then pg -d postgres -c "drop database if exists $pg_db" || true; fi
  if [ "${KEEP_SCRATCH:-0}" != 1 ]; then rm -rf "$scratch"; fi
}

log() { echo "== $(date -u +%H:%M:%S) $*" >&2; }

# median "N N ...": the median of the numbers, with three decimals.
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure NAME PROGRAM ARGS...: one timed run (bin/measure_tool, its output in scratch/NAME.out);
# adds its wall and CPU (user + system) times to WALLS[NAME] and CPUS[NAME] and keeps the largest
# peak memory seen in RSS[NAME] (the caller declares these arrays). A run that fails ends the
# script, keeping the scratch folder. Returns the program's exit status.
measure() {
  local name=$1
  shift
  local code=0
  "$bin/measure_tool" "$scratch/result.txt" "$@" >"$scratch/$name.out" 2>&1 || code=$?
  local wall user sys rss status
  read -r wall user sys rss status <"$scratch/result.txt"
  if [ "$status" != 0 ]; then
    echo "$name: exit status $status (output in $scratch/$name.out)" >&2
    tail -c 600 "$scratch/$name.out" >&2
    KEEP_SCRATCH=1
    exit 1
  fi
  WALLS[$name]+="$wall "
  CPUS[$name]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }') "
  if [ -z "${RSS[$name]:-}" ] || [ "$rss" -gt "${RSS[$name]}" ]; then RSS[$name]=$rss; fi
  log "$name: $wall s, $((rss / 1024)) MiB"
  return "$code"
}

# take_medians: WALL[NAME] and CPU[NAME] become the medians of every NAME measured.
take_medians() {
  local name
  for name in "${!WALLS[@]}"; do
    WALL[$name]=$(median "${WALLS[$name]}")
    CPU[$name]=$(median "${CPUS[$name]}")
  done
}

# ratio A B: A / B with three decimals; verdict VALUE TARGET: "met" or "MISSED".
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "met" : "MISSED") }'; }
