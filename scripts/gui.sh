#!/usr/bin/env bash
# Starts the operators' dialog program on the demo store made by scripts/demo.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
[ -f demo/qor.db ] || { echo "Run scripts/demo.sh first (it creates the demo store)." >&2; exit 1; }
cmake --build build --target Tarnvel_GUI tarnvel -j"$(nproc)"
export ODBCSYSINI=$root/demo/odbc ODBCINI=$root/demo/odbc/odbc.ini
exec "$root/build/bin/Tarnvel_GUI" "$@"
