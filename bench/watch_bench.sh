#!/usr/bin/env bash
# Builds retratix and bench/watch_bench from this tree (in build-bench/, warnings as errors) and
# retratix at a base revision (default e23d95d, the watch that read the whole folder on every
# check) from `git archive` in a throwaway folder, then runs the benchmark on both side by side:
# the CPU seconds of an idle watch over a minute on a folder of 1 000 000 entries, with and without
# change notices, and the latency from a photo landing to its upload. Prints figures; judges
# nothing. The folders go under TMPDIR (or --work DIR, a tmpfs such as /dev/shm for instance).
#
#   bench/watch_bench.sh [--base REVISION] [watch_bench options: --entries N --seconds S ...]
# The build folder can be changed with RETRATIX_BENCH_BUILD; everything else is removed on exit.
set -euo pipefail
cd "$(dirname "$0")/.."

base=e23d95d
if [ "${1:-}" = --base ]; then
    base=$2
    shift 2
fi
build=${RETRATIX_BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRETRATIX_WERROR=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target retratix watch_bench >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/retratix-watch-base.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
commit=$(git rev-parse --short "$base^{commit}")
echo "building retratix at $base ($commit)" >&2
git archive "$commit" | tar -x -C "$work"
cmake -S "$work" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$work/build" --parallel "$(nproc)" --target retratix >/dev/null

echo "Retratix at $(git log -1 --format='%h %s' | cut -c1-100)$(git diff --quiet HEAD -- src || echo ' (src changed since)')"
"$build/bin/watch_bench" --program "before ($commit)=$work/build/bin/retratix" \
    --program "after=$build/bin/retratix" --polled "after, no notices=$build/bin/retratix" "$@"
