#!/usr/bin/env bash
# Runs a Windows program under wine, headless and quiet: the emulator of the windows
# build. The prefix is $WINEPREFIX (test.sh makes a fresh one), else one kept in the
# user's cache; it is created on first use, once even when tests start in parallel.
set -euo pipefail
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/q70/wineprefix}"
# No Mono or Gecko installer dialogs, and no window from wine itself.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
# Debian's /usr/bin/wine warns about a missing 32-bit wine; the programs are 64-bit.
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
        wineserver --wait || true
    fi
    # The wine server and wine's own services outlive the program. Started here, away from
    # the program's output, they hold no pipe of the caller's open (ctest would wait on it).
    if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
        "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$WINEPREFIX.lock"
exec "$wine" "$@"
