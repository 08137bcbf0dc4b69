#!/usr/bin/env bash
# Builds the program and bench/throughput_bench (in build-bench/, warnings as errors), starts a
# throwaway PostgreSQL cluster on loopback (tests/postgres/cluster.sh) and runs the benchmark: the
# whole program's photos per second on SQLite and PostgreSQL beside the engines' own ceilings for
# the same rows, its peak memory, where its time goes, and its speed through a proxy that delays
# every round trip. The cluster and the benchmark's files are removed on every exit. Prints
# figures; judges nothing.
#
#   bench/run_benchmarks.sh            full sizes (1 000 to 40 000 photos; long on a slow disk)
#   bench/run_benchmarks.sh --quick    smaller sizes, a couple of minutes
# Other arguments go to throughput_bench (--rounds N, --engine sqlite|postgresql, ...).
# Runs as root or as an ordinary user alike; the build folder can be changed with
# RETRATIX_BENCH_BUILD, the benchmark's files go under TMPDIR (about 4 GB at full size).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${RETRATIX_BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRETRATIX_WERROR=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target retratix throughput_bench >/dev/null

work=""
source tests/postgres/cluster.sh
cleanup() {
    postgres_cluster_stop
    if [ -n "$work" ]; then
        rm -rf "$work"
    fi
}
# The trap comes first, so that a start that fails half-way leaves no server behind; a signal
# ends the script through the same trap.
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
work=$(mktemp -d "${TMPDIR:-/tmp}/retratix-bench.XXXXXX")
postgres_cluster_start

# The benchmark asks the server for a checkpoint before each trial, so that no trial pays for the
# writes of the one before; the program's account gets that right from the cluster's own superuser.
# Without it the trials run without checkpoints.
if [ -n "${RETRATIX_PG_PORT:-}" ]; then
    postgres_cluster_superuser_sql 'GRANT pg_checkpoint TO regusr1' >/dev/null 2>&1 ||
        echo "run_benchmarks: no checkpoint right for the benchmark's account" >&2
fi

if command -v git >/dev/null && git rev-parse --git-dir >/dev/null 2>&1; then
    echo "Retratix at $(git log -1 --format='%h %s' | cut -c1-100)$(git diff --quiet HEAD -- src || echo ' (src changed since)')"
fi
"$build/bin/throughput_bench" --work "$work" "$@"
