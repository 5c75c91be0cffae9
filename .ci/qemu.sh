# The emulators that run foreign binaries, for the stages; sourced by lib.sh.

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
