# What the package checks share; sourced after their set -euo pipefail. A work folder, $work,
# that vanishes with the script; fail, which reports a failed check and counts it without
# stopping the others; end_checks, which ends the script on that count.

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# Reports the failed check $* and counts it.
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# Exits 1 with "== N $1 FAILED" when a check failed; else prints "== $2".
end_checks() {
    if [ "$failures" -gt 0 ]; then
        echo "== $failures $1 FAILED" >&2
        exit 1
    fi
    echo "== $2"
}
