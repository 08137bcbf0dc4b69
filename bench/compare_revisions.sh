#!/usr/bin/env bash
# Builds one benchmark of this project at several revisions, each in a throwaway worktree, and runs
# the builds in turn, round after round, so that a busy moment of a shared machine spreads over all
# of them. Prints each run's own figures under its revision; judges nothing.
#
#   bench/compare_revisions.sh [--rounds N] TARGET REVISION...
#   bench/compare_revisions.sh --rounds 5 upload_bench c037860 main
#
# The benchmark must exist at every revision named; a benchmark that needs a server (not
# upload_bench) expects the environment that bench/run_benchmarks.sh sets up. Worktrees and builds
# go under TMPDIR and are removed on every exit.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=3
if [ "${1:-}" = --rounds ]; then  # 0: only build
    rounds=$2
    shift 2
fi
if [ $# -lt 2 ]; then
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
target=$1
shift

scripts/install-deps.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/retratix-revisions.XXXXXX")
cleanup() {
    for tree in "$work"/*/; do
        [ -d "$tree" ] && git worktree remove --force "$tree" >/dev/null 2>&1 || true
    done
    rm -rf "$work"
    git worktree prune
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# Paths relative to the worktrees' folder, so that a later comparison reuses these compilations.
export CCACHE_BASEDIR=$work CCACHE_NOHASHDIR=1

commits=()
for revision in "$@"; do
    commit=$(git rev-parse --short "$revision^{commit}")
    commits+=("$commit")
    [ -d "$work/$commit" ] && continue
    echo "building $target at $revision ($commit)" >&2
    git worktree add --detach --quiet "$work/$commit" "$commit"
    cmake -S "$work/$commit" -B "$work/$commit/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$work/$commit/build" --parallel "$(nproc)" --target "$target" >/dev/null
done

for ((round = 1; round <= rounds; ++round)); do
    for i in "${!commits[@]}"; do
        echo "== round $round of $rounds: ${*:i+1:1} (${commits[i]})"
        "$work/${commits[i]}/build/bin/$target"
    done
done
