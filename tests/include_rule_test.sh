#!/usr/bin/env bash
# The layering of the README's layout table, read off the #include lines: the core includes
# the core and the standard library; system/ the core; sim/ the core and system/;
# transport/ those and sim/; only front ends and tools include front ends and tools.
# Prints every include that breaks the rule, with its file and line, and fails.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# Sets $layer to the layer of the path in $1 (relative to the root).
layer_of() {
    case "$1" in
    src/link/* | src/config/* | src/testimage/* | src/window/* | src/settings/* | \
        src/firmware/* | src/app/*) layer=core ;;
    src/system/*) layer=system ;;
    src/sim/*) layer=sim ;;
    src/transport/*) layer=transport ;;
    src/qt/* | src/win32/* | src/cli/*) layer=front-end ;;
    src/usbemu/* | bench/* | fuzz/*) layer=tool ;;
    tests/*) layer=tests ;;
    *) layer=unknown ;;
    esac
}

# What each layer may include.
declare -A may_include=(
    [core]=" core "
    [system]=" core system "
    [sim]=" core system sim "
    [transport]=" core system sim transport "
    [front-end]=" core system sim transport front-end tool "
    [tool]=" core system sim transport front-end tool tests "
)

# Drops "dir/.." pairs from the path in $1; sets $normal.
normalise() {
    normal="$1"
    while [[ "$normal" =~ ^(.*/)?[^/.][^/]*/\.\./(.*)$ ]]; do
        normal="${BASH_REMATCH[1]}${BASH_REMATCH[2]}"
    done
}

# The C++20 standard library, and the compiler's own intrinsics header that the image
# rotation's vector kernels need (no operating system behind it).
standard_headers="$(echo " algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv
cfloat charconv chrono cinttypes climits clocale cmath codecvt compare complex concepts
condition_variable coroutine csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring
ctime cuchar cwchar cwctype deque exception execution filesystem format forward_list fstream
functional future initializer_list iomanip ios iosfwd iostream istream iterator latch limits
list locale map memory memory_resource mutex new numbers numeric optional ostream queue random
ranges ratio regex scoped_allocator semaphore set shared_mutex source_location span sstream
stack stdexcept stop_token streambuf string string_view syncstream system_error thread tuple
type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant vector
version immintrin.h " | tr '\n' ' ')"

failures=0
fail() {
    echo "$1: $2 breaks the layering: $3" >&2
    failures=$((failures + 1))
}

while IFS= read -r file; do
    layer_of "$file"
    file_layer="$layer"
    [ "$file_layer" = unknown ] && continue
    allowed="${may_include[$file_layer]}"
    while IFS= read -r hit; do
        line="${hit%%:*}"
        include="${hit#*:}"
        include="${include#*include}"
        include="${include#"${include%%[\"<]*}"}"
        where="$file:$line"
        case "$include" in
        \<*)
            name="${include#<}"
            name="${name%%>*}"
            if [ "$file_layer" = core ] && [[ "$standard_headers" != *" $name "* ]]; then
                fail "$where" "<$name>" "the core includes only the standard library"
            fi
            ;;
        \"*)
            name="${include#\"}"
            name="${name%%\"*}"
            target=""
            for candidate in "${file%/*}/$name" "src/$name" "tests/$name"; do
                if [ -f "$candidate" ]; then
                    normalise "$candidate"
                    target="$normal"
                    break
                fi
            done
            if [ -z "$target" ]; then
                fail "$where" "\"$name\"" "it names no file of the project"
                continue
            fi
            layer_of "$target"
            if [[ "$allowed" != *" $layer "* ]]; then
                fail "$where" "\"$name\"" "$file_layer includes $layer ($target)"
            fi
            ;;
        esac
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" || true)
done < <(find src bench fuzz -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \) | sort)

if [ "$failures" -ne 0 ]; then
    echo "$failures include(s) against the layering" >&2
    exit 1
fi
echo "every include follows the layering"
