#!/usr/bin/env bash
# The main job on the embedded default store: builds tarnvel, creates the local demo store
# (SQLite through ODBC) and brings a real SEED file into it, showing every step.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install_packages.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tarnvel -j"$(nproc)"

eval "$(bash scripts/demo_store.sh "$root/demo" "$root/build/bin")"
export TZ=${TZ:-UTC}
seed=$root/tests/data/2005-07-23-1452-04S.CER___030.mseed
tarnvel=$root/build/bin/tarnvel

echo
echo "== Information mode: channels of $seed, checked against SITECHAN =="
"$tarnvel" "$seed" -i

echo
echo "== Conversion into the QOR store ($root/demo/data) =="
"$tarnvel" "$seed"
echo "Waveform files:"
(cd "$root/demo/data" && find . -type f -not -path './.lock/*' | sort | xargs ls -l)
echo "FILELIST rows:"
sqlite3 -header -column "$root/demo/qor.db" \
  "select STA, CH, LCODE, TBEGIN, TQTY, SPS, FOFF, CPATH, CREATER from FILELIST order by NINDEX"

echo
echo "== Conversion to CSS 3.0 ($root/demo/css) =="
"$tarnvel" "$seed" "CSS=$root/demo/css"
(cd "$root/demo/css" && ls -l && cat ./*.wfdisc)
