#!/usr/bin/env bash
# The Linux and the Windows build, each against its own q70-board-sim (socket and named
# pipe), must save the very same BMP of the board's test image.
# Usage: same_bitmap.sh LINUX_BIN WINDOWS_BIN
set -euo pipefail
linux=$1
windows=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$linux/q70-board-sim" --listen "$work/board.sock" --image-after 0 >"$work/linux-board.log" &
board=$!
for _ in $(seq 50); do [ -S "$work/board.sock" ] && break; sleep 0.1; done
"$linux/q70ctl" --device "unix:$work/board.sock" test-image -o "$work/linux.bmp" --wait 20
kill "$board"
wait "$board" || true

pipe="\\\\.\\pipe\\q70-same-bitmap-$$"
"$here/wine-run.sh" "$windows/q70-board-sim.exe" --listen "$pipe" --image-after 0 \
    >"$work/windows-board.log" &
board=$!
for _ in $(seq 100); do grep -q "listening on" "$work/windows-board.log" && break; sleep 0.1; done
"$here/wine-run.sh" "$windows/q70ctl.exe" --device "$pipe" test-image -o "Z:${work//\//\\}\\windows.bmp" \
    --wait 20
"$here/wine-run.sh" cmd /c "echo stop> $pipe-control" >/dev/null 2>&1 || true
wait "$board" || true

cmp "$work/linux.bmp" "$work/windows.bmp"
echo "The Linux and the Windows build saved the same BMP ($(stat -c %s "$work/linux.bmp") bytes)."
