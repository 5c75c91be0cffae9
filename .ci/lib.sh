# What the stages of CI share, sourced by each: printing a step, failing with
# a message, comparing values, a command that must fail, RPMs' signatures,
# running tests with no skips, the READMEs' blocks and their install commands
# (readme.sh), the packages a stage needs and the release (packages.sh),
# root, the emulators (qemu.sh), and the lists that more than one stage
# reads.  A stage keeps what it makes under build-ci/STAGE, which the next
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

# serve SITE PORT: serves the folder SITE at 127.0.0.1:PORT until the stage
# ends, when its cleanup stops the server and the gpg agents; while
# $work/hold holds a regular expression, the requests whose path matches it
# wait until that file is gone, each path first added to $work/held.
serve() {
	python3 "$here/serve.py" "$1" "$2" "$work/hold" "$work/held" >"$work/http.log" 2>&1 &
	server=$!
	cleanup='kill $server; gpg_kill'
	sleep 1
	kill -0 $server 2>/dev/null || fail "cannot serve $1 at 127.0.0.1:$2: $(cat "$work/http.log")"
}

# gpg_kill: ends the gpg agents of every gpg home under this stage's folder.
gpg_kill() {
	find "$work" -name pubring.kbx 2>/dev/null | while read -r keyring; do
		gpgconf --homedir "$(dirname "$keyring")" --kill all 2>/dev/null || true
	done
}

# signed_by KEYS RPM...: each RPM signed by one of KEYS, an armoured keyring,
# as rpm checks it.
signed_by() {
	keys=$1
	shift
	rm -rf "$work/rpmdb"
	rpmkeys --dbpath "$work/rpmdb" --import "$keys" || fail "rpmkeys cannot import $keys"
	for rpm; do
		rpmkeys --dbpath "$work/rpmdb" --checksig "$rpm" | grep -q ': digests signatures OK$' ||
			fail "$rpm is not signed by a key of $keys"
	done
}

# client_root SUITE ARCH FOLDER: a clean Debian root of SUITE for ARCH, with
# curl, gpg and sudo, in FOLDER, unpacked from a tarball that the first
# stage to need it makes in build-ci/roots and later stages and runs share.
client_root() {
	tarball=$ci/roots/$1-$2.tar
	if [ ! -f "$tarball" ]; then
		mkdir -p "$ci/roots"
		# Foreign roots run under the emulators registered with flag F.
		$as_root mmdebstrap --quiet --variant=apt --architectures="$2" --format=tar \
			--include=curl,gpg,sudo --aptopt='Acquire::Languages "none"' \
			--skip=check/qemu "$1" "$tarball.new" || fail "mmdebstrap could not make $tarball"
		mv "$tarball.new" "$tarball"
	fi
	mkdir -p "$3"
	$as_root tar -xf "$tarball" -C "$3" || fail "cannot unpack $tarball in $3"
}

# kept_root SUITE FOLDER PACKAGES: the root of SUITE that packaging/release.sh
# keeps, unpacked in FOLDER, with PACKAGES installed; a Debian release under
# way may be past its Valid-Until.
kept_root() {
	kept=${TRAFFIC_RATE_ROOTS:-$PWD/build-roots}
	[ -f "$kept/$1.tar" ] || fail "no Debian $1 root in $kept/$1.tar, which packaging/release.sh keeps"
	mkdir -p "$2"
	$as_root tar -xf "$kept/$1.tar" -C "$2" || fail "cannot unpack $kept/$1.tar in $2"
	in_root "$2" sh -ec "apt-get -q -o Acquire::Check-Valid-Until=false update >/dev/null &&
		apt-get install -y -q -o Dpkg::Use-Pty=0 --no-install-recommends $3 >/dev/null" ||
		fail "$3 could not be installed in the Debian $1 root $2"
}

# publisher NAME...: throwaway keys, one for each NAME, of the kind a
# maintainer's should be, in GNUPGHOME, each set as the variable NAME to its
# fingerprint and listed in the KEYS of $work/tree, a clone of this commit
# with this dist/, from which the stage publishes.
publisher() {
	GNUPGHOME=$work/gnupg
	export GNUPGHOME
	mkdir -p -m 0700 "$GNUPGHOME"
	if [ ! -d "$work/tree" ]; then
		git clone -q . "$work/tree" && ln -s "$PWD/dist" "$work/tree/dist"
	fi
	for name; do
		gpg --batch --quiet --pinentry-mode loopback --passphrase '' \
			--quick-gen-key "traffic_rate CI $name <ci@traffic-rate.invalid>" ed25519 sign 1d
		eval "$name=$(gpg --batch --with-colons --list-keys "traffic_rate CI $name <" |
			awk -F: '$1 == "fpr" { print $10; exit }')"
		eval "echo \"\$$name CI's throwaway key $name\"" >>"$work/tree/KEYS"
	done
}

# verifies KEYRING SIGNATURE [FILE]: SIGNATURE holds a good signature by a
# key of KEYRING, and no bad one, as apt and dnf take a file signed by
# several keys, some of which they may not know.
verifies() {
	verified=$(gpgv --status-fd 1 --keyring "$1" "$2" ${3:+"$3"} 2>/dev/null || true)
	printf '%s\n' "$verified" | grep -q '^\[GNUPG:\] VALIDSIG ' &&
		! printf '%s\n' "$verified" | grep -q '^\[GNUPG:\] BADSIG '
}

# whole SITE [KEYRING]: what apt and dnf fetch from SITE verifies, with
# KEYRING or the site's own: InRelease, every index that the Release lists,
# repomd.xml and every file that it names, SHA256SUMS and the files at the
# top, and the records of releases/.
whole() {
	keyring=${2:-$1/traffic-rate-archive-keyring.pgp}
	for signed in "$1"/deb/dists/stable/InRelease "$1"/releases/*/SHA256SUMS.signed; do
		verifies "$keyring" "$signed" || fail "gpgv with $keyring refuses $signed"
	done
	for signature in deb/dists/stable/Release.gpg rpm/repodata/repomd.xml.asc SHA256SUMS.asc; do
		verifies "$keyring" "$1/$signature" "$1/${signature%.*}" ||
			fail "gpgv with $keyring refuses $1/$signature"
	done
	(cd "$1/deb/dists/stable" && sed -n '/^SHA256:/,/^[^ ]/s/^ \([0-9a-f]*\) *[0-9]* \(.*\)/\1  \2/p' Release |
		sha256sum --check --quiet) || fail "$1/deb/dists/stable/Release does not match its indexes"
	for file in $(sed -n 's/.*<location href="\([^"]*\)".*/\1/p' "$1/rpm/repodata/repomd.xml"); do
		[ -f "$1/rpm/$file" ] || fail "$1/rpm/repodata/repomd.xml names $file, which $1/rpm lacks"
	done
	(cd "$1" && sha256sum --check --quiet SHA256SUMS) || fail "$1/SHA256SUMS does not match"
}

# stand_in COMMAND PATTERN: a COMMAND first in PATH (in $work/stand-in)
# that, when its arguments match PATTERN, says so in $work/stand-in/waiting
# with its process and waits for $work/stand-in/go before it runs the real
# one: a run stopped there is stopped at that step, however fast the machine.
stand_in() {
	mkdir -p "$work/stand-in"
	rm -f "$work/stand-in/waiting" "$work/stand-in/go"
	cat >"$work/stand-in/$1" <<-EOF
		#!/bin/sh
		case "\$*" in $2)
			echo \$\$ >"$work/stand-in/waiting"
			until [ -e "$work/stand-in/go" ]; do sleep 0.1; done ;;
		esac
		PATH=${PATH}
		exec $1 "\$@"
	EOF
	chmod +x "$work/stand-in/$1"
}
# waiting PID: waits until a stand-in waits, and fails if the process PID,
# which should reach it, ends first.
waiting() {
	until [ -s "$work/stand-in/waiting" ]; do
		kill -0 "$1" 2>/dev/null || fail "process $1 ended before it reached the stand-in's step"
		sleep 0.1
	done
}

here=$PWD/.ci
. "$here/readme.sh"
. "$here/packages.sh"
. "$here/qemu.sh"

rm -rf "$work"
mkdir -p "$work"
