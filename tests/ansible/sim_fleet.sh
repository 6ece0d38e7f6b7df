#!/usr/bin/env bash
# A fleet of meeting-room PCs simulated on this machine, for the Ansible collection: each
# inventory host (local connection) has its own home, data and runtime folders, and its
# boards are q70-board-sim processes on Unix sockets.
#
#   sim_fleet.sh start DIR [--hosts N] [--bin BINDIR] [--board HOST/BOARD=OPTIONS]...
#                          [--absent HOST/BOARD]...
#   sim_fleet.sh stop DIR
#   sim_fleet.sh firmware FILE HEADER [--records N] [--bad-line N]
#
# start: hosts room-1 ... room-N (default 3), boards a and b on each; board a runs firmware
# "Q70 Ver 1.20" with A4 paper, board b "Q70 Ver 1.21" with letter paper; both offer a test
# image every 3 s. --board adds q70-board-sim options to one board (repeatable), --absent
# leaves a board's socket without a server. Writes DIR/inventory.yml (group meeting_rooms,
# test images to DIR/images), DIR/Q70V121.mot and DIR/collections (this tree's collection,
# for ANSIBLE_COLLECTIONS_PATH); the boards log their requests in DIR/HOST/board-B.log.
# firmware: writes an S-record file whose S0 header is HEADER, N data records (default
# 64); --bad-line N spoils the checksum of line N.
set -euo pipefail

usage() {
    sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

# One S-record line into $record: type, address (hex), data (hex).
srecord() {
    local type=$1 body=$2$3 sum i
    local count=$((${#body} / 2 + 1))
    sum=$count
    for ((i = 0; i < ${#body}; i += 2)); do
        sum=$((sum + 16#${body:i:2}))
    done
    printf -v record 'S%s%02X%s%02X' "$type" "$count" "$body" $(((~sum) & 0xFF))
}

write_firmware() {
    local file=$1 header=$2 records=64 bad=0
    shift 2
    while [ $# -gt 0 ]; do
        case $1 in
        --records) records=$2; shift 2 ;;
        --bad-line) bad=$2; shift 2 ;;
        *) usage ;;
        esac
    done
    local hex='' data address r b record lines=() i
    for ((i = 0; i < ${#header}; i++)); do
        printf -v b '%02X' "'${header:i:1}"
        hex+=$b
    done
    srecord 0 0000 "$hex"
    lines+=("$record")
    for ((r = 0; r < records; r++)); do
        data=''
        for ((i = 0; i < 16; i++)); do
            printf -v b '%02X' $(((r * 16 + i) & 255))
            data+=$b
        done
        printf -v address '%04X' $(((0x1000 + r * 16) & 0xFFFF))  # long files wrap around
        srecord 1 "$address" "$data"
        lines+=("$record")
    done
    srecord 9 1000 ""
    lines+=("$record")
    if [ "$bad" -gt 0 ] && [ "$bad" -le ${#lines[@]} ]; then
        # The same length, the last digit of the checksum off by one.
        record=${lines[bad - 1]}
        printf -v b '%X' $(((16#${record: -1} + 1) & 15))
        lines[bad - 1]=${record%?}$b
    fi
    printf '%s\r\n' "${lines[@]}" >"$file"
}

start() {
    local dir=$1 hosts=3 bin
    shift
    bin=$(cd "$(dirname "$0")/../.." && pwd)/build/default/bin
    local -A extra=() absent=()
    while [ $# -gt 0 ]; do
        case $1 in
        --hosts) hosts=$2; shift 2 ;;
        --bin) bin=$(cd "$2" && pwd); shift 2 ;;
        --board) extra[${2%%=*}]+=" ${2#*=}"; shift 2 ;;
        --absent) absent[$2]=1; shift 2 ;;
        *) usage ;;
        esac
    done
    [ -x "$bin/q70-board-sim" ] && [ -x "$bin/q70ctl" ] || {
        echo "sim_fleet.sh: no q70-board-sim and q70ctl in $bin (build first, or give --bin)" >&2
        exit 1
    }
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    : >"$dir/pids"
    local inventory=$dir/inventory.yml h host board opts pid
    {
        echo "# The simulated fleet made by sim_fleet.sh: one PC per host, local connection."
        echo "meeting_rooms:"
        echo "  hosts:"
    } >"$inventory"
    for ((h = 1; h <= hosts; h++)); do
        host=room-$h
        mkdir -p "$dir/$host/home" "$dir/$host/data" "$dir/$host/run"
        chmod 700 "$dir/$host/run"
        {
            echo "    $host:"
            echo "      q70_work: $dir/$host"
            echo "      q70_boards:"
        } >>"$inventory"
        for board in a b; do
            local socket=$dir/$host/board-$board.sock
            echo "        - unix:$socket" >>"$inventory"
            rm -f "$socket"
            [ -n "${absent[$host/$board]:-}" ] && continue
            if [ $board = a ]; then
                opts=(--version "Q70 Ver 1.20" --paper a4)
            else
                opts=(--version "Q70 Ver 1.21" --paper letter)
            fi
            # Word splitting of the extra options is intended: they are options.
            # shellcheck disable=SC2206
            opts+=(--image-every 3000 ${extra[$host/$board]:-})
            "$bin/q70-board-sim" --listen "$socket" --log "$dir/$host/board-$board.log" "${opts[@]}" \
                >"$dir/$host/board-$board.out" 2>&1 &
            pid=$!
            echo "$pid" >>"$dir/pids"
        done
        {
            echo "      q70_environment:"
            echo "        HOME: $dir/$host/home"
            echo "        XDG_DATA_HOME: $dir/$host/data"
            echo "        XDG_RUNTIME_DIR: $dir/$host/run"
            echo "        PATH: $bin:/usr/local/bin:/usr/bin:/bin"
        } >>"$inventory"
    done
    {
        echo "  vars:"
        echo "    ansible_connection: local"
        echo "    ansible_python_interpreter: /usr/bin/python3"
        echo "    q70_images: $dir/images"
    } >>"$inventory"
    # This source tree's collection, for ANSIBLE_COLLECTIONS_PATH=$dir/collections.
    mkdir -p "$dir/collections/ansible_collections/q70"
    ln -sfn "$(cd "$(dirname "$0")/../../ansible" && pwd)" "$dir/collections/ansible_collections/q70/utility"
    # Each board says when it listens.
    local out waited=0
    for out in "$dir"/*/board-*.out; do
        [ -e "$out" ] || continue
        until grep -q 'listening on' "$out"; do
            sleep 0.05
            waited=$((waited + 1))
            if [ $waited -gt 200 ]; then
                echo "sim_fleet.sh: a board did not start: $out" >&2
                cat "$out" >&2
                stop "$dir"
                exit 1
            fi
        done
    done
    write_firmware "$dir/Q70V121.mot" "Q70 Ver 1.21"
}

stop() {
    local dir=$1 pid
    [ -f "$dir/pids" ] || return 0
    while read -r pid; do
        kill "$pid" 2>/dev/null || true
    done <"$dir/pids"
    while read -r pid; do
        while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
    done <"$dir/pids"
    rm -f "$dir/pids"
}

[ $# -ge 2 ] || usage
command=$1
shift
case $command in
start) start "$@" ;;
stop) stop "$1" ;;
firmware) write_firmware "$@" ;;
*) usage ;;
esac
