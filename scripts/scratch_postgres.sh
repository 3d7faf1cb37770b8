# Sourced by the scripts that need a PostgreSQL server of their own. `scratch_postgres NAME PORT`
# starts a throw-away server on PORT in a new folder /tmp/NAME.XXXXXX (one the postgres account
# can reach), exports its TARNVEL_PG_* variables, and stops it and removes the folder when the
# shell exits. Needs `root`, the source tree.
scratch_postgres() {
  pgdir=$(mktemp -d "/tmp/$1.XXXXXX")
  chmod 755 "$pgdir"
  trap 'bash "$root/scripts/pg_server.sh" stop "$pgdir" >/dev/null 2>&1 || true; rm -rf "$pgdir"' EXIT
  eval "$(bash "$root/scripts/pg_server.sh" start "$pgdir" "$2")"
}
