#!/usr/bin/env bash
# A PostgreSQL server of the fault trials' own, for the trials that stop or freeze a server: the
# cluster of the other tests must go on serving them. Started through tests/postgres/cluster.sh
# (as root it runs as "postgres", otherwise as this user), it takes one command a line on
# standard input and answers one line:
#   port        -> the server's port on 127.0.0.1 ("none" when it could not start)
#   stop MODE   -> pg_ctl stop -m MODE (fast, immediate); "ok" or "failed"
#   start       -> starts it again on the same port; "ok" or "failed"
# The server is stopped and its folder removed when standard input ends, whatever ends it.
set -uo pipefail

source "$(dirname "$0")/../postgres/cluster.sh"
trap postgres_cluster_stop EXIT

if postgres_cluster_start >/dev/null 2>&1 && [ -n "${RETRATIX_PG_PORT:-}" ]; then
    port=$RETRATIX_PG_PORT
    # amcheck for the integrity checks, in every database made from now on.
    _retratix_pg_as_owner psql -X -q -h "$_retratix_pg_dir" -p "$port" -U postgres -d template1 \
        -c 'CREATE EXTENSION IF NOT EXISTS amcheck' -c 'GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA public TO regusr1' \
        >/dev/null 2>&1 || true
else
    port=none
fi
data=${_retratix_pg_dir:-}/data

while read -r command mode; do
    case $command in
    port) echo "$port" ;;
    stop)
        if _retratix_pg_as_owner "$RETRATIX_PG_BIN/pg_ctl" -D "$data" -m "$mode" -w -t 60 stop >/dev/null 2>&1; then
            echo ok
        else
            echo failed
        fi
        ;;
    start)
        if _retratix_pg_as_owner "$RETRATIX_PG_BIN/pg_ctl" -D "$data" -l "$_retratix_pg_dir/server.log" -w -t 60 \
            -o "-p $port -c listen_addresses=127.0.0.1 -k $_retratix_pg_dir" start >/dev/null 2>&1; then
            echo ok
        else
            echo failed
        fi
        ;;
    *) echo "unknown command" ;;
    esac
done
