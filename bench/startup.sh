#!/bin/sh
# What one run of traffic_rate costs, from spawn to reaped exit, beside
# /bin/true, a static program whose only act is the exit system call, and
# what a user might write instead: hyperfine (Debian: hyperfine) runs each
# without a shell, after a warm-up, and ends with each one's time relative
# to the fastest.  Options for hyperfine go in $HYPERFINE, such as
# HYPERFINE='--export-markdown startup.md'.
#
#   bench/startup.sh [traffic_rate...]    (default: build/traffic_rate)
set -eu
here=$(dirname "$0")
[ $# -gt 0 ] || set -- "$here/../build/traffic_rate"
for command; do
	[ -x "$command" ] || { echo "startup.sh: no program $command: build it first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
${CXX:-c++} -O2 -static -nostdlib -fno-exceptions -fno-asynchronous-unwind-tables \
	-o "$work/exit_only" "$here/exit_only.cpp" ||
	{ echo "startup.sh: could not build $here/exit_only.cpp for this machine" >&2; exit 1; }
builds=$#
for command; do set -- "$@" "'$command' 0 1280000 10"; done
shift "$builds"
# shellcheck disable=SC2086 # the options are split on purpose
hyperfine -N --warmup 20 ${HYPERFINE-} -n true -n exit_only /bin/true "$work/exit_only" "$@" \
	"awk 'BEGIN { print int((1280000 - 0) / (10 * 128)) }'" \
	"dash -c 'echo \$(( (1280000 - 0) / (10 * 128) ))'" \
	"python3 -c 'print((1280000 - 0) // (10 * 128))'"
