#!/bin/bash
# Writes a project-local ODBC configuration, so that nothing under /etc has to be edited.
#
#   odbc_config.sh DIR [NAME=sqlite:FILE]... [NAME=postgres:HOST:PORT:DATABASE]...
#
# DIR/odbcinst.ini gets the drivers "SQLite3" and "PostgreSQL"; DIR/odbc.ini gets one data
# source per NAME=... argument (an SQLite database file is created on first connect; HOST may
# be an address or a socket folder). The user and password are given when connecting.
# Prints the two export lines that make unixODBC use these files:
#   eval "$(scripts/odbc_config.sh /tmp/odbc qor=sqlite:/tmp/qor.db)"
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 DIR [NAME=sqlite:FILE]... [NAME=postgres:HOST:PORT:DATABASE]..." >&2
  exit 2
fi
dir=$1
shift
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch 2>/dev/null || true)
find_driver() {
  local name=$1 candidate
  for candidate in "/usr/lib/$multiarch/odbc/$name" /usr/lib/*/odbc/"$name" "/usr/lib/odbc/$name"; do
    if [ -f "$candidate" ]; then
      echo "$candidate"
      return
    fi
  done
  echo "ODBC driver $name not found (packages libsqliteodbc, odbc-postgresql)" >&2
  exit 1
}
sqlite_driver=$(find_driver libsqlite3odbc.so)
postgres_driver=$(find_driver psqlodbcw.so)

cat >"$dir/odbcinst.ini" <<INI
[SQLite3]
Description=SQLite3 ODBC Driver
Driver=$sqlite_driver
UsageCount=1

[PostgreSQL]
Description=PostgreSQL ODBC driver (Unicode version)
Driver=$postgres_driver
Debug=0
CommLog=0
UsageCount=1
INI

{
  for spec in "$@"; do
    name=${spec%%=*}
    value=${spec#*=}
    if [ -z "$name" ] || [ "$name" = "$spec" ]; then
      echo "bad data source '$spec' (expected NAME=sqlite:FILE or NAME=postgres:HOST:PORT:DATABASE)" >&2
      exit 2
    fi
    case "$value" in
      sqlite:*)
        file=${value#sqlite:}
        # Write-ahead journal: a commit waits for one sync of the journal (FULL: a commit is
        # on stable storage when it returns; NORMAL would let a power cut take the last ones
        # away, and with them the rows of files a run reported stored).
        printf '[%s]\nDriver=SQLite3\nDatabase=%s\nTimeout=10000\nJournalMode=WAL\nSyncPragma=FULL\n\n' \
          "$name" "$file"
        ;;
      postgres:*)
        IFS=: read -r host port database <<<"${value#postgres:}"
        if [ -z "$host" ] || [ -z "$port" ] || [ -z "$database" ]; then
          echo "bad data source '$spec' (expected NAME=postgres:HOST:PORT:DATABASE)" >&2
          exit 2
        fi
        printf '[%s]\nDriver=PostgreSQL\nServername=%s\nPort=%s\nDatabase=%s\n\n' \
          "$name" "$host" "$port" "$database"
        ;;
      *)
        echo "bad data source '$spec' (expected NAME=sqlite:FILE or NAME=postgres:HOST:PORT:DATABASE)" >&2
        exit 2
        ;;
    esac
  done
} >"$dir/odbc.ini"

echo "export ODBCSYSINI=$dir"
echo "export ODBCINI=$dir/odbc.ini"
