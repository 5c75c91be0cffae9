#!/bin/sh
# Builds, tests and packs the release for each architecture of
# cmake/architectures.txt, or for those named, packs the source release from
# the committed tree, and gathers them all in dist/ with a SHA256SUMS.
#
#   packaging/release.sh [--no-tests] [ARCH...]
#
# Foreign architectures' tests run under qemu-user through binfmt_misc.
set -eu
cd "$(dirname "$0")/.."
tests=yes
if [ "${1-}" = --no-tests ]; then
	tests=no
	shift
fi
architectures=${*:-$(awk '!/^#/ && NF { print $1 }' cmake/architectures.txt)}
version=$(sed -n '1s/^traffic-rate (\([^)]*\)).*/\1/p' packaging/changelog)

rm -rf dist
mkdir dist
for arch in $architectures; do
	folder=build-release-$arch
	rm -f "$folder"/*.deb "$folder"/*.rpm "$folder"/*.tar.gz
	cmake --workflow --preset "release-$arch"
	[ "$tests" = no ] || cmake --workflow --preset "release-$arch-check"
	cp "$folder"/*.deb "$folder"/*.rpm "$folder"/*.tar.gz dist/
done
# The source release: the committed tree, without the build folders.  An
# unpacked source release has no history to pack, and skips this.
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
	git -c tar.umask=0022 archive --format=tar \
		--prefix="traffic_rate-$version/" HEAD |
		gzip -9n >"dist/traffic_rate-$version.tar.gz"
fi
cd dist
sha256sum -- * >SHA256SUMS
sha256sum --check --quiet SHA256SUMS
ls -l
