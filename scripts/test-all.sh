#!/usr/bin/env bash
# Installs what is missing, builds the project and runs every test: the unit and
# integration tests, the AddressSanitizer+UndefinedBehaviorSanitizer build of all tests,
# the ThreadSanitizer build of the sequencer and platform tests, and every fuzz target for
# a bounded time. A private PulseAudio server with two null sinks stands in for the
# sound card for the whole run and is stopped at the end.
#
#   scripts/test-all.sh              everything
#   CVK_FUZZ_SECONDS=10 scripts/...  shorter fuzzing (default 60 s per target)
#   CVK_STAGES="default tsan" ...    only some stages (default asan tsan fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds="${CVK_FUZZ_SECONDS:-60}"
stages="${CVK_STAGES:-default asan tsan fuzz}"
jobs="$(nproc)"
log_dir="$(mktemp -d "${TMPDIR:-/tmp}/cvk-tests.XXXXXX")"
passed=0
failed=0

bash scripts/install-deps.sh

# shellcheck source=scripts/pulse-server.sh
source scripts/pulse-server.sh
cleanup() {
    pulse_stop
    rm -rf "${log_dir}"
}
trap cleanup EXIT
pulse_start

has_stage() { [[ " ${stages} " == *" $1 "* ]]; }

# Runs ctest for a preset and adds its counts to the totals.
run_ctest() {
    local preset="$1"
    local log="${log_dir}/ctest-${preset}.log"
    local status=0
    ctest --preset "${preset}" -j"${jobs}" 2>&1 | tee "${log}" || status=$?
    local line
    line="$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "${log}" | tail -n 1 || true)"
    if [[ -n "${line}" ]]; then
        local total bad
        bad="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"${line}")"
        total="$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"${line}")"
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    else
        failed=$((failed + 1))
    fi
    return "${status}"
}

build() {
    local preset="$1"
    shift
    echo "==> configure and build: ${preset}"
    cmake --preset "${preset}" >"${log_dir}/configure-${preset}.log" 2>&1 ||
        { cat "${log_dir}/configure-${preset}.log"; return 1; }
    cmake --build --preset "${preset}" -j"${jobs}" "$@"
}

status=0

if has_stage default; then
    build default
    echo "==> tests: default build"
    run_ctest default || status=1
fi

if has_stage asan || has_stage fuzz; then
    build asan
fi
if has_stage asan; then
    echo "==> tests: AddressSanitizer + UndefinedBehaviorSanitizer"
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=0" UBSAN_OPTIONS="print_stacktrace=1" \
        run_ctest asan || status=1
fi

if has_stage tsan; then
    build tsan --target platform_tests audio_tests sequencer_tests waveaudio_tests
    echo "==> tests: ThreadSanitizer (sequencer, platform, audio, wave library)"
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=${PWD}/tests/tsan.supp" \
        run_ctest tsan || status=1
fi

if has_stage fuzz; then
    echo "==> fuzzing: ${fuzz_seconds} s per target"
    for fuzzer in build/asan/bin/*_fuzz; do
        [[ -x "${fuzzer}" ]] || continue
        name="$(basename "${fuzzer}" _fuzz)"
        work="${log_dir}/corpus-${name}"
        mkdir -p "${work}"
        seeds=()
        [[ -d "fuzz/${name}/corpus" ]] && seeds+=("fuzz/${name}/corpus")
        echo "--> ${name}"
        # Targets that write files do it in memory-backed /dev/shm: disk syncs would
        # slow them several times over.
        if TMPDIR=/dev/shm "${fuzzer}" -max_total_time="${fuzz_seconds}" -timeout=20 -rss_limit_mb=2048 \
            -print_final_stats=0 "${work}" "${seeds[@]}" >"${log_dir}/fuzz-${name}.log" 2>&1; then
            passed=$((passed + 1))
            tail -n 2 "${log_dir}/fuzz-${name}.log"
        else
            failed=$((failed + 1))
            status=1
            tail -n 60 "${log_dir}/fuzz-${name}.log"
        fi
    done
fi

echo
echo "tests: ${passed} passed, ${failed} failed"
exit "${status}"
