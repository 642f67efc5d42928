#!/bin/bash
# The Wine runner (build/wine-run.sh) with a time limit: a program still
# running at the limit leaves its output so far, its threads' backtraces and
# the prefix's processes, and is ended; and the runner of the program that
# starts a Wine session returns when that program ends, though the session's
# services live on (CTest waits for every holder of its pipes).
# Usage: wine_runner_test.sh BUILD_DIR WATCH_PROBE.exe
set -u
build=$1 probe=$2
. "$(dirname "$0")/../support/own_wine_prefix.sh"
use_own_prefix "$build" runner
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

# A first program of a fresh session, ended after 2 s, while a second keeps the session going.
start=$SECONDS
OV_TEST_TIMEOUT=600 "$build/wine-run.sh" "$probe" 'T:\' 2 | cat >/dev/null &
first=$!
sleep 1
OV_TEST_TIMEOUT=600 "$build/wine-run.sh" "$probe" 'T:\' 120 >/dev/null 2>&1 &
keeper=$!
wait $first
taken=$((SECONDS - start))
[ $taken -lt 90 ] || fail "the first program's output stayed open for $taken s, as long as its session"

# A program still running at its limit.
start=$SECONDS
out=$(OV_TEST_TIMEOUT=5 "$build/wine-run.sh" "$probe" 'T:\' 600 2>&1)
status=$?
taken=$((SECONDS - start))
[ $status -ne 0 ] || fail "a program ended at its limit counts as passed"
[ $taken -lt 300 ] || fail "the runner took $taken s to end a program at its 5 s limit"
for want in "still running after 5 s" "ready" "Backtrace" "<- wmain" "wineserver"; do
    grep -qF -- "$want" <<<"$out" || fail "the evidence lacks \"$want\""
done
[ $failed -eq 0 ] || printf '%s\n' "$out"

kill $keeper 2>/dev/null
WINEPREFIX="$prefix" wineserver -k 2>/dev/null
wait
exit $failed
