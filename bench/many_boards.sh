#!/usr/bin/env bash
# Wall time of q70ctl on one emulated USB board against four at once (--device all):
# `info`, and a test image from each. Several boards run in parallel, each on its own link,
# so four should take little longer than one; the goal is at most 1.5 times.
#
#   bench/many_boards.sh [BIN_DIR] [RUNS]     (default: build/default/bin, 5 runs)
#
# Prints the median of the runs for each case and the ratio; exits 1 when a ratio is
# above 1.5 or a run fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/default/bin}
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The boards' locks in a folder of this run's own.
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Milliseconds q70ctl takes with these emulator options and q70ctl arguments, measured
# inside the emulator (its own start-up is not counted).
measure() {
    local ports=$1
    shift
    local emu=()
    for p in $(seq 1 "$ports"); do emu+=(--port "$p"); done
    "$bin/q70-usb-emu" "${emu[@]}" --image-after 0 -- /bin/sh -c '
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || exit 1
        end=$(date +%s%N)
        echo $(((end - start) / 1000000))' sh "$bin/q70ctl" "$@"
}

median() { tr ' ' '\n' | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

status=0
report() {
    local what=$1 one=$2 four=$3
    local ratio
    ratio=$(awk -v a="$four" -v b="$one" 'BEGIN {printf "%.2f", a / b}')
    printf '%-12s one board %5d ms   four boards %5d ms   ratio %s\n' "$what" "$one" "$four" "$ratio"
    awk -v r="$ratio" 'BEGIN {exit !(r <= 1.5)}' || status=1
}

for what in info test-image; do
    case $what in
        info) args=(info) ;;
        test-image) args=(test-image -o "$work/{device}.bmp" --wait 20) ;;
    esac
    one=() four=()
    for _ in $(seq 1 "$runs"); do
        one+=("$(measure 1 --device usb:217-1 "${args[@]}")") || status=1
        four+=("$(measure 4 --device all "${args[@]}")") || status=1
    done
    report "$what" "$(echo "${one[*]}" | median)" "$(echo "${four[*]}" | median)"
done
exit "$status"
