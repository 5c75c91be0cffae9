# What the stages of CI share, sourced by each: printing a step, failing with
# a message, comparing values, running tests with no skips, the READMEs'
# blocks, the packages a stage needs, root, the qemu handlers, and the lists
# that more than one stage reads.  A stage keeps what it makes under
# build-ci/STAGE, which the next run of that stage empties first.
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
	$as_root chroot "$chroot_root" env DEBIAN_FRONTEND=noninteractive "$@" </dev/null
}

# Root, or a sudo that works without asking, runs every command that needs it.
if [ "$(id -u)" -eq 0 ]; then
	as_root=
elif sudo -n true 2>/dev/null; then
	as_root=sudo
else
	fail "CI needs root, or sudo without a password, for apt-get, mmdebstrap, chroot and binfmt_misc"
fi
host=$(dpkg --print-architecture)

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

# readme_block FILE HEADING: the first sh block under the heading HEADING,
# of any level, before the next heading.  None, or an empty one, fails.
readme_block() {
	block=$(awk -v heading="$2" '
		/^#+ / { sub(/^#+ /, ""); under = $0 == heading; next }
		under && /^```sh$/ { inside = 1; next }
		inside && /^```$/ { exit }
		inside { print }' "$1")
	[ -n "$block" ] || fail "$1 has no sh block, or an empty one, under the heading '$2'"
	printf '%s\n' "$block"
}
# quick_start FILE HEADING: its two commands, one a line.
quick_start() {
	commands=$(readme_block "$1" "$2")
	[ "$(printf '%s\n' "$commands" | wc -l)" -eq 2 ] ||
		fail "$1's Quick start ('$2') is not two commands: $commands"
	printf '%s\n' "$commands"
}

# needs PACKAGE...: installs those of Debian's packages that are missing,
# with one apt-get update in a run of CI.
needs() {
	missing=
	for package; do
		dpkg-query -W -f '${Status}' "$package" 2>/dev/null |
			grep -q 'ok installed' || missing="$missing $package"
	done
	[ -n "$missing" ] || return 0
	say "installing$missing"
	for package in $missing; do
		case $package in *:*)
			dpkg --print-foreign-architectures | grep -qx "${package#*:}" ||
				$as_root dpkg --add-architecture "${package#*:}" ;;
		esac
	done
	if [ "$(cat "$ci/apt-updated" 2>/dev/null)" != "${CI_RUN:-$$}" ]; then
		$as_root apt-get update -q
		mkdir -p "$ci"
		echo "${CI_RUN:-$$}" >"$ci/apt-updated"
	fi
	# shellcheck disable=SC2086 # one word per package
	$as_root env DEBIAN_FRONTEND=noninteractive \
		apt-get install -y -q --no-install-recommends $missing
}
# Foreign binaries run under qemu-user through binfmt_misc, with Debian 13's
# qemu, a static build that runs on Debian 12 too, whose qemu 7.2 cannot run
# the LSX vector instructions of Debian's loong64 compiler and musl.  It is
# kept in build-ci/qemu.  Flag P keeps argv[0] as given, and F opens the
# emulator once, so that it serves inside other roots too.  A handler is
# registered only where it is missing, disabled, lacks F or runs a qemu
# older than 10, and the run says which.
binfmt=/proc/sys/fs/binfmt_misc
qemu=$ci/qemu
register() { # name, rule
	entry=$binfmt/$1
	if [ -e "$entry" ]; then
		# Its file may be gone: flag F kept it open.
		emulator=$(readlink -f "$(sed -n 's/^interpreter //p' "$entry")") || true
		major=$("$emulator" --version 2>/dev/null | sed -n '1s/.* version \([0-9]*\)\..*/\1/p')
		grep -qx enabled "$entry" && grep -q '^flags: .*F' "$entry" &&
			[ "${major:-0}" -ge 10 ] && return
		say "$1's handler is disabled, lacks flag F or runs a qemu older than 10 (${major:-none}); registering Debian 13's"
		echo -1 | $as_root tee "$entry" >/dev/null
	else
		say "registering $1's handler, with Debian 13's qemu"
	fi
	sed "s|:/usr/libexec/qemu-binfmt/|:$qemu/usr/libexec/qemu-binfmt/|" \
		"$qemu/usr/share/qemu/binfmt.d/$1.conf" | $as_root tee $binfmt/register >/dev/null
}
qemu_handlers() {
	if [ ! -x "$qemu/usr/bin/qemu-aarch64" ]; then
		say "fetching Debian 13's qemu-user into $qemu"
		lists=$ci/qemu-lists
		mkdir -p "$lists/lists/partial" "$lists/cache/archives/partial" "$qemu"
		echo "deb ${DEBIAN_MIRROR:-http://deb.debian.org/debian} trixie main" >"$lists/sources.list"
		set -- -q -o Dir::Etc::SourceList="$lists/sources.list" -o Dir::Etc::SourceParts=/dev/null \
			-o Dir::State::Lists="$lists/lists" -o Dir::Cache="$lists/cache" \
			-o APT::Architecture="$host" -o APT::Architectures="$host" \
			-o Acquire::Languages=none -o APT::Sandbox::User=root
		apt-get "$@" update >/dev/null || fail "apt-get could not read Debian 13's package lists"
		(cd "$lists" && apt-get "$@" download qemu-user) || fail "apt-get could not download Debian 13's qemu-user"
		dpkg-deb -x "$lists"/qemu-user_*.deb "$qemu"
	fi
	[ -e $binfmt/register ] || $as_root mount -t binfmt_misc binfmt_misc $binfmt
	for conf in "$qemu"/usr/share/qemu/binfmt.d/qemu-*.conf; do
		name=$(basename "$conf" .conf)
		case $name in "qemu-$(uname -m)" | qemu-i386) continue ;; esac
		register "$name"
	done
	# Kernels of x86-64 run i386 programs themselves, unless built without
	# IA32 emulation, as some virtual machines' are.
	[ "$(uname -m)" = x86_64 ] || return 0
	if [ ! -e $binfmt/qemu-i386 ]; then
		needs gcc-i686-linux-gnu
		# A static i386 program with no C library, that only exits.
		echo 'void _start(void) { __asm__ volatile("int $0x80" : : "a"(1), "b"(0)); }' |
			i686-linux-gnu-gcc -x c -static -nostdlib -o "$ci/i386-probe" -
		"$ci/i386-probe" 2>/dev/null && return 0
		say "this kernel runs no i386 program"
	fi
	register qemu-i386
}

# The release in dist/, of this commit: the release stage's, or built here
# without its tests.
needs_release() {
	commit=$(git rev-parse HEAD)
	if [ "$(cat "$ci/release.commit" 2>/dev/null)" = "$commit" ] &&
		(cd dist && sha256sum --check --quiet SHA256SUMS 2>/dev/null); then
		say "using the release of $commit in dist/"
		return
	fi
	say "no release of $commit in dist/; building it without its tests"
	needs mmdebstrap
	$as_root packaging/release.sh --no-tests || fail "packaging/release.sh --no-tests failed"
	mkdir -p "$ci"
	echo "$commit" >"$ci/release.commit"
}

# gpg_kill: ends the gpg agents of every gpg home under this stage's folder.
gpg_kill() {
	find "$work" -name pubring.kbx 2>/dev/null | while read -r keyring; do
		gpgconf --homedir "$(dirname "$keyring")" --kill all 2>/dev/null || true
	done
}

rm -rf "$work"
mkdir -p "$work"
