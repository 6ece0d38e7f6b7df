#!/usr/bin/env bash
# The bash completions against the programs themselves: every command, option, setting
# and word that q70ctl takes is offered, nothing it refuses is, and the completions of
# q70uty and q70-board-sim give only what those accept.
#
# completion_test.sh COMPLETION_DIR Q70CTL Q70_BOARD_SIM [Q70UTY]
set -uo pipefail

dir=$1
q70ctl=$2
board_sim=$3
q70uty=${4:-}

if [ ! -f /usr/share/bash-completion/bash_completion ]; then
    echo "FAIL: bash-completion is not installed (scripts/deps.sh installs it)"
    exit 1
fi
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
for script in q70ctl q70-board-sim q70uty; do
    # shellcheck disable=SC1090
    source "$dir/$script" || {
        echo "FAIL: $dir/$script does not load"
        exit 1
    }
done

# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

# The words of LINE as bash hands them to a completion: split at blanks, and at "=" and
# ":", which become words of their own.
COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'
split_words() {
    local line=$1 i c word="" kind=""
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ $c == ' ' ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word")
            word=""
            kind=""
        elif [[ $c == [=:] ]]; then
            [[ $kind == w ]] && COMP_WORDS+=("$word") && word=""
            word+=$c
            kind=b
        else
            [[ $kind == b ]] && COMP_WORDS+=("$word") && word=""
            word+=$c
            kind=w
        fi
    done
    COMP_WORDS+=("$word")
}

# What TAB offers at the end of LINE, sorted, one a line: each offer replaces what follows
# the last blank, "=" or ":", as bash inserts it.
offered() {
    local function=$1 line=$2
    COMP_LINE=$line
    COMP_POINT=${#line}
    split_words "$line"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" \
        2>/dev/null
    [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort -u
}

expect() {
    local what=$1 expected=$2 actual=$3
    if [ "$expected" != "$actual" ]; then
        fail "$what"
        diff <(echo "$expected") <(echo "$actual") | sed 's/^/    /'
    fi
}

sorted() { tr ' ' '\n' | sed '/^$/d' | LC_ALL=C sort -u; }

# The long options in the Options: part of a CLI11 help text.
help_options() {
    "$@" --help 2>&1 | sed -n '/^Options:/,/^$/p' | grep -o -- '--[a-z][a-z-]*' | LC_ALL=C sort -u
}

echo "== q70ctl commands and options"
commands=$("$q70ctl" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NF > 1 {print $1}' |
    LC_ALL=C sort -u)
[ -n "$commands" ] || fail "no commands found in q70ctl --help"
expect "commands" "$commands" "$(offered _q70ctl 'q70ctl ')"
expect "commands after --device" "$commands" "$(offered _q70ctl 'q70ctl --device sim --timeout 900 ')"
expect "global options" "$(help_options "$q70ctl")" "$(offered _q70ctl 'q70ctl --')"
for command in $commands; do
    want=$(help_options "$q70ctl" "$command")
    case $command in
        decode | firmware-check) ;;
        *) want=$(printf '%s\n--device\n--timeout\n--wait-busy\n' "$want" | LC_ALL=C sort -u) ;;
    esac
    expect "options of $command" "$want" "$(offered _q70ctl "q70ctl --device sim $command --" |
        grep -- '^--')"
done

echo "== set: names and words as q70ctl takes them"
# q70ctl names the settings and their words when refusing one; no board is needed.
known=$("$q70ctl" --device none: set nosuch=1 2>&1 | sed -n 's/.*(known: \(.*\))$/\1/p')
[ -n "$known" ] || fail "q70ctl does not list the settings it knows"
settings=$(tr -d ',' <<<"$known" | sorted)
expect "setting names" "$(sed 's/$/=/' <<<"$settings")" "$(offered _q70ctl 'q70ctl set ')"
for name in $settings; do
    refusal=$("$q70ctl" --device none: set "$name=?" 2>&1)
    words=$(sed -n 's/.* takes 0, 1, \(.*\) or \(.*\), not .*/\1 \2/p' <<<"$refusal" | sorted)
    [ -n "$words" ] || fail "no words for $name in: $refusal"
    expect "words of $name" "$words" "$(offered _q70ctl "q70ctl --device sim set $name=")"
    first=$(head -1 <<<"$words")
    expect "$name=${first:0:2} completes" "$first" \
        "$(offered _q70ctl "q70ctl set $name=${first:0:2}")"
done
left=$(offered _q70ctl 'q70ctl --device unix:/tmp/b.sock set paper=letter margin=1 ')
expect "settings already named are not offered again" \
    "$(grep -vx -e paper -e margin <<<"$settings" | sed 's/$/=/')" "$left"

echo "== values and files"
# The addresses the help names (this build's), as completion offers them.
addresses=$("$q70ctl" --help | sed -n '/^Device addresses/,/^$/p' | awk 'NR > 1 && NF {print $1}' |
    sed -n 's/^\(usb\|all\|sim\|unix:\).*/\1/p' | LC_ALL=C sort -u)
expect "device addresses" "$addresses" "$(offered _q70ctl 'q70ctl --device ')"
mkdir -p "$work/sockets"
touch "$work/sockets/board.sock" "$work/fw.mot" "$work/notes.txt" "$work/image.bmp"
# Bash replaces only the text after the last colon, so the offer leaves "unix:" out.
expect "unix: completes a path" "$work/sockets/board.sock" \
    "$(offered _q70ctl "q70ctl --device unix:$work/sockets/bo")"
expect "--time" "now" "$(offered _q70ctl 'q70ctl set --time ')"
expect "update takes .mot files" "$(printf '%s\n' "$work/fw.mot" "$work/sockets")" \
    "$(offered _q70ctl "q70ctl update $work/")"
expect "firmware-check takes .mot files" "$(printf '%s\n' "$work/fw.mot" "$work/sockets")" \
    "$(offered _q70ctl "q70ctl firmware-check $work/")"
expect "test-image -o takes .bmp files" "$(printf '%s\n' "$work/image.bmp" "$work/sockets")" \
    "$(offered _q70ctl "q70ctl test-image -o $work/")"
expect "no words for numbers" "" "$(offered _q70ctl 'q70ctl --timeout ')"

echo "== q70-board-sim"
# Its completion asks the program on the PATH for its options.
PATH=$(dirname "$board_sim"):$PATH
want=$(help_options "$board_sim")
expect "q70-board-sim options" "$want" "$(offered _q70_board_sim 'q70-board-sim --' | grep -- '^--')"
# Every value offered is taken: the board then fails only at its socket (exit 1),
# while a value it refuses is a usage error (exit 2).
for option in --fault --paper --margin --time-stamp --print-mode --save-mode; do
    values=$(offered _q70_board_sim "q70-board-sim $option ")
    [ -n "$values" ] || fail "nothing offered for q70-board-sim $option"
    for value in $values; do
        "$board_sim" --listen "$work/no/such/folder/s" "$option" "$value" >/dev/null 2>&1
        rc=$?
        [ $rc -eq 1 ] || fail "q70-board-sim $option $value: exit $rc, not taken"
    done
done

if [ -n "$q70uty" ]; then
    echo "== q70uty"
    want=$(env -u DISPLAY -u WAYLAND_DISPLAY "$q70uty" --help | grep -o -- '--[a-z][a-z-]*' |
        LC_ALL=C sort -u)
    expect "q70uty options" "$want" "$(offered _q70uty 'q70uty --')"
    expect "q70uty device addresses" "$(printf 'sim\nunix:\nusb\n')" \
        "$(offered _q70uty 'q70uty --device ')"
fi

finish "completion OK"
