# The Debian roots that stages run clients and linters in, sourced by
# lib.sh: each made once, kept as a tarball, and unpacked where a stage
# needs it.

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

