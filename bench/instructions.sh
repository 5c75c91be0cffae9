#!/bin/sh
# User-space instructions of one run of traffic_rate along each of its paths,
# counted by callgrind: repeatable, unlike time, whatever else the machine
# does.  Glibc's start-up reads the environment, so the count grows a little
# with its size.
#
#   bench/instructions.sh [traffic_rate]    (default: this checkout's build/traffic_rate)
set -eu
command=${1:-$(dirname "$0")/../build/traffic_rate}
[ -x "$command" ] || { echo "instructions.sh: no program $command: build it first" >&2; exit 1; }
for operands in "0 1280000 10" "" "0 x 10" "0 1 0"; do
	# shellcheck disable=SC2086 # the operands are split on purpose
	count=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null \
		"$command" $operands 2>&1 >/dev/null |
		sed -n 's/.*Collected : *//p')
	[ -n "$count" ] || { echo "instructions.sh: callgrind counted nothing for $command $operands" >&2; exit 1; }
	printf '%8s  %s %s\n' "$count" "$command" "$operands"
done
