#!/bin/bash
# Runs lanes of make targets side by side. Each lane runs its targets in order
# into build/logs/LANE.log, printed whole when the lane ends so that lanes never
# interleave; the exit status fails when any lane failed.
# Usage: test-lanes.sh LANE:TARGET[,TARGET...]...
set -u
mkdir -p build/logs
start=$(date +%s)
declare -A lanes
for lane in "$@"; do
    name=${lane%%:*}
    targets=${lane#*:}
    # shellcheck disable=SC2086 # the targets are separate words
    ${MAKE:-make} --no-print-directory ${targets//,/ } >"build/logs/$name.log" 2>&1 &
    lanes[$!]=$name
done
status=0
while [ ${#lanes[@]} -gt 0 ]; do
    wait -n -p pid
    rc=$?
    name=${lanes[$pid]}
    unset "lanes[$pid]"
    cat "build/logs/$name.log"
    if [ "$rc" = 0 ]; then verdict=passed; else verdict="FAILED (exit $rc)"; status=1; fi
    echo "=== $name lane $verdict after $(($(date +%s) - start)) s"
done
exit $status
