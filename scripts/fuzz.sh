#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for FUZZ_SECONDS (default 60) on a scratch copy of its corpus, so the
# committed corpus never grows. Prints executions and the outcome per target; exits non-zero when
# any target crashed, leaked or broke one of its checks. Crash inputs are kept in
# build-fuzz/findings/<target>/.
#
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh [target...]
#   FUZZ_JOBS=n: how many targets run at the same time (default: 2, or 1 on one core)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if ! command -v clang++ >/dev/null 2>&1 || ! command -v clang >/dev/null 2>&1; then
  echo "fuzz: clang++ not found; fuzz targets skipped"
  exit 0
fi

seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-$(( $(nproc) >= 2 ? 2 : 1 ))}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
all_targets=(record_fuzz steim_fuzz record_length_fuzz mseed3_record_fuzz css_conversion_fuzz)
if [ $# -gt 0 ]; then targets=("$@"); else targets=("${all_targets[@]}"); fi

# Input size caps: records and frames stay small enough to keep each run cheap.
max_len() {
  case $1 in
    record_fuzz) echo 16384 ;;
    steim_fuzz) echo 8192 ;;
    record_length_fuzz) echo 4096 ;;
    mseed3_record_fuzz) echo 16384 ;;
    css_conversion_fuzz) echo 16384 ;;
  esac
}

sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" \
  -DTARNVEL_FUZZ=ON -DTARNVEL_BUILD_GUI=OFF -DTARNVEL_BUILD_TESTS=OFF -DTARNVEL_BUILD_BENCH=OFF \
  >/dev/null || exit 1
cmake --build "$build" --target "${targets[@]}" || exit 1

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnvel-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

run_target() {
  local target=$1 work=$scratch/$1
  local findings=$build/findings/$target
  mkdir -p "$work/corpus" "$findings"
  cp -r "$root/fuzz/corpus/$target/." "$work/corpus/" 2>/dev/null || true
  (cd "$work" &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
      "$build/bin/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -max_len="$(max_len "$target")" -timeout=25 -print_final_stats=1 \
      -artifact_prefix="$findings/" "$work/corpus" >"$work/log" 2>&1)
  echo $? >"$work/rc"
}

running=0
for target in "${targets[@]}"; do
  run_target "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

status=0
for target in "${targets[@]}"; do
  work=$scratch/$target
  rc=$(cat "$work/rc" 2>/dev/null || echo 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log" | tail -1)
  outcome=ok
  if grep -q "ERROR: LeakSanitizer" "$work/log"; then
    outcome=leak
  elif grep -q "ERROR: libFuzzer: out-of-memory" "$work/log"; then
    outcome=out-of-memory
  elif grep -q "ERROR: libFuzzer: timeout" "$work/log"; then
    outcome=timeout
  elif [ "$rc" != 0 ]; then
    outcome=crash
  fi
  printf 'fuzz: %-22s %10s execs %8s exec/s  %s\n' "$target" "${execs:-?}" "${rate:-?}" "$outcome"
  if [ "$outcome" != ok ]; then
    status=1
    grep -m1 -E "ERROR: |runtime error|invariant violated" "$work/log" | sed 's/^/fuzz:   /'
    grep -m1 "Test unit written to" "$work/log" | sed 's/^/fuzz:   /'
    cp "$work/log" "$build/findings/$target/last.log"
  fi
done
exit $status
