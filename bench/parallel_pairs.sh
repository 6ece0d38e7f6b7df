#!/usr/bin/env bash
# Two q70ctl started at the same moment under one q70-usb-emu, each on its own emulated
# board, PAIRS times over (default 200); prints how many runs failed and the messages of
# the failures, and exits 1 when any did.
#
# bench/parallel_pairs.sh [PAIRS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=${1:-200}
bin=${2:-build/default}/bin

"$bin/q70-usb-emu" --port 1 --port 2 -- /bin/bash -c '
    ctl=$1 pairs=$2
    scratch=$(mktemp -d)
    trap "rm -rf \"$scratch\"" EXIT
    failed=0
    for ((i = 1; i <= pairs; i++)); do
        "$ctl" --device usb:217-1 get >/dev/null 2>"$scratch/one" &
        one=$!
        "$ctl" --device usb:217-2 get >/dev/null 2>"$scratch/two" &
        two=$!
        wait "$one" || { failed=$((failed + 1)); cat "$scratch/one"; }
        wait "$two" || { failed=$((failed + 1)); cat "$scratch/two"; }
    done
    echo "$failed of $((2 * pairs)) runs failed ($pairs pairs)"
    [ "$failed" -eq 0 ]' bash "$bin/q70ctl" "$pairs"
