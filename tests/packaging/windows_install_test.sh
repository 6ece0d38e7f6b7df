#!/usr/bin/env bash
# Builds the Windows installer and zip, installs silently under wine, runs the installed
# q70ctl (which seeds the user's own folder), uninstalls silently and checks that the
# program folder is gone while the user's folder stays.
# Usage: windows_install_test.sh BUILD_DIR WINE_RUN
set -euo pipefail
build=$1
wine_run=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

cd "$build"
rm -f q70-utility-*-win64.exe q70-utility-*-win64.zip
cpack -G "NSIS64;ZIP" >cpack.log 2>&1 || { cat cpack.log; fail "cpack"; }
installer=$(ls q70-utility-*-win64.exe)
zip=$(ls q70-utility-*-win64.zip)

# The zip holds one folder with the programs and the language files.
listing=$(unzip -Z1 "$zip")
for f in q70uty.exe q70ctl.exe q70-board-sim.exe q70-installed Q70Uty.ini Q70Uty.html Loc/JPN/Q70Uty.ini \
    Loc/CHS/Q70Uty.html; do
    grep -qx "q70-utility-[^/]*-win64/$f" <<<"$listing" || fail "$f missing from $zip"
done

prefix=${WINEPREFIX:?}
target='C:\q70-install-test'
unix_target="$prefix/drive_c/q70-install-test"
rm -rf "$unix_target"
"$wine_run" "$installer" /S "/D=$target" || fail "silent install"
for f in q70uty.exe q70ctl.exe q70-board-sim.exe Uninstall.exe Q70Uty.ini Loc/ENG/Q70Uty.html; do
    [ -f "$unix_target/$f" ] || fail "$f not installed"
done
# The Start-menu entry starts the window.
shortcut=$(find "$prefix/drive_c" -path '*Start Menu*' -name 'Q-70 Utility.lnk' | head -1)
[ -n "$shortcut" ] || fail "no Start-menu entry for the window"
# The target path may be stored in UTF-16: drop the zero bytes before looking.
tr -d '\000' <"$shortcut" | grep -aq 'q70uty\.exe' || fail "the Start-menu entry does not start q70uty.exe"

# The installed q70ctl works in the user's folder (wine's %LOCALAPPDATA%\q70), seeded
# from the installed one.
appdata=$(echo "$prefix"/drive_c/users/*/AppData/Local)
[ -d "$appdata" ] || fail "no AppData\\Local in the wine prefix"
rm -rf "$appdata/q70"
"$wine_run" "$unix_target/q70ctl.exe" --device sim get >/dev/null || fail "installed q70ctl"
[ -f "$appdata/q70/Q70Uty.ini" ] || fail "the user's folder was not seeded"
[ -f "$appdata/q70/Q70_USB.Log" ] || fail "the log file is not in the user's folder"

# _? runs the uninstaller in place and waits for it.
"$wine_run" "$unix_target/Uninstall.exe" /S "_?=$target" || fail "silent uninstall"
for f in q70ctl.exe q70-board-sim.exe Q70Uty.ini Loc/ENG/Q70Uty.ini; do
    [ ! -e "$unix_target/$f" ] || fail "$f left behind by the uninstaller"
done
[ -f "$appdata/q70/Q70Uty.ini" ] || fail "the uninstaller removed the user's folder"
rm -rf "$unix_target" "$appdata/q70"
echo "installer and zip: install, run, uninstall: ok"
