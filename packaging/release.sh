#!/bin/sh
# Builds, tests and packs the release for each architecture of
# cmake/architectures.txt, or for those named, packs the source release from
# the committed tree, and gathers them all in dist/ with a SHA256SUMS.
#
#   packaging/release.sh [--no-tests] [ARCH...]
#   packaging/release.sh --list          the architectures, one a line
#
# Foreign architectures' tests run under qemu-user through binfmt_misc.
set -eu
cd "$(dirname "$0")/.."
if [ "${1-}" = --list ]; then
	awk '!/^#/ && NF { print $1 }' cmake/architectures.txt
	exit
fi
tests=yes
if [ "${1-}" = --no-tests ]; then
	tests=no
	shift
fi
architectures=${*:-$("$0" --list)}
version=$(dpkg-parsechangelog -l packaging/changelog -SVersion)

# The binaries and the source release come from the same tree: the committed
# one.  An unpacked source release has no history, and packs no source.
checkout=no
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
	checkout=yes
	git update-index -q --refresh
	if ! git diff-index --quiet HEAD --; then
		echo "release.sh: these tracked files differ from the commit, whose" \
			"source release would not hold what the binaries were" \
			"built from; commit or stash them first:" >&2
		git status --short --untracked-files=no >&2
		exit 1
	fi
fi

rm -rf dist
mkdir dist
[ "$tests" = no ] || cmake --workflow --preset check
for arch in $architectures; do
	folder=build-release-$arch
	rm -f "$folder"/*.deb "$folder"/*.rpm "$folder"/*.tar.gz
	cmake --workflow --preset "release-$arch"
	[ "$tests" = no ] || ctest --preset "release-$arch"
	cp "$folder"/*.deb "$folder"/*.rpm "$folder"/*.tar.gz dist/
done
if [ $checkout = yes ]; then
	git -c tar.umask=0022 archive --format=tar \
		--prefix="traffic_rate-$version/" HEAD |
		gzip -9n >"dist/traffic_rate-$version.tar.gz"
fi
cd dist
sha256sum -- * >SHA256SUMS
sha256sum --check --quiet SHA256SUMS
ls -l
