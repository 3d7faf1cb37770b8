#!/usr/bin/env bash
# Creates (or recreates) the local demonstration QOR store on the embedded SQLite driver:
#   DIR/qor.db      the QOR database, all fourteen tables, SITECHAN rows for the sample file
#   DIR/odbc/       project-local ODBC configuration with the data source QOR_DEMO
#   DIR/data/       the data directory of the waveform files
#   DIR/css/        a folder for CSS output
# and writes tarnvel.ini beside the built programs (BIN) naming that data source.
#   demo_store.sh DIR BIN
# Prints the export lines that make unixODBC use DIR/odbc.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
dir=$1
bin=$2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

rm -rf "$dir/qor.db" "$dir/data" "$dir/css"
mkdir -p "$dir/data" "$dir/css"
sqlite3 "$dir/qor.db" <"$root/schema/qor_sqlite.sql"
# The sample file holds CER BHZ, BHN and BHE, location 00, at 150 samples per second:
# BHZ is described as it is, BHN with another rate, BHE not at all.
sqlite3 "$dir/qor.db" <<'SQL'
insert into SITECHAN (STA, CHAN, SPS, DESCR, LCODE) values ('CER', 'BHZ', 150, 'vertical', '00');
insert into SITECHAN (STA, CHAN, SPS, DESCR, LCODE) values ('CER', 'BHN', 100, 'north', '00');
SQL

bash "$here/odbc_config.sh" "$dir/odbc" "QOR_DEMO=sqlite:$dir/qor.db" >/dev/null
# The file holds the database password: readable by its owner only, from its first byte.
rm -f "$bin/tarnvel.ini"
(
  umask 077
  cat >"$bin/tarnvel.ini" <<INI
[DATABASE]
ODBC=QOR_DEMO
USER=qor
PASSWORD=zun

[DATA]
DIR=$dir/data
INI
)
echo "export ODBCSYSINI=$dir/odbc"
echo "export ODBCINI=$dir/odbc/odbc.ini"
