#!/bin/sh
# Builds the libFuzzer targets with Clang in their own build folder and runs each for a bounded time.
#   fuzz/run.sh [SECONDS] [TARGET...]      SECONDS per target (default 60, or $FUZZ_SECONDS)
# Targets: records isodate response updater zipflag (default: all, one after the other).
# New corpus entries go to <build>/corpus/<target>; the committed seeds in fuzz/corpus/<target> are
# only read. A crashing input lands in <build>/artifacts/<target>/ and makes the script fail.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZANVOLT_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
if [ $# -gt 0 ]; then
    seconds=$1
    shift
fi
targets=${*:-records isodate response updater zipflag}

generator=
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    generator="-G Ninja"
fi
# shellcheck disable=SC2086 # the generator is two words or none
CC=clang CXX=clang++ cmake -S "$root" -B "$build" $generator -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZANVOLT_BUILD_FUZZ=ON -DZANVOLT_BUILD_TESTS=OFF -DZANVOLT_BUILD_BENCH=OFF >/dev/null
names=
for target in $targets; do
    names="$names fuzz_$target"
done
# shellcheck disable=SC2086
nice -n 10 cmake --build "$build" --target $names

# The ZIP target writes a file per input: in memory that is several times faster than on disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
# UBSan findings abort with a stack; leaks are findings too.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"

failed=0
for target in $targets; do
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    log=$build/logs/$target.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    dict=
    if [ -f "$root/fuzz/dict/$target.dict" ]; then
        dict="-dict=$root/fuzz/dict/$target.dict"
    fi
    echo "== fuzz_$target: $seconds s"
    # shellcheck disable=SC2086
    if ! nice -n 10 "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" $dict \
        "$corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
        failed=1
        echo "   FAILED, see $log and $artifacts/"
    fi
    grep -E '^#[0-9]+' "$log" | tail -n 1 | sed 's/^/   /'
    grep -E '^stat::number_of_executed_units' "$log" | sed 's/^/   /' || true
done
exit $failed
