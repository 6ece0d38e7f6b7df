#!/usr/bin/env bash
# Builds the Debian package from this build tree, unpacks it into a scratch root and checks
# what a user would get: the files, the links, the dependencies, lintian and AppStream
# without an error or a warning, and that the installed q70ctl runs from there with a
# per-user folder of its own.
#
# package_test.sh BUILD_DIR WITH_GUI(ON|OFF) SANITIZE(ON|OFF)
# Exit 77 (skipped) when the packaging tools are missing or in a sanitizer build.
set -euo pipefail

build=$1
with_gui=$2
sanitize=$3

if [ "$sanitize" = ON ]; then
    echo "skipped: sanitizer builds are not packaged"
    exit 77
fi
for tool in cpack dpkg-deb; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done
# These judge the package; without them it would pass unjudged.
for tool in lintian appstreamcli dpkg-parsechangelog; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is not installed (scripts/deps.sh installs it)"
        exit 1
    fi
done

# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

echo "== cpack"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
debs=("$work"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    ls -l "$work/out"
    echo "FAIL: expected one .deb"
    exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

echo "== control"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
grep -q 'libusb-1.0-0' <<<"$depends" || fail "Depends lacks libusb"
grep -q 'libstdc++6' <<<"$depends" || fail "Depends lacks libstdc++ (shlibdeps not run?)"
if [ "$with_gui" = ON ]; then
    grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks Qt Widgets"
    grep -q 'qt6-qpa-plugins' <<<"$depends" || fail "Depends lacks the Qt platform plugins"
fi
control_files=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
grep -qx './postinst' <<<"$control_files" || fail "no postinst"
# Everything belongs to root, as dpkg would install it.
owners=$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)
[ "$owners" = root/root ] || fail "files not owned by root/root: $owners"


echo "== file list"
root=$work/root
dpkg -x "$deb" "$root"
expected=(
    lib/udev/rules.d/70-q70.rules
    usr/bin/q70-board-sim
    usr/bin/q70ctl
    usr/lib/q70/Loc/CHS/Q70Uty.html
    usr/lib/q70/Loc/CHS/Q70Uty.ini
    usr/lib/q70/Loc/ENG/Q70Uty.html
    usr/lib/q70/Loc/ENG/Q70Uty.ini
    usr/lib/q70/Loc/JPN/Q70Uty.html
    usr/lib/q70/Loc/JPN/Q70Uty.ini
    usr/lib/q70/Q70Uty.html
    usr/lib/q70/Q70Uty.ini
    usr/lib/q70/q70-board-sim
    usr/lib/q70/q70-installed
    usr/lib/q70/q70ctl
)
expected+=(
    usr/share/doc/q70-utility/changelog.gz
    usr/share/doc/q70-utility/copyright
)
# The Ansible collection: every file of ansible/ in the source tree.
collection=usr/share/ansible/collections/ansible_collections/q70/utility
source_tree=$(cd "$(dirname "$0")/../.." && pwd)
while IFS= read -r file; do
    expected+=("$collection/$file")
done < <(cd "$source_tree/ansible" &&
    find . -type f ! -name '*.pyc' ! -name '*.tar.gz' ! -path '*/__pycache__/*' -printf '%P\n')
programs=(q70ctl q70-board-sim)
if [ "$with_gui" = ON ]; then
    programs+=(q70uty)
    expected+=(
        usr/bin/q70uty
        usr/lib/q70/q70uty
        usr/share/applications/q70uty.desktop
        usr/share/icons/hicolor/32x32/apps/q70uty.png
        usr/share/icons/hicolor/scalable/apps/q70uty.svg
        usr/share/metainfo/org.example.q70uty.metainfo.xml
    )
fi
for program in "${programs[@]}"; do
    expected+=(
        "usr/share/man/man1/$program.1.gz"
        "usr/share/bash-completion/completions/$program"
    )
done
(cd "$root" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort) >"$work/actual"
printf '%s\n' "${expected[@]}" | LC_ALL=C sort >"$work/expected"
if ! diff -u "$work/expected" "$work/actual"; then
    fail "file list differs (- expected, + packaged)"
fi

for program in "${programs[@]}"; do
    real=$root/usr/lib/q70/$program
    link=$root/usr/bin/$program
    [ -f "$real" ] && [ ! -L "$real" ] && [ -x "$real" ] || fail "$real is not an executable file"
    [ -L "$link" ] || fail "$link is not a symlink"
    # Relative, so it resolves inside any root the package is unpacked to.
    [ "$(readlink "$link")" = "../lib/q70/$program" ] || fail "$link -> $(readlink "$link")"
    [ -x "$link" ] || fail "$link does not resolve"
    if ldd "$real" | grep -q 'not found'; then
        fail "$program misses libraries: $(ldd "$real" | grep 'not found')"
    fi
    if file "$real" | grep -q 'not stripped'; then
        fail "$program is not stripped"
    fi
done
for data in usr/lib/q70/Q70Uty.ini usr/lib/q70/Loc/JPN/Q70Uty.ini; do
    [ -s "$root/$data" ] || fail "$data is empty"
done

if [ "$with_gui" = ON ]; then
    echo "== desktop entry and icon"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$root/usr/share/applications/q70uty.desktop" ||
            fail "desktop-file-validate"
    else
        fail "desktop-file-validate is not installed (desktop-file-utils)"
    fi
    file "$root/usr/share/icons/hicolor/32x32/apps/q70uty.png" | grep -q 'PNG image data, 32 x 32' ||
        fail "the 32x32 icon is not a 32 x 32 PNG"
fi

echo "== lintian"
# Every tag is shown; errors and warnings fail (info and pedantic tags are advice).
lintian_status=0
lintian --display-info --pedantic --fail-on error,warning "$deb" >"$work/lintian.out" 2>&1 ||
    lintian_status=$?
grep -v 'running with root privileges' "$work/lintian.out" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors or warnings (status $lintian_status)"

echo "== changelog, copyright and man pages"
version=$(dpkg-deb --field "$deb" Version)
doc=$root/usr/share/doc/q70-utility
zcat "$doc/changelog.gz" >"$work/changelog"
logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
[ "$logged" = "$version" ] || fail "the changelog's latest entry is $logged, the package $version"
project_licence=$(sed -n '/^Files: \*$/,/^$/s/^License: //p' "$doc/copyright")
[ -n "$project_licence" ] || fail "copyright names no licence for Files: *"
for program in "${programs[@]}"; do
    page=$root/usr/share/man/man1/$program.1.gz
    # Made from the program's --help: its name and every long option it lists.
    text=$(MANWIDTH=200 man -l "$page" 2>"$work/man.err")
    [ -s "$work/man.err" ] && fail "man $program: $(cat "$work/man.err")"
    grep -q "^NAME" <<<"$text" || fail "man $program has no NAME section"
    for option in $(env -u DISPLAY "$root/usr/bin/$program" --help 2>&1 | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$option" <<<"$text" || fail "man $program does not mention $option"
    done
done

if [ "$with_gui" = ON ]; then
    echo "== AppStream"
    metainfo=$root/usr/share/metainfo/org.example.q70uty.metainfo.xml
    # The tree, so that the desktop entry and the icon the metadata names are checked too.
    appstreamcli validate-tree --no-net --pedantic --strict "$root" ||
        fail "appstreamcli validate-tree"
    grep -q "<project_license>$project_licence</project_license>" "$metainfo" ||
        fail "AppStream's licence differs from the copyright file's ($project_licence)"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "AppStream lacks release $version"
fi

echo "== the Ansible collection"
grep -q 'ansible-core' <<<"$(dpkg-deb --field "$deb" Suggests)" || fail "Suggests lacks ansible-core"
grep -qx "version: $version" "$root/$collection/galaxy.yml" ||
    fail "the collection's galaxy.yml is not at version $version"
if command -v ansible-doc >/dev/null; then
    # Found where the package puts it, with nothing else on the collections path.
    if ! ANSIBLE_COLLECTIONS_PATH=$root/usr/share/ansible/collections ANSIBLE_HOME=$work/ansible \
        ansible-doc q70.utility.board_info >"$work/ansible-doc.out" 2>&1; then
        cat "$work/ansible-doc.out"
        fail "ansible-doc does not find q70.utility.board_info in the package"
    fi
fi

echo "== installed q70ctl with a per-user folder"
home=$work/home
mkdir -p "$home"
before=$(cd "$root" && find . -printf '%P %s %T@\n' | LC_ALL=C sort)
run() {
    env -u DISPLAY HOME="$home" XDG_DATA_HOME="$home/data" "$@"
}
if ! run "$root/usr/bin/q70ctl" --device sim info >"$work/info.out" 2>&1; then
    cat "$work/info.out"
    fail "installed q70ctl --device sim info"
fi
cat "$work/info.out"
[ -s "$work/info.out" ] || fail "q70ctl info printed nothing"
user=$home/data/q70
for seeded in Q70Uty.ini Q70Uty.html Loc/ENG/Q70Uty.ini Loc/JPN/Q70Uty.html Loc/CHS/Q70Uty.ini; do
    cmp -s "$user/$seeded" "$root/usr/lib/q70/$seeded" || fail "per-user $seeded not seeded"
done
[ -f "$user/Q70_USB.Log" ] || fail "the log file is not in the per-user folder"

if ! run "$root/usr/bin/q70ctl" --device sim test-image -o "$work/image.bmp" \
    >"$work/image.out" 2>&1; then
    cat "$work/image.out"
    fail "installed q70ctl --device sim test-image"
fi
head -c 2 "$work/image.bmp" 2>/dev/null | grep -q '^BM$' || fail "no BMP written"
[ -s "$user/rawdata.bin" ] || fail "rawdata.bin is not in the per-user folder"

after=$(cd "$root" && find . -printf '%P %s %T@\n' | LC_ALL=C sort)
[ "$before" = "$after" ] || fail "running the program changed the installed files"

finish "package OK"
