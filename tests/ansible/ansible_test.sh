#!/usr/bin/env bash
# The Ansible collection q70.utility with the real ansible-playbook, against a fleet of
# meeting-room PCs simulated on this machine (sim_fleet.sh) and emulated USB boards.
#
#   ansible_test.sh CASE Q70CTL BOARD_SIM USB_EMU SOURCE_DIR PROJECT_VERSION
#
# CASE: fleet (first and second run, --check, --diff, the clock), faults (refusals, a
# silent and an absent board among good ones), firmware, lock (two plays on one board),
# usb (board_info's listing), docs (ansible-doc, sanity, galaxy build, the READMEs).
# Q70CTL and BOARD_SIM are this build's, in one folder; USB_EMU may be empty (no USB build).
set -euo pipefail

case=$1
bin=$(cd "$(dirname "$2")" && pwd)
[ "$bin/q70-board-sim" -ef "$3" ] || { echo "FAIL: $2 and $3 are not in one folder"; exit 1; }
usb_emu=$4
src=$(cd "$5" && pwd)
version=$6
here=$(cd "$(dirname "$0")" && pwd)

for tool in ansible-playbook ansible-doc ansible-galaxy; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is not installed (scripts/deps.sh installs ansible-core)"
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/q70-ansible-$case-XXXXXX")
fleet=$work/fleet
cleanup() {
    "$here/sim_fleet.sh" stop "$fleet" || true
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The collection of this source tree, and nothing of the user's own Ansible setup.
mkdir -p "$work/collections/ansible_collections/q70" "$work/ansible-home"
ln -s "$src/ansible" "$work/collections/ansible_collections/q70/utility"
export ANSIBLE_COLLECTIONS_PATH=$work/collections
export ANSIBLE_HOME=$work/ansible-home ANSIBLE_LOCAL_TEMP=$work/ansible-home/tmp
export ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0
cat >"$ANSIBLE_CONFIG" <<EOF
[defaults]
forks = 6
retry_files_enabled = false
interpreter_python = /usr/bin/python3
remote_tmp = $work/ansible-home/remote-tmp
EOF

# ansible-playbook with the fleet's inventory; its output in $work/NAME.out, status in $rc.
play() {
    local name=$1
    shift
    rc=0
    (cd "$work" && ansible-playbook -i "$fleet/inventory.yml" "$@") >"$work/$name.out" 2>&1 || rc=$?
}

# The recap line of HOST in run NAME must hold every COUNT (for example changed=1).
recap() {
    local name=$1 host=$2 line count
    shift 2
    line=$(grep -E "^$host +:" "$work/$name.out" || true)
    for count in "$@"; do
        [[ " $line " == *" $count "* ]] || fail "$name: $host has not $count: ${line:-no recap line}"
    done
}

shown() {
    echo "---- $1"
    cat "$work/$1.out"
}

# q70ctl get on a board of the fleet, as its PC would run it.
settings_of() {
    local host=$1 board=$2
    HOME=$fleet/$host/home XDG_DATA_HOME=$fleet/$host/data XDG_RUNTIME_DIR=$fleet/$host/run \
        "$bin/q70ctl" --device "unix:$fleet/$host/board-$board.sock" get | tr '\n' ' '
}

# Every board HOST/BOARD named must hold settings matching PATTERN (q70ctl get's words).
holds() {
    local what=$1 pattern=$2 board
    shift 2
    for board in "$@"; do
        # shellcheck disable=SC2053
        [[ $(settings_of "${board%/*}" "${board#*/}") == $pattern ]] ||
            fail "$what: $board holds $(settings_of "${board%/*}" "${board#*/}")"
    done
}

# Requests in a board's log: all of them, writes of a setting or the clock, firmware data.
requests() { grep -c . "$fleet/$1/board-$2.log" || true; }
writes() { grep -cE '^(02 00 00 00 (06|11|12|13|14)|07 00 00 00 05) ' "$fleet/$1/board-$2.log" || true; }
firmware_requests() { grep -cE '^([0-9A-F]{2} ){4}16( |$)' "$fleet/$1/board-$2.log" || true; }
all_writes() { local h; for h in room-1 room-2 room-3; do echo "$(writes $h a) $(writes $h b)"; done; }

case_fleet() {
    "$here/sim_fleet.sh" start "$fleet" --hosts 3 --bin "$bin"
    local h boards=(room-1/a room-1/b room-2/a room-2/b room-3/a room-3/b)

    # Board a holds A4 and board b letter: only a has something to write, once.
    play first "$here/playbooks/board.yml" -e '{"settings": {"paper": "letter", "margin": false},
        "expect": {"room-1/a": "changed", "room-2/a": "changed", "room-3/a": "changed"}}'
    play second "$here/playbooks/board.yml" -e '{"settings": {"paper": "letter", "margin": false}}'
    for h in room-1 room-2 room-3; do
        recap first "$h" ok=2 changed=1 failed=0
        recap second "$h" ok=2 changed=0 failed=0
    done
    holds "first run" "*margin=disable paper=letter*" "${boards[@]}"
    [ "$(all_writes | tr '\n' ' ')" = "6 0 6 0 6 0 " ] || fail "not one write of six to each board a: $(all_writes)"

    # --check reports and writes nothing; the diff shows every setting, headed by the board.
    local before
    before=$(all_writes)
    play check "$here/playbooks/board.yml" --check --diff -e '{"settings": {"paper": "a4",
        "time_stamp": "disable"}, "expect_default": "changed"}'
    [ "$(all_writes)" = "$before" ] || fail "--check wrote to a board"
    holds "--check" "time-stamp=enable margin=disable paper=letter*" "${boards[@]}"
    local count line
    for line in '6 -paper: letter' '6 +paper: a4' '6 -time_stamp: enable' '6 +time_stamp: disable' \
        '6 -clock: (cannot be read)' '6 +clock: now' '6  margin: disable' \
        '3  firmware_version: Q70 Ver 1.20' '3  firmware_version: Q70 Ver 1.21'; do
        count=${line%% *}
        line=${line#* }
        [ "$(grep -cxF -- "$line" "$work/check.out")" -eq "$count" ] || fail "--diff: not $count lines '$line'"
    done
    for h in "${boards[@]}"; do
        grep -qxF -- "--- before: unix:$fleet/${h%/*}/board-${h#*/}.sock" "$work/check.out" ||
            fail "--check --diff shows no diff headed by $h"
    done

    # The same for real: what --check said is what happens.
    play diff "$here/playbooks/board.yml" --diff -e '{"settings": {"paper": "a4",
        "time_stamp": "disable"}, "expect_default": "changed"}'
    recap diff room-2 changed=1 failed=0
    holds "--diff run" "time-stamp=disable margin=disable paper=a4*" "${boards[@]}"

    # The clock alone: written every time, with the settings the board holds.
    for run in clock clock-again; do
        play $run "$here/playbooks/board.yml" --diff --limit room-1 -e '{"clock": "2004-12-31T23:59",
            "only": "room-1/board-a", "expect_default": "changed"}'
        grep -qxF '+clock: 2004-12-31T23:59' "$work/$run.out" || fail "$run: the diff shows no clock"
    done
    [ "$(grep -cxF '07 00 00 00 05 D4 07 0C 1F 17 3B' "$fleet/room-1/board-a.log")" -eq 2 ] ||
        fail "the clock was not written twice as 2004-12-31T23:59"
    holds "the clock" "time-stamp=disable margin=disable paper=a4*" room-1/a

    # A bad option fails before anything reaches a board.
    local n
    n=$(requests room-2 a)
    play bad "$here/playbooks/board.yml" --limit room-2 -e '{"settings": {"paper": "legal"},
        "only": "board-a", "expect_default": "usage"}'
    [ "$(requests room-2 a)" -eq "$n" ] || fail "a bad option reached the board"
    grep -q 'paper takes a4 or letter' "$work/bad.out" || fail "bad paper: no clear message"

    if [ "$failures" -ne 0 ]; then
        for run in first second check diff clock clock-again bad; do shown $run; done
    fi
}

case_faults() {
    # room-1/a refuses its first clock write; room-2/b its first paper write (its third
    # paper request: the task reads the board, and q70ctl set reads it again before it
    # writes); room-2/a acknowledges its first time-stamp write and keeps the old value;
    # room-3/a never answers; room-3/b is not there at all.
    "$here/sim_fleet.sh" start "$fleet" --hosts 3 --bin "$bin" --board 'room-1/a=--fault fe:code=5' \
        --board 'room-2/a=--fault forget:code=20:skip=2' \
        --board 'room-2/b=--fault fe:code=18:skip=2' --board 'room-3/a=--fault silence:times=0' \
        --absent room-3/b
    local wanted='"settings": {"paper": "a4", "time_stamp": false}'
    play faults "$here/playbooks/board.yml" -e "{$wanted, \"expect\": {\"room-1/a\": \"refused\",
        \"room-1/b\": \"changed\", \"room-2/a\": \"not-kept\", \"room-2/b\": \"refused\",
        \"room-3/a\": \"timeout\", \"room-3/b\": \"no-device\"}}"
    recap faults room-1 failed=0 ignored=1
    recap faults room-2 failed=0 ignored=1
    recap faults room-3 failed=0 ignored=1
    # The refused clock came after the settings: they are on room-1/a.
    holds "beside the failing boards" "time-stamp=disable margin=disable paper=a4*" room-1/a room-1/b
    holds "the forgotten time stamp" "time-stamp=enable*" room-2/a
    holds "the refused paper" "*paper=letter*" room-2/b
    grep -q '"failure_class": "refused"' "$work/faults.out" || fail "no refused class in the output"
    grep -q 'keeps time-stamp=enable' "$work/faults.out" || fail "the kept time stamp is not named"

    # Run again: room-1/a has nothing left to change, room-2 takes its time stamp and paper
    # now, room-3 fails as before.
    play again "$here/playbooks/board.yml" -e "{$wanted, \"expect\": {\"room-2/a\": \"changed\", \"room-2/b\": \"changed\",
        \"room-3/a\": \"timeout\", \"room-3/b\": \"no-device\"}}"
    recap again room-1 changed=0 failed=0 ignored=0
    recap again room-2 changed=1 failed=0 ignored=0

    # board_info (in check mode, which it ignores): room-3 with both kinds of trouble.
    play info "$here/playbooks/info.yml" --check -e '{"expect_boards": 2}' --limit room-1,room-2
    recap info room-1 failed=0
    recap info room-2 failed=0
    play info-bad "$here/playbooks/info.yml" --limit room-3 -e '{"expect_boards": 0,
        "expect_errors": {"board-a.sock": "timeout", "board-b.sock": "no-device"}}'
    recap info-bad room-3 failed=0 ignored=1

    if [ "$failures" -ne 0 ]; then
        for run in faults again info info-bad; do shown $run; done
    fi
}

case_firmware() {
    "$here/sim_fleet.sh" start "$fleet" --hosts 2 --bin "$bin"
    local good=$fleet/Q70V121.mot damaged=$work/damaged.mot h
    "$here/sim_fleet.sh" firmware "$damaged" "Q70 Ver 1.30" --bad-line 9

    # A damaged file: refused on the host before a byte reaches either board.
    play damaged "$here/playbooks/board.yml" -e "{\"firmware\": \"$damaged\", \"expect_default\": \"bad-file\"}"
    for h in room-1 room-2; do
        recap damaged $h failed=0 ignored=1
        [ "$(firmware_requests $h a)$(firmware_requests $h b)" = 00 ] || fail "$h: the damaged file reached a board"
    done
    grep -q 'line 9.*nothing was sent to the board' "$work/damaged.out" || fail "the damaged file's bad line is not told"

    # In check mode: reported for the older board, nothing sent.
    play check "$here/playbooks/board.yml" --check --diff -e "{\"firmware\": \"$good\",
        \"expect\": {\"room-1/a\": \"changed\", \"room-2/a\": \"changed\"}}"
    grep -qxF '+firmware_version: Q70 Ver 1.21' "$work/check.out" || fail "--check --diff shows no new version"
    [ "$(firmware_requests room-1 a)" -eq 0 ] || fail "--check sent firmware"

    # The version from the file's S0 header: board a (1.20) updated, board b (1.21) left.
    play update "$here/playbooks/board.yml" -e "{\"firmware\": \"$good\",
        \"expect\": {\"room-1/a\": \"changed\", \"room-2/a\": \"changed\"}}"
    for h in room-1 room-2; do
        recap update $h changed=1 failed=0
        [ "$(firmware_requests $h a)" -gt 4 ] || fail "$h/a was not updated"
        [ "$(firmware_requests $h b)" -eq 0 ] || fail "$h/b was updated though it runs 1.21"
        [[ $(HOME=$fleet/$h/home XDG_RUNTIME_DIR=$fleet/$h/run "$bin/q70ctl" \
            --device "unix:$fleet/$h/board-a.sock" info) == *$'\nfirmware-version=Q70 Ver 1.21\n'* ]] ||
            fail "$h/a does not run 1.21"
    done
    local sent
    sent=$(firmware_requests room-1 a)
    play update-again "$here/playbooks/board.yml" -e "{\"firmware\": \"$good\", \"firmware_version\": \"Q70 Ver 1.21\"}"
    recap update-again room-1 changed=0 failed=0
    [ "$(firmware_requests room-1 a)" -eq "$sent" ] || fail "a second run sent the firmware again"

    # The file carries 1.21 but the task says 1.30: sent, read back, and a failure.
    play mismatch "$here/playbooks/board.yml" --limit room-2 -e "{\"firmware\": \"$good\",
        \"firmware_version\": \"Q70 Ver 1.30\", \"only\": \"board-b\", \"expect_default\": \"mismatch\"}"
    recap mismatch room-2 failed=0 ignored=1
    [ "$(firmware_requests room-2 b)" -gt 4 ] || fail "room-2/b: nothing was sent"
    grep -q "reports firmware 'Q70 Ver 1.21', not 'Q70 Ver 1.30'" "$work/mismatch.out" ||
        fail "the mismatch is not told"

    if [ "$failures" -ne 0 ]; then
        for run in damaged check update update-again mismatch; do shown $run; done
    fi
}

case_lock() {
    "$here/sim_fleet.sh" start "$fleet" --hosts 1 --bin "$bin"
    local big=$work/big.mot
    # About 17 s of update: room for a busy play on a loaded machine.
    "$here/sim_fleet.sh" firmware "$big" "Q70 Ver 2.00" --records 4800
    local one='"only": "board-a", "hosts_pattern": "room-1"'

    # A long update holds the board; a second play meanwhile fails as busy at once, a third
    # waits for it and then does its job. The third may take the board between the update
    # and the update's read-back, so that one waits too.
    (cd "$work" && ansible-playbook -i "$fleet/inventory.yml" "$here/playbooks/board.yml" \
        -e "{$one, \"firmware\": \"$big\", \"busy_retries\": 60, \"expect_default\": \"changed\"}" \
        >"$work/update.out" 2>&1) &
    local updater=$! waited=0
    until [ "$(firmware_requests room-1 a)" -gt 2 ]; do
        sleep 0.1
        waited=$((waited + 1))
        [ $waited -lt 600 ] || { fail "the update did not start"; break; }
    done
    play busy "$here/playbooks/board.yml" -e "{$one, \"settings\": {\"paper\": \"letter\"},
        \"expect_default\": \"busy\"}"
    local during
    during=$(firmware_requests room-1 a)
    play wait "$here/playbooks/board.yml" -e "{$one, \"settings\": {\"paper\": \"letter\"},
        \"busy_retries\": 60, \"expect_default\": \"changed\"}"
    local update_rc=0
    wait $updater || update_rc=$?
    recap busy room-1 failed=0 ignored=1
    recap wait room-1 changed=1 failed=0
    recap update room-1 changed=1 failed=0
    [ "$update_rc" -eq 0 ] || fail "the update play ended with $update_rc"
    grep -q 'busy' "$work/busy.out" || fail "the busy play does not say busy"

    # In the board's log: one session's firmware data in one block, no other session's start
    # (GetDeviceInfo) inside it, and the waiting play's write after it.
    local log=$fleet/room-1/board-a.log first last
    first=$(grep -m1 -nE '^([0-9A-F]{2} ){4}16( |$)' "$log" | cut -d: -f1)
    last=$(grep -nE '^([0-9A-F]{2} ){4}16( |$)' "$log" | tail -1 | cut -d: -f1)
    if awk -v a="$first" -v b="$last" 'NR > a && NR < b && $0 == "01 00 00 00 01" {found = 1}
                                       END {exit !found}' "$log"; then
        fail "another program's session started in the middle of the update"
    fi
    [ "$during" -lt "$(firmware_requests room-1 a)" ] || fail "the busy play did not run during the update"
    local paper_write
    paper_write=$(grep -m1 -nxF '02 00 00 00 12 01' "$log" | cut -d: -f1)
    [ -n "$paper_write" ] && [ "$paper_write" -gt "$last" ] ||
        fail "the waiting play's write is not after the update (${paper_write:-none} vs $last)"
    [[ $(settings_of room-1 a) == *"paper=letter"* ]] || fail "the waiting play's setting is not there"

    if [ "$failures" -ne 0 ]; then
        for run in update busy wait; do shown $run; done
    fi
}

case_usb() {
    # One PC with two boards on USB; the whole play runs under the emulator.
    mkdir -p "$fleet/pc/home" "$fleet/pc/data" "$fleet/pc/run"
    cat >"$fleet/inventory.yml" <<EOF
meeting_rooms:
  hosts:
    pc:
      q70_work: $fleet/pc
      q70_environment:
        HOME: $fleet/pc/home
        XDG_DATA_HOME: $fleet/pc/data
        XDG_RUNTIME_DIR: $fleet/pc/run
        PATH: $bin:/usr/local/bin:/usr/bin:/bin
  vars:
    ansible_connection: local
EOF
    local usb='"use_inventory_boards": false'
    rc=0
    (cd "$work" && "$usb_emu" --port 1 --port 4.2 --serial SHELF-1 -- \
        ansible-playbook -i "$fleet/inventory.yml" "$here/playbooks/info.yml" "$here/playbooks/usb.yml" \
        -e "{$usb, \"expect_boards\": 2}") >"$work/usb.out" 2>&1 || rc=$?
    recap usb pc failed=0
    [ $rc -eq 0 ] || fail "the play under q70-usb-emu ended with $rc"
    grep -q 'usb:217-1' "$work/usb.out" || fail "board_info did not list usb:217-1"
    # Without the emulator there is no board on USB: an empty list, no failure.
    play none "$here/playbooks/info.yml" -e "{$usb, \"expect_boards\": 0}"
    recap none pc failed=0

    if [ "$failures" -ne 0 ]; then
        for run in usb none; do shown $run; done
    fi
}

case_docs() {
    local module
    for module in board board_info; do
        ansible-doc "q70.utility.$module" >"$work/$module.doc" 2>&1 || fail "ansible-doc q70.utility.$module"
        for section in OPTIONS ATTRIBUTES NOTES EXAMPLES 'RETURN VALUES' AUTHOR; do
            grep -q "^$section" "$work/$module.doc" || fail "ansible-doc $module has no $section"
        done
        grep -q 'WARNING\|ERROR' "$work/$module.doc" && fail "ansible-doc $module: $(grep 'WARNING\|ERROR' "$work/$module.doc")"
    done
    local text
    text=$(tr -s ' \n' ' ' <"$work/board.doc")
    [[ $text == *'has not been tried against a Windows host'* ]] || fail "board: no word on Windows"
    [[ $text == *'write always carries the clock'* ]] || fail "board: no word on the clock"
    # The documented options are the ones the action plugins take, examples included.
    ansible-playbook -i localhost, "$here/playbooks/docs.yml" >"$work/docs.out" 2>&1 || {
        shown docs
        fail "the documentation and the action plugins disagree"
    }

    # The default q70ctl path on Windows is where the installer puts the programs.
    local folder
    folder=$(sed -n 's/^set(CPACK_PACKAGE_INSTALL_DIRECTORY "\(.*\)")$/\1/p' "$src/packaging/windows.cmake")
    [ -n "$folder" ] || fail "packaging/windows.cmake names no install folder"
    grep -qF "'$folder\\\\bin\\\\q70ctl.exe'" "$src/ansible/plugins/plugin_utils/q70ctl.py" ||
        fail "the Windows default q70ctl path is not $folder\\bin\\q70ctl.exe"
    for f in README.md plugins/doc_fragments/q70ctl.py; do
        grep -qF "%ProgramFiles%\\$folder\\bin\\q70ctl.exe" "$src/ansible/$f" ||
            fail "$f does not name %ProgramFiles%\\$folder\\bin\\q70ctl.exe"
    done

    # Version and licence follow the project's; the tarball holds what is needed.
    grep -qx "version: $version" "$src/ansible/galaxy.yml" || fail "galaxy.yml is not at version $version"
    grep -q 'LicenseRef-proprietary' "$src/ansible/LICENSE" || fail "LICENSE does not name the project's licence"
    ansible-galaxy collection build "$src/ansible" --output-path "$work/build" >"$work/build.out" 2>&1 ||
        fail "ansible-galaxy collection build: $(cat "$work/build.out")"
    local tarball=$work/build/q70-utility-$version.tar.gz
    if [ -f "$tarball" ]; then
        tar -tzf "$tarball" >"$work/contents"
        for f in MANIFEST.json FILES.json README.md LICENSE plugins/modules/board.py \
            plugins/modules/board_info.py plugins/action/board.py plugins/action/board_info.py \
            plugins/plugin_utils/q70ctl.py plugins/doc_fragments/q70ctl.py playbooks/fleet.yml \
            meta/runtime.yml; do
            grep -qx "$f" "$work/contents" || fail "the tarball lacks $f"
        done
        grep -q '__pycache__\|\.pyc$' "$work/contents" && fail "the tarball holds compiled Python"
        # Installed from the tarball, as ansible-galaxy would put it elsewhere.
        ansible-galaxy collection install "$tarball" -p "$work/installed" >/dev/null 2>&1 ||
            fail "the tarball does not install"
        ANSIBLE_COLLECTIONS_PATH=$work/installed ansible-doc q70.utility.board >/dev/null 2>&1 ||
            fail "ansible-doc from the installed tarball"
    else
        fail "no $tarball"
    fi

    # The sanity tests that need no network (validate-modules, pylint, pep8, yamllint and a
    # few more want to fetch their requirements with pip).
    if command -v ansible-test >/dev/null; then
        local copy=$work/sanity/ansible_collections/q70/utility test tests=()
        mkdir -p "$copy" "$work/sanity/home"
        cp -r "$src/ansible/." "$copy/"
        for test in compile action-plugin-docs empty-init future-import-boilerplate line-endings \
            metaclass-boilerplate no-assert no-basestring no-dict-iteritems no-get-exception \
            no-illegal-filenames no-main-display no-smart-quotes no-unicode-literals \
            replace-urlopen shebang symlinks use-argspec-type-path use-compat-six ignores; do
            tests+=(--test "$test")
        done
        (cd "$copy" && HOME=$work/sanity/home ansible-test sanity "${tests[@]}" --python 3.11 --color no) \
            >"$work/sanity.out" 2>&1 || {
            cat "$work/sanity.out"
            fail "ansible-test sanity --test compile"
        }
    fi

    # Both READMEs show the playbook that is in the collection, word for word.
    local readme
    for readme in "$src/README.md" "$src/ansible/README.md"; do
        awk '/^```yaml$/ {inside = 1; block = ""; next}
             /^```$/ && inside {inside = 0; if (block ~ /Every board of the meeting rooms/) {printf "%s", block; exit}}
             inside {block = block $0 "\n"}' "$readme" >"$work/readme.yml"
        diff -u "$src/ansible/playbooks/fleet.yml" "$work/readme.yml" >/dev/null ||
            fail "$readme does not show ansible/playbooks/fleet.yml as it is"
    done
}

case_readme() {
    # The README's runs, replayed on the same simulated fleet: the same lines, up to the
    # order of the hosts within a task.
    "$here/sim_fleet.sh" start "$fleet" --hosts 3 --bin "$bin"
    local runs=(first second check failed) shown_dir=/tmp/q70-fleet
    play first "$src/ansible/playbooks/fleet.yml" -e "firmware_file=$fleet/Q70V121.mot"
    play second "$src/ansible/playbooks/fleet.yml" -e "firmware_file=$fleet/Q70V121.mot"
    play check "$src/ansible/playbooks/fleet.yml" -e "firmware_file=$fleet/Q70V121.mot" --check --diff \
        -e paper=letter
    recap first room-1 failed=0
    recap second room-1 changed=0 failed=0
    ls "$fleet/images"/*.bmp >/dev/null 2>&1 || fail "no test image reached the controller"
    [ "$(ls "$fleet/images" | wc -l)" -eq 6 ] || fail "not one test image per board: $(ls "$fleet/images")"
    # The README's failures: a board that refuses every clock write, a silent one, one not there.
    "$here/sim_fleet.sh" stop "$fleet"
    rm -rf "$fleet"
    "$here/sim_fleet.sh" start "$fleet" --hosts 3 --bin "$bin" --board 'room-2/b=--fault fe:code=5:times=0' \
        --board 'room-3/a=--fault silence:times=0' --absent room-3/b
    play failed "$src/ansible/playbooks/fleet.yml" -e "firmware_file=$fleet/Q70V121.mot"
    recap failed room-1 failed=0
    recap failed room-2 failed=1
    recap failed room-3 failed=1
    # The project's README shows the first three, the collection's all four.
    local readme count n run
    for readme in "$src/README.md:3" "$src/ansible/README.md:4"; do
        count=${readme##*:}
        readme=${readme%:*}
        for ((n = 1; n <= count; n++)); do
            run=${runs[n - 1]}
            # The n-th console block with the playbook's output, from PLAY to the recap.
            awk -v n="$n" '/^```console$/ {inside = 1; block = ""; next}
                 /^```$/ && inside {inside = 0; if (block ~ /PLAY \[Boards of the meeting rooms\]/ && ++seen == n) {printf "%s", block; exit}}
                 inside {block = block $0 "\n"}' "$readme" | sed -n '/^PLAY \[/,$p' | normalise >"$work/$run.readme"
            sed "s|$fleet|$shown_dir|g" "$work/$run.out" | normalise >"$work/$run.actual"
            diff -u "$work/$run.readme" "$work/$run.actual" >"$work/$run.diff" || {
                cat "$work/$run.diff"
                fail "$readme: the $run run is not what the playbook prints"
            }
        done
    done
}

# Lines sorted within each task, since the hosts answer in any order; blank lines dropped.
normalise() {
    awk '{sub(/[ \t]+$/, "")}
         /^$/ {next}
         /^(PLAY|TASK) \[|^PLAY RECAP/ {block++; printf "%06d\t0\t%s\n", block, $0; next}
         {printf "%06d\t1\t%s\n", block, $0}' |
        LC_ALL=C sort -t "$(printf '\t')" -k1,1 -k2,2 -k3 | cut -f3-
}

"case_$case"
if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "ansible $case OK"
