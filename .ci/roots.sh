# The Debian roots that stages run clients, linters and builds in, sourced
# by lib.sh: each made by packaging/roots.sh, which makes the release's too,
# kept in build-ci/roots, where later stages and runs find it, and unpacked
# where a stage needs it.
die() { fail "$@"; }
. packaging/roots.sh
release_roots=$kept_roots

# ci_root NAME FOLDER SUITE ARCH PACKAGES [MMDEBSTRAP-OPTION...]: the kept
# root NAME, unpacked in FOLDER, unless FOLDER is -.
ci_root() {
	name=$1 folder=$2
	shift 2
	kept_roots=$ci/roots
	kept_root "$name" "$@"
	kept_roots=$release_roots
	[ "$folder" != - ] || return 0
	mkdir -p "$folder"
	$as_root tar -xf "$root_tarball" -C "$folder" || fail "cannot unpack $root_tarball in $folder"
}
# client_root SUITE ARCH FOLDER: a clean root of SUITE for ARCH, a new
# machine's, with curl, gpg and sudo.  A foreign one's packages are set up by
# this machine's dpkg, outside the root (chrootless), five times faster than
# by the root's own under its emulator; its programs then run under it.
client_root() {
	if [ "$2" = "$host" ]; then
		ci_root "$1-$2" "$3" "$1" "$2" curl,gpg,sudo --variant=apt
	else
		ci_root "$1-$2" "$3" "$1" "$2" curl,gpg,sudo --variant=apt --mode=chrootless
	fi
}
# lint_root SUITE FOLDER: a clean root of SUITE with its lintian, and its
# rpmlint with the rpm it needs; a Debian release under way may be past its
# Release's Valid-Until.
lint_root() {
	ci_root "$1-lint" "$2" "$1" "$host" lintian,rpmlint,rpm --variant=apt \
		--aptopt='Acquire::Check-Valid-Until "false"'
}
# at_once COMMAND...: the commands that make roots (client_root SUITE ARCH
# -, say), each a job of its own, as build_roots makes the release's: dpkg's
# work in making one fills a core.  One that fails here is made again, and
# fails, where the stage needs it.
at_once() {
	jobs=
	for command; do
		(eval "$command") >"$work/at-once-$(echo "$command" | tr -c 'a-z0-9\n' -).log" 2>&1 &
		jobs="$jobs $!"
	done
	# shellcheck disable=SC2086 # one word per job
	wait $jobs || true
}
# build_tools_root FOLDER: a clean Debian 12 root with what the Quick start
# installs, the minimal variant.
build_tools_root() {
	ci_root bookworm-build-tools "$1" bookworm "$host" cmake,g++,make,libgtest-dev,gzip,busybox --variant=minbase
}
