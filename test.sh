#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (SQLite, PostgreSQL and PostgreSQL through
# ODBC). Needs root only to install missing packages. Arguments go to ctest: `./test.sh -L database`
# runs only the tests that use a database server.
set -euo pipefail
cd "$(dirname "$0")"

# With the package test's tools: systemd-analyze (systemd) and hardening-check (devscripts).
./scripts/install-deps.sh systemd devscripts

build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRETRATIX_WERROR=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"

# A throwaway PostgreSQL cluster on loopback for the database tests, stopped on every exit.
# The trap comes first, so that a start that fails half-way leaves no server behind.
source tests/postgres/cluster.sh
trap postgres_cluster_stop EXIT
postgres_cluster_start

ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" "$@"
