#!/usr/bin/env bash
# Fuzzes the parsers of outside input with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   tools/fuzz.sh TARGET [SECONDS] [LIBFUZZER_OPTION...]   one target, SECONDS long (default 60)
#   tools/fuzz.sh all SECONDS [LIBFUZZER_OPTION...]        every target in turn, SECONDS each
#
# TARGET is a folder of tests/fuzz/corpus: configuration (Polidex.ini reader), numbers (number
# conversions), mod_rutinas (selection condition to SQL), report_definition (.rpt reader, formulas
# and page layout). Further options go to libFuzzer, for instance -runs=10000000 (stops after that
# many inputs, or at SECONDS, whichever comes first), -max_len=N (default 4096), -timeout=N (default
# 60 s per input).
#
# Installs clang and libFuzzer's runtime when missing (root, or sudo like scripts/install-deps.sh),
# builds the fuzz targets alone with clang in build-fuzz/ (-DRETRATIX_FUZZ=ON: libraries with
# -fsanitize=fuzzer-no-link,address,undefined, targets linked with -fsanitize=fuzzer,address,undefined),
# then fuzzes from the committed seeds in tests/fuzz/corpus/TARGET. New inputs go to
# build-fuzz/corpus-TARGET (kept for the next run), a crash, leak or time-out input to
# build-fuzz/artifacts-TARGET/ with libFuzzer's report in build-fuzz/fuzz-TARGET.log. The last lines
# print, per target, the executions, crashes, leaks and coverage; the status is non-zero when any
# target found something.
#
# A found input: reproduce it with build-fuzz/bin/fuzz_TARGET FILE; once the fault is fixed, copy
# it into tests/fuzz/corpus/TARGET under a name that says what it found, so that ./test.sh replays
# it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(configuration numbers mod_rutinas report_definition)
usage() {
    echo "usage: $0 {${targets[*]// /|}} [SECONDS] [LIBFUZZER_OPTION...]" >&2
    echo "       $0 all SECONDS [LIBFUZZER_OPTION...]" >&2
    exit 2
}
[ $# -ge 1 ] || usage
chosen=$1
shift
seconds=60
if [ $# -ge 1 ] && [[ $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
elif [ "$chosen" = all ]; then
    usage
fi
if [ "$chosen" = all ]; then
    run=("${targets[@]}")
elif [ -d "tests/fuzz/corpus/$chosen" ]; then
    run=("$chosen")
else
    usage
fi

# The project's own packages, with clang and the runtime that holds libFuzzer.
./scripts/install-deps.sh clang libclang-rt-14-dev

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRETRATIX_FUZZ=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${run[@]/#/fuzz_}" |
    { grep -v -e '^ninja: no work to do' || true; }

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

summary=()
found=0
for target in "${run[@]}"; do
    corpus=$build/corpus-$target
    artifacts=$build/artifacts-$target
    log=$build/fuzz-$target.log
    mkdir -p "$corpus" "$artifacts"
    dict=()
    [ -f "tests/fuzz/$target.dict" ] && dict=("-dict=tests/fuzz/$target.dict")
    marker=$artifacts/.started
    touch "$marker"
    echo "== $target: fuzzing for at most $seconds s (log: $log)"
    start=$(date +%s)
    status=0
    # Inputs up to 4 KB reach every construct (a longer seed is cut); an input that takes a minute
    # is a hang. Options given on the command line come later and win.
    "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "${dict[@]}" "$@" "$corpus" "tests/fuzz/corpus/$target" \
        >"$log" 2>&1 || status=$?
    elapsed=$(($(date +%s) - start))
    # Inputs libFuzzer wrote this time: crash-, timeout-, oom- (crashes) and leak- (leaks).
    crashes=$(find "$artifacts" -type f -newer "$marker" \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    leaks=$(find "$artifacts" -type f -newer "$marker" -name 'leak-*' | wc -l)
    # A run that failed without writing an input (a crash outside any input) counts as one.
    [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ] && [ "$leaks" -eq 0 ] && crashes=1
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]* corp: [^ ]*' "$log" | tail -n 1 || true)
    summary+=("$(printf '%-18s %10s executions in %5d s, %d crashes, %d leaks, %s' \
        "$target" "${execs:-?}" "$elapsed" "$crashes" "$leaks" "${coverage:-no coverage line}")")
    if [ "$crashes" -gt 0 ] || [ "$leaks" -gt 0 ]; then
        found=1
        grep -m 1 -A 3 -e '^==[0-9]*==ERROR' -e 'runtime error' -e 'terminate called' "$log" || true
        find "$artifacts" -type f -newer "$marker" -printf '  input: %p\n'
    fi
done
echo
printf '%s\n' "${summary[@]}"
exit "$found"
