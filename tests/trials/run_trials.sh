#!/usr/bin/env bash
# The fault trials of the headless upload against a throwaway PostgreSQL cluster of their own
# (tests/postgres/cluster.sh), stopped on every exit. Runs as root or as an ordinary user.
#
#   tests/trials/run_trials.sh                 the short version, as ./test.sh runs it
#   tests/trials/run_trials.sh --long          the long version: 100 kills per engine and more
#   tests/trials/run_trials.sh --seed N ...    the draws of an earlier run (its first line names N)
#   tests/trials/run_trials.sh kills writers   only these trials (see fault_trials --help)
#
# Builds fault_trials and the program in the build folder RETRATIX_BUILD_DIR (default: build).
# Exit status: 0 all trials clean, 1 a trial found a fault, 2 the trials could not be set up.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=${RETRATIX_BUILD_DIR:-$source_dir/build}

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRETRATIX_WERROR=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target fault_trials |
    { grep -v -e '^ninja: no work to do' || true; }

source "$source_dir/tests/postgres/cluster.sh"
trap postgres_cluster_stop EXIT
postgres_cluster_start
if [ -n "${RETRATIX_PG_PORT:-}" ]; then
    # amcheck for the integrity checks, in every database the trials make (the program's account
    # may not create the extension itself).
    _retratix_pg_as_owner psql -X -q -h "$_retratix_pg_dir" -p "$RETRATIX_PG_PORT" -U postgres -d template1 \
        -c 'CREATE EXTENSION IF NOT EXISTS amcheck' -c 'GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA public TO regusr1' \
        >/dev/null 2>&1 || echo "run_trials.sh: no amcheck; databases are checked by their rows and keys" >&2
fi

RETRATIX_SOURCE_DIR=$source_dir "$build/bin/fault_trials" "$@"
