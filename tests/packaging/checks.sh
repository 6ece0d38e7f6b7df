# Shared by the packaging test scripts: a scratch folder removed on exit, and checks that
# count their failures instead of stopping at the first.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# Ends the script: status 1 when any check failed.
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "$1"
}
