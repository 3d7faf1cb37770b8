#!/bin/bash
# A throw-away PostgreSQL 15 server for tests and demonstrations, run without a system service.
#
#   pg_server.sh start DIR [PORT]   initialise (first time) and start a server kept in DIR
#   pg_server.sh stop  DIR          stop it (does nothing when it is not running)
#
# The server listens on 127.0.0.1:PORT (default 5433) and on a unix socket in DIR/pgsock.
# It has a login role with the right to create databases and a database owned by it:
#   role TARNVEL_PG_USER (default qor), password TARNVEL_PG_PASSWORD (default zun),
#   database TARNVEL_PG_DB (default qordb).
# After "start" the script prints the TARNVEL_PG_* variables as export lines.
# Durability is traded for speed (fsync off): the data is meant to be thrown away. With
# TARNVEL_PG_DURABLE=1 the server syncs as a production server does (fsync, synchronous commits,
# full page writes: the defaults), for benchmarks of durable conversions.
# Run it as root (the server itself runs as the postgres user) or as the postgres user.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop DIR [PORT]" >&2
  exit 2
}

[ $# -ge 2 ] || usage
action=$1
dir=$2
port=${3:-5433}
pg_user=${TARNVEL_PG_USER:-qor}
pg_password=${TARNVEL_PG_PASSWORD:-zun}
pg_db=${TARNVEL_PG_DB:-qordb}

pgbin=/usr/lib/postgresql/15/bin
[ -x "$pgbin/initdb" ] || { echo "PostgreSQL 15 is not installed ($pgbin)" >&2; exit 1; }

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
data=$dir/pgdata
sock=$dir/pgsock

# Runs a command as the postgres user (directly when we already are that user).
as_postgres() {
  if [ "$(id -un)" = postgres ]; then
    "$@"
  else
    local quoted
    quoted=$(printf '%q ' "$@")
    su postgres -s /bin/sh -c "$quoted"
  fi
}

running() {
  [ -f "$data/postmaster.pid" ] && as_postgres "$pgbin/pg_ctl" -D "$data" status >/dev/null 2>&1
}

case "$action" in
  start)
    if [ "$(id -u)" = 0 ]; then
      install -d -o postgres -g postgres -m 700 "$data"
      install -d -o postgres -g postgres -m 755 "$sock"
    else
      install -d -m 700 "$data"
      install -d -m 755 "$sock"
    fi
    if [ ! -f "$data/PG_VERSION" ]; then
      as_postgres "$pgbin/initdb" --no-sync -D "$data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 \
        >"$sock/initdb.log" 2>&1 || { cat "$sock/initdb.log" >&2; exit 1; }
      # The superuser only through the socket as the postgres account; every other role with a
      # password, on the socket or on the loopback address.
      cat >"$data/pg_hba.conf" <<HBA
local all postgres peer
local all all scram-sha-256
host all all 127.0.0.1/32 scram-sha-256
HBA
      [ "$(id -u)" != 0 ] || chown postgres:postgres "$data/pg_hba.conf"
    fi
    durability="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    if [ "${TARNVEL_PG_DURABLE:-0}" = 1 ]; then
      durability="-c fsync=on -c synchronous_commit=on -c full_page_writes=on"
    fi
    if ! running; then
      as_postgres "$pgbin/pg_ctl" -D "$data" -l "$sock/pg.log" -w -t 60 \
        -o "-k $sock -c listen_addresses=127.0.0.1 -p $port $durability" start >/dev/null ||
        { cat "$sock/pg.log" >&2; exit 1; }
    fi
    psql_super() {
      as_postgres "$pgbin/psql" -X -q -v ON_ERROR_STOP=1 -h "$sock" -p "$port" -U postgres -d postgres "$@"
    }
    if [ "$(psql_super -tAc "select 1 from pg_roles where rolname = '$pg_user'")" != 1 ]; then
      psql_super -c "create role \"$pg_user\" login createdb password '$pg_password'"
    else
      psql_super -c "alter role \"$pg_user\" login createdb password '$pg_password'"
    fi
    if [ "$(psql_super -tAc "select 1 from pg_database where datname = '$pg_db'")" != 1 ]; then
      psql_super -c "create database \"$pg_db\" owner \"$pg_user\""
    fi
    echo "export TARNVEL_PG_HOST=127.0.0.1"
    echo "export TARNVEL_PG_PORT=$port"
    echo "export TARNVEL_PG_USER=$pg_user"
    echo "export TARNVEL_PG_PASSWORD=$pg_password"
    echo "export TARNVEL_PG_DB=$pg_db"
    ;;
  stop)
    if running; then
      as_postgres "$pgbin/pg_ctl" -D "$data" -m fast -w stop >/dev/null
    fi
    ;;
  *)
    usage
    ;;
esac
