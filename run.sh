#!/usr/bin/env bash
# Builds the utility and runs it on the built-in simulated board.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
q70_install_deps

cmake --preset default >/dev/null
cmake --build --preset default

bin=build/default/bin
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/q70uty" ]; then
    echo "Starting the window on the simulated board (q70uty --device sim)."
    exec "$bin/q70uty" --device sim "$@"
fi

echo "No display found: running the command-line client on the simulated board instead."
echo "To see the window, run ./run.sh from a desktop session, or: xvfb-run -a $bin/q70uty --device sim"
echo
set -x
"$bin/q70ctl" --device sim info
"$bin/q70ctl" --device sim get
"$bin/q70ctl" --device sim set paper=letter margin=enable
"$bin/q70ctl" --device sim test-image -o build/default/demo.bmp
