#!/bin/sh
# Builds the release: for each architecture of cmake/architectures.txt, or
# for those named, its packages, built in a clean root of the Debian release
# that the table names for it from the source release's own bytes, and a
# buildinfo that records that root and names that source release; the source
# release from the committed tree; all of it in dist/ with one SHA256SUMS.
# Then it runs the whole suite against each architecture here, foreign ones
# under qemu-user through binfmt_misc.  packaging/rebuild.sh builds it again.
#
#   packaging/release.sh [--no-tests] [ARCH...]
#   packaging/release.sh --list          the architectures, one a line
#
# It builds into build-dist/ and puts that in dist/'s place only once all of
# it, the tests too, has succeeded: a run that fails or is stopped leaves the
# last dist/, and no unpacked root.  It runs as root, for mmdebstrap and
# chroot; the roots are kept in build-roots/ (packaging/roots.sh).
set -eu
list() { awk '!/^#/ && NF { print $1 }' cmake/architectures.txt; }
tests=yes
case ${1-} in
--list)
	cd "$(dirname "$0")/.."
	list
	exit ;;
--no-tests) tests=no && shift ;;
esac
cd "$(dirname "$0")/.."
say() { echo "release.sh: $*" >&2; }
died=no
die() {
	say "$@"
	died=yes
	exit 1
}
. packaging/roots.sh

[ "$(id -u)" -eq 0 ] ||
	die "it builds in clean roots, made by mmdebstrap and entered by chroot, which needs root: run it with sudo"
version=$(cmake -DFIELD=Version -P packaging/changelog.cmake)
# dch writes UNRELEASED until the entry is finished: no release is made of it.
[ "$(cmake -DFIELD=Distribution -P packaging/changelog.cmake)" != UNRELEASED ] ||
	die "packaging/changelog's latest entry, $version, is UNRELEASED: finish it (dch --release) first"

# The binaries and the source release come from the same tree: a checkout's
# committed one.
checkout
if [ -n "$commit" ]; then
	git update-index -q --refresh
	if ! git diff-index --quiet HEAD --; then
		say "these tracked files differ from the commit, whose source release" \
			"would not hold what the binaries were built from; commit or stash them first:"
		git status --short --untracked-files=no >&2
		die "$top: tracked files differ from the commit $commit"
	fi
fi

# What a run that ends early leaves: the last dist/, the kept roots whole,
# no unpacked root and no half-made one.
new=
trap 'status=$?
	stop_roots
	[ -z "$unpacked" ] || rm -rf "$unpacked" "$unpacked.log"
	[ -z "$root_partial" ] || rm -f "$root_partial" "$root_partial.request"
	[ -z "$new" ] || rm -rf "$new"
	[ -e dist ] || [ ! -e build-dist-old ] || mv build-dist-old dist
	[ $status -eq 0 ] || [ $died = yes ] || say "failed (exit $status); dist/ is left as it was"
	exit $status' EXIT
trap 'died=yes; say "stopped by SIGINT; dist/ is left as it was"; exit 130' INT
trap 'died=yes; say "stopped by SIGTERM; dist/ is left as it was"; exit 143' TERM

architectures=${*:-$(list)}
for arch in $architectures; do
	[ -n "$(suite_of "$arch")" ] || die "$arch is not in $table"
done

new=build-dist
rm -rf "$new"
mkdir -p "$new"
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(cmake -DFIELD=Timestamp -P packaging/changelog.cmake)}
export SOURCE_DATE_EPOCH
# The source release: the commit, as git packs it, or, in an unpacked
# source release, a copy of the tree as it stands.
source=$new/traffic_rate-$version.tar.gz
if [ -n "$commit" ]; then
	git -c tar.umask=0022 archive --format=tar --prefix="traffic_rate-$version/" HEAD >"$new/source.tar"
	gzip -9n <"$new/source.tar" >"$source"
	rm "$new/source.tar"
else
	mkdir "$new/traffic_rate-$version"
	tar --exclude='./build*' --exclude=./dist -cf - . | tar -xf - -C "$new/traffic_rate-$version"
	packaging/normalise.sh "$new/traffic_rate-$version" "$source"
	rm -rf "${new:?}/traffic_rate-$version"
fi
suites=$(for arch in $architectures; do suite_of "$arch"; done | awk '!seen[$0]++')
# shellcheck disable=SC2086 # one word per Debian release
build_roots $suites
for suite in $suites; do
	# shellcheck disable=SC2046 # one word per architecture
	set -- $(for arch in $architectures; do [ "$(suite_of "$arch")" != "$suite" ] || echo "$arch"; done)
	root_tarball=$kept_roots/$suite.tar
	build_in_root "$suite" "$@"
done

if [ $tests = yes ]; then
	cmake --workflow --preset check
	# Every architecture at once, most of them under qemu, which keeps every
	# core busy to the end: each suite's output whole, once it ends.
	for arch in $architectures; do
		TRAFFIC_RATE_ARCH=$arch ctest --preset release >"build-release-$arch/suite.log" 2>&1 &
		echo $! >"build-release-$arch/suite.pid"
	done
	failed_suites=
	for arch in $architectures; do
		wait "$(cat "build-release-$arch/suite.pid")" || failed_suites="$failed_suites $arch"
		cat "build-release-$arch/suite.log"
	done
	[ -z "$failed_suites" ] || die "the suite failed for$failed_suites, above"
fi
(cd "$new" && sha256sum -- * >SHA256SUMS && sha256sum --check --quiet SHA256SUMS)
# All of it succeeded: the new release takes dist/'s place.
rm -rf build-dist-old
[ ! -e dist ] || mv dist build-dist-old
mv "$new" dist
new=
rm -rf build-dist-old
ls -l dist
