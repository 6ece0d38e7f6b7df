#!/usr/bin/env bash
# Builds the Windows installer and zip, installs silently under wine, starts the window
# through its Start-menu entry as the shell reads it (target, working folder), runs the
# installed q70ctl (which seeds the user's own folder), uninstalls silently and checks
# that the program folder and the entry are gone while the user's folder stays.
# Usage: windows_install_test.sh BUILD_DIR WINE_RUN SHORTCUT_PROBE
set -euo pipefail
build=$1
wine_run=$2
probe=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

cd "$build"
rm -f q70-utility-*-win64.exe q70-utility-*-win64.zip
cpack -G "NSIS64;ZIP" >cpack.log 2>&1 || { cat cpack.log; fail "cpack"; }
installer=$(ls q70-utility-*-win64.exe)
zip=$(ls q70-utility-*-win64.zip)

# The zip holds one folder whose bin/ has the programs beside the language files.
listing=$(unzip -Z1 "$zip")
for f in q70uty.exe q70ctl.exe q70-board-sim.exe q70-installed Q70Uty.ini Q70Uty.html Loc/JPN/Q70Uty.ini \
    Loc/CHS/Q70Uty.html; do
    grep -qx "q70-utility-[^/]*-win64/bin/$f" <<<"$listing" || fail "bin/$f missing from $zip"
done
# The marker's note speaks of the Windows folder, in Windows line ends.
note=$(unzip -p "$zip" "${zip%.zip}/bin/q70-installed")
grep -q '%LOCALAPPDATA%\\q70' <<<"$note" || fail "the installed note does not name %LOCALAPPDATA%\\q70"
! grep -q 'XDG' <<<"$note" || fail "the installed note speaks of XDG folders"
[[ $note == *$'\r'* ]] || fail "the installed note has no Windows line ends"

prefix=${WINEPREFIX:?}
target='C:\q70-install-test'
unix_target="$prefix/drive_c/q70-install-test"
rm -rf "$unix_target"
"$wine_run" "$installer" /S "/D=$target" || fail "silent install"
for f in bin/q70uty.exe bin/q70ctl.exe bin/q70-board-sim.exe bin/q70-installed Uninstall.exe \
    bin/Q70Uty.ini bin/Loc/ENG/Q70Uty.html; do
    [ -f "$unix_target/$f" ] || fail "$f not installed"
done

# The Start-menu entry, followed as the shell follows it.
shortcut=$(find "$prefix/drive_c" -path '*Start Menu*' -name 'Q-70 Utility.lnk' | head -1)
[ -n "$shortcut" ] || fail "no Start-menu entry for the window"
relative=${shortcut#"$prefix/drive_c"}
appdata=$(echo "$prefix"/drive_c/users/*/AppData/Local)
[ -d "$appdata" ] || fail "no AppData\\Local in the wine prefix"
rm -rf "$appdata/q70"
"$wine_run" "$probe" "C:${relative//\//\\}" >probe.out 2>&1 || { cat probe.out; fail "shortcut probe"; }
field() { sed -n "s/^$1=//p" probe.out | tr -d '\r' | head -1; }
on_c() { local p=${1#[Cc]:}; echo "$prefix/drive_c${p//\\//}"; }
[ "$(on_c "$(field target)")" -ef "$unix_target/bin/q70uty.exe" ] || fail "the entry points to $(field target)"
workdir=$(on_c "$(field workdir)")
[ -d "$workdir" ] && [ -w "$workdir" ] || fail "the entry starts in $(field workdir), not a folder the user may write"
[[ $(realpath "$workdir")/ != $(realpath "$unix_target")/* ]] || fail "the entry starts in the program folder"
[ "$(field dpi-aware)" = true ] || fail "q70uty.exe does not declare itself DPI-aware: $(field dpi-aware)"
grep -q '^window=Q-70 Series Setup Utility Ver\. ' probe.out || { cat probe.out; fail "the entry showed no main window"; }
[ "$(field exit)" = 0 ] || fail "the window ended with status $(field exit) when closed"
[ -f "$appdata/q70/Q70Uty.ini" ] || fail "the window's first start did not seed the user's folder"

# The installed q70ctl works in the same folder.
rm -rf "$appdata/q70"
"$wine_run" "$unix_target/bin/q70ctl.exe" --device sim get >/dev/null || fail "installed q70ctl"
[ -f "$appdata/q70/Q70Uty.ini" ] || fail "the user's folder was not seeded"
[ -f "$appdata/q70/Q70_USB.Log" ] || fail "the log file is not in the user's folder"

# _? runs the uninstaller in place and waits for it.
"$wine_run" "$unix_target/Uninstall.exe" /S "_?=$target" || fail "silent uninstall"
for f in bin/q70uty.exe bin/q70ctl.exe bin/q70-board-sim.exe bin/Q70Uty.ini bin/Loc/ENG/Q70Uty.ini; do
    [ ! -e "$unix_target/$f" ] || fail "$f left behind by the uninstaller"
done
[ ! -e "$shortcut" ] || fail "the uninstaller left the Start-menu entry"
[ -f "$appdata/q70/Q70Uty.ini" ] || fail "the uninstaller removed the user's folder"
rm -rf "$unix_target" "$appdata/q70"
echo "installer and zip: install, start from the Start menu, run, uninstall: ok"
