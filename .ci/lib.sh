# What the stages of CI share, sourced by each: printing a step, failing with
# a message, comparing values, a command that must fail, running tests with
# no skips, the READMEs' blocks and their install commands (readme.sh), the
# packages a stage needs and the release (packages.sh), root, the Debian
# roots (roots.sh), the sites and their keys (sites.sh), the emulators
# (qemu.sh), and the lists that more than one stage reads.  A stage keeps what it makes under build-ci/STAGE, which the next
# run of that stage empties first.
set -eu
cd "$(dirname "$0")/.."
ci=$PWD/build-ci
stage=$(basename "$0")
work=$ci/$stage

step() { printf '\n== %s: %s\n' "$stage" "$*"; }
say() { printf '%s: %s\n' "$stage" "$*"; }
fail() {
	printf '%s FAILED: %s\n' "$stage" "$*" >&2
	failed=yes
	exit 1
}
# What a stage must undo when it ends, whatever way; and a command that fails
# on its own still ends the stage with a line that says so.
cleanup=:
failed=no
trap 'status=$?; eval "$cleanup"
	[ $status -eq 0 ] || [ $failed = yes ] ||
		printf "%s FAILED: the command above exited %s\n" "$stage" $status >&2' EXIT
# expect WHAT GOT WANTED
expect() {
	[ "$2" = "$3" ] || fail "$1 is '$2', not '$3'"
}
# fault MESSAGE: a fault, FILE:LINE: first where it has them, that the stage
# reports and goes on past, so that one run names every one; faults_end, at
# the stage's end, fails if there was any.  A subshell's count too.  should
# WHAT GOT WANTED is expect's fault.
fault() {
	printf '%s: fault: %s\n' "$stage" "$*" >&2
	echo "$*" | head -n1 >>"$work/faults"
}
should() {
	[ "$2" = "$3" ] || fault "$1 is '$2', not '$3'"
}
faults_end() {
	[ ! -s "$work/faults" ] || fail "$(wc -l <"$work/faults") faults, each above"
}
# refused WHAT COMMAND...: the command fails, and says WHAT, a basic regular
# expression, in any case.
refused() {
	reason=$1
	shift
	if "$@" >"$work/refused.log" 2>&1; then
		cat "$work/refused.log"
		fail "accepted: $*"
	fi
	cat "$work/refused.log"
	grep -qi -- "$reason" "$work/refused.log" || fail "'$*' failed without saying '$reason'"
}

# The line that every build, package and root must print, and for what.
rate_operands='0 1280000 10'
rate_line=1000
# check_rate WHERE COMMAND...: COMMAND called with rate_operands, WHERE.
check_rate() {
	where=$1
	shift
	# shellcheck disable=SC2086 # the operands are split on purpose
	got=$("$@" $rate_operands 2>&1) || fail "traffic_rate $rate_operands $where failed: $got"
	[ "$got" = "$rate_line" ] ||
		fail "traffic_rate $rate_operands $where printed '$got', not $rate_line"
}

# The clean roots that the repositories are tried in, as SUITE:ARCH, with
# :tamper where the tampered repositories are tried too.  Each root installs
# the release, then the newer version, which is built for their
# architectures.
roots="trixie:amd64:tamper trixie:arm64 trixie:riscv64 bookworm:amd64:tamper"

in_root() { # root, command...: runs the command in that root
	chroot_root=$1
	shift
	$as_root chroot "$chroot_root" env -u GNUPGHOME DEBIAN_FRONTEND=noninteractive "$@" </dev/null
}

# Root, or a sudo that works without asking, runs every command that needs it
# ($as_root COMMAND...); any other user runs the rest, and a command that
# needs root fails, saying which.
if [ "$(id -u)" -eq 0 ]; then
	as_root=
elif sudo -n true 2>/dev/null; then
	as_root=sudo
else
	as_root=no_root
fi
no_root() {
	fail "CI needs root, or sudo without a password, for: $*"
}
host=$(dpkg --print-architecture)
# Roots are made and unpacked in memory where /dev/shm is a file system of
# its own there: on a disk, writing and removing them is most of their cost.
if [ -z "${TMPDIR-}" ] && [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && [ -w /dev/shm ]; then
	TMPDIR=/dev/shm
	export TMPDIR
fi

# no_skips COMMAND...: runs a command that runs tests, and fails if it fails
# or skips any.
no_skips() {
	mkdir -p "$work"
	status=0
	{ "$@" 2>&1 || echo $? >"$work/no_skips.status"; } | tee "$work/no_skips.log"
	[ ! -e "$work/no_skips.status" ] || status=$(cat "$work/no_skips.status")
	rm -f "$work/no_skips.status"
	[ "$status" -eq 0 ] || fail "$* exited $status"
	if grep '(Skipped)' "$work/no_skips.log" >&2; then
		fail "$* skipped the tests above, though this machine can run them"
	fi
}

here=$PWD/.ci
. "$here/readme.sh"
. "$here/roots.sh"
. "$here/sites.sh"
. "$here/packages.sh"
. "$here/qemu.sh"

rm -rf "$work"
mkdir -p "$work"
