#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset, clang) and runs each one, starting from
# its seed corpus in fuzz/corpus/<target>/ (copied, so the kept corpus does not grow).
# Fails when any target finds a crash, a leak, a timeout or a broken check; the input
# that caused it is kept in build/fuzz/findings/<target>/.
#
#   scripts/fuzz.sh [--seconds N] [--runs N] [--target NAME]... [--jobs N] [--keep]
#
#   --seconds N   run each target for N seconds (default 20)
#   --runs N      stop each target after N executions instead (no time limit)
#   --target NAME only this target (repeatable; default: all)
#   --jobs N      build jobs (default: number of cores)
#   --keep        after a run without a finding, add to fuzz/corpus/<target>/ the inputs
#                 that reach code the kept corpus does not (libFuzzer's -merge=1)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
runs=""
jobs="$(nproc)"
targets=()
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --target) targets+=("$2"); shift 2 ;;
        --jobs) jobs="$2"; shift 2 ;;
        --keep) keep=1; shift ;;
        -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "fuzz.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

# The longest input each target takes: enough for its seeds and the formats' interesting
# sizes (lines longer than a chunk, several answer packets), small enough to stay fast.
declare -A max_len=(
    [fuzz_link_answers]=4096
    [fuzz_test_image]=8192
    [fuzz_config]=8192
    [fuzz_firmware_chunks]=16384
    [fuzz_device_address]=256
    [fuzz_board_requests]=8192
)
if [ ${#targets[@]} -eq 0 ]; then
    targets=(fuzz_link_answers fuzz_test_image fuzz_config fuzz_firmware_chunks fuzz_device_address
             fuzz_board_requests)
fi

echo "Building the fuzz targets (preset fuzz)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target q70-fuzz -j "$jobs" >/dev/null

bin=build/fuzz/fuzz
findings=build/fuzz/findings
status=0
summary=()
for t in "${targets[@]}"; do
    if [ -z "${max_len[$t]:-}" ]; then
        echo "fuzz.sh: no target $t" >&2
        exit 2
    fi
    work="$(mktemp -d)"
    log="$work/log"
    mkdir -p "$work/corpus" "$findings/$t"
    if [ -d "fuzz/corpus/$t" ]; then cp -r "fuzz/corpus/$t/." "$work/corpus/"; fi

    limit=(-max_total_time="$seconds")
    if [ -n "$runs" ]; then limit=(-runs="$runs"); fi
    echo "== $t (${limit[*]})"
    start=$(date +%s)
    rc=0
    "$bin/$t" "$work/corpus" "${limit[@]}" -max_len="${max_len[$t]}" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/$t/" \
        >"$log" 2>&1 || rc=$?
    elapsed=$(( $(date +%s) - start ))
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    grep -E "^#[0-9]+[[:space:]]+DONE" "$log" | tail -1 || true
    if [ "$rc" -ne 0 ]; then
        status=1
        echo "!! $t: finding (exit $rc), input kept in $findings/$t/"
        grep -E "ERROR|SUMMARY|check failed|Test unit written" "$log" | head -20 || true
        tail -40 "$log" >"$findings/$t/last.log"
    elif [ "$keep" -eq 1 ]; then
        # Only inputs that add coverage are kept, not everything the run tried.
        mkdir -p "fuzz/corpus/$t"
        before=$(find "fuzz/corpus/$t" -type f | wc -l)
        if "$bin/$t" -merge=1 "fuzz/corpus/$t" "$work/corpus" -max_len="${max_len[$t]}" \
            -timeout=10 -rss_limit_mb=2048 >"$work/merge.log" 2>&1; then
            echo "   kept $(( $(find "fuzz/corpus/$t" -type f | wc -l) - before )) new inputs in fuzz/corpus/$t"
        else
            status=1
            cp "$work/merge.log" "$findings/$t/merge.log"
            echo "!! $t: merging into fuzz/corpus/$t failed, see $findings/$t/merge.log"
        fi
    fi
    summary+=("$(printf '%-22s %12s executions in %5ss%s' "$t" "${execs:-?}" "$elapsed" \
        "$([ "$rc" -ne 0 ] && echo '  FINDING')")")
    rm -rf "$work"
done

echo "== Fuzz summary"
printf '%s\n' "${summary[@]}"
exit "$status"
