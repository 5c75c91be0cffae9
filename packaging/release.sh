#!/bin/sh
# Builds the release: for each architecture of cmake/architectures.txt, or
# for those named, its packages, built in a clean root of the Debian release
# that the table names for it, and a buildinfo that records that root; the
# source release from the committed tree; all of it in dist/ with one
# SHA256SUMS.  Then it runs the whole suite against each architecture here,
# foreign ones under qemu-user through binfmt_misc.
#
#   packaging/release.sh [--no-tests] [ARCH...]
#   packaging/release.sh --rebuild FILE.buildinfo...
#   packaging/release.sh --list          the architectures, one a line
#
# --rebuild builds again the architecture of each buildinfo, in a fresh root
# of the exact versions that it lists, and exits 0 only if every checksum in
# it matches, saying which differ otherwise.
#
# It runs as root, for mmdebstrap and chroot; the build runs in the root as
# nobody, in a clean environment, in /build/traffic_rate-VERSION.  Roots are
# kept as tarballs in build-roots/ (or $TRAFFIC_RATE_ROOTS) and made again
# when what they must hold changes.  Debian's packages come from
# $DEBIAN_MIRROR, by default http://deb.debian.org/debian.
set -eu
cd "$(dirname "$0")/.."
table=cmake/architectures.txt
if [ "${1-}" = --list ]; then
	awk '!/^#/ && NF { print $1 }' $table
	exit
fi
say() { echo "release.sh: $*" >&2; }
die() {
	say "$@"
	exit 1
}
field() { # buildinfo, name: a one-line field's value
	awk -v name="$2" 'index($0, name ": ") == 1 { print substr($0, length(name) + 3); exit }' "$1"
}
lines() { # buildinfo, name: a multiline field's lines, unindented
	awk -v name="$2" '$0 == name ":" { inside = 1; next }
		inside && /^ / { print substr($0, 2); next } { inside = 0 }' "$1"
}
suite_of() { awk -v arch="$1" '$1 == arch { print $3 }' $table; }

mode=release tests=yes
case ${1-} in
--no-tests) tests=no && shift ;;
--rebuild) mode=rebuild tests=no && shift ;;
esac
[ "$(id -u)" -eq 0 ] ||
	die "it builds in clean roots, made by mmdebstrap and entered by chroot, which needs root: run it with sudo"
version=$(sed -n '1s/^traffic-rate (\([^)]*\)).*/\1/p' packaging/changelog)
host=$(dpkg --print-architecture)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
roots=${TRAFFIC_RATE_ROOTS:-$PWD/build-roots}
src=/build/traffic_rate-$version

# The binaries and the source release come from the same tree: the committed
# one.  An unpacked source release has no history, and packs no source.
checkout=no commit=
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
	checkout=yes commit=$(git rev-parse HEAD)
	git update-index -q --refresh
	if ! git diff-index --quiet HEAD --; then
		say "these tracked files differ from the commit, whose source release" \
			"would not hold what the binaries were built from; commit or stash them first:"
		git status --short --untracked-files=no >&2
		exit 1
	fi
fi
source_tree() {
	if [ $checkout = yes ]; then
		git archive --format=tar HEAD
	else
		tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - .
	fi
}

buildinfos=
if [ $mode = rebuild ]; then
	[ $# -gt 0 ] || die "--rebuild takes the .buildinfo files to build again"
	architectures=
	for file; do
		[ -f "$file" ] || die "no file $file"
		# A copy, since dist/, where it may be, is emptied first.
		mkdir -p "$roots/wanted"
		cp "$file" "$roots/wanted/"
		file=$roots/wanted/$(basename "$file")
		[ "$(field "$file" Version)" = "$version" ] ||
			die "$file is of version $(field "$file" Version); this source is $version"
		named=$(field "$file" X-Git-Commit)
		[ $checkout = no ] || [ "$named" = "$commit" ] ||
			die "$file was built from commit $named; this checkout is at $commit: git checkout $named"
		commit=${commit:-$named}
		epoch=$(lines "$file" Environment | sed -n 's/^SOURCE_DATE_EPOCH="\(.*\)"$/\1/p')
		[ "${SOURCE_DATE_EPOCH:-$epoch}" = "$epoch" ] ||
			die "the buildinfo files name different times in SOURCE_DATE_EPOCH"
		SOURCE_DATE_EPOCH=$epoch
		arch=$(field "$file" Architecture)
		[ "$(field "$file" X-Debian-Suite)" = "$(suite_of "$arch")" ] ||
			die "$file was built in Debian $(field "$file" X-Debian-Suite); $table names $(suite_of "$arch")"
		[ "$(field "$file" Build-Architecture)" = "$host" ] ||
			die "$file was built on $(field "$file" Build-Architecture), and this machine is $host"
		architectures="$architectures $arch"
		buildinfos="$buildinfos $file"
	done
	export SOURCE_DATE_EPOCH
else
	architectures=${*:-$("$0" --list)}
fi
for arch in $architectures; do
	[ -n "$(suite_of "$arch")" ] || die "$arch is not in $table"
done

# wants ARCH...: what a root for building those architectures must hold, but
# for the cross compilers.
wants() {
	echo cmake make g++ dpkg-dev rpm file gzip
	for arch; do echo "musl-dev:$arch"; done
}

# make_root SUITE TARBALL ARCH...: a clean root of SUITE as a tarball, with
# what building for those architectures needs, or, rebuilding, exactly the
# packages of the buildinfo of SUITE's first architecture.
make_root() {
	suite=$1 tarball=$2
	shift 2
	if [ $mode = rebuild ]; then
		for file in $buildinfos; do
			[ "$(field "$file" X-Debian-Suite)" = "$suite" ] && break
		done
		wanted=$(lines "$file" Installed-Build-Depends | sed 's/ (= \(.*\)),\{0,1\}$/=\1/' | tr '\n' ' ')
		# Every architecture that the root held packages of.
		foreign=$(printf '%s\n' $wanted | sed -n 's/^[^:=]*:\([^=]*\)=.*/\1/p' | sort -u |
			grep -vx "$host" | sed 's/^/,/' | tr -d '\n')
		cross=true
	else
		foreign=$(for arch; do [ "$arch" = "$host" ] || printf ',%s' "$arch"; done)
		wanted=$(wants "$@" | tr "\n" " ")
		# The cross compilers' names come from the root's own dpkg.
		cross='apt-get install -y --no-install-recommends $(for arch in '"$*"'; do
			[ "$arch" = "$(dpkg --print-architecture)" ] ||
			echo g++-$(dpkg-architecture -a$arch -qDEB_HOST_GNU_TYPE 2>/dev/null | tr _ -); done)'
	fi
	say "making a clean Debian $suite root for $* in $tarball"
	for valid_until in true false; do
		mmdebstrap --variant=apt --architectures="$host$foreign" \
			--include="$wanted" --aptopt='Acquire::Languages "none"' \
			--aptopt='APT::Get::allow-downgrades "true"' \
			--aptopt="Acquire::Check-Valid-Until \"$valid_until\"" \
			--chrooted-customize-hook="$cross" "$suite" "$tarball" "$mirror" \
			2>"$tarball.log" && return
		grep -q "InRelease is expired" "$tarball.log" && [ $valid_until = true ] || {
			cat "$tarball.log" >&2
			die "mmdebstrap could not make a Debian $suite root"
		}
		say "$mirror's $suite is past its Valid-Until; making the root without that check"
	done
}

# buildinfo ARCH ROOT SUITE: the buildinfo of ARCH, built in ROOT.
buildinfo() {
	files=$(cd "build-release-$1" && ls -- *.deb *.rpm *.tar.gz)
	echo "Format: 1.0"
	echo "Source: traffic-rate"
	echo "Binary: traffic-rate"
	echo "Architecture: $1"
	echo "Version: $version"
	for sum in Md5:md5sum Sha1:sha1sum Sha256:sha256sum; do
		echo "Checksums-${sum%:*}:"
		for file in $files; do
			echo " $(${sum#*:} <"dist/$file" | cut -d' ' -f1) $(wc -c <"dist/$file") $file"
		done
	done
	echo "Build-Origin: Debian"
	echo "Build-Architecture: $host"
	echo "Build-Date: $(LC_ALL=C date -u -R)"
	echo "Build-Path: $src"
	echo "X-Debian-Suite: $3"
	[ -z "$commit" ] || echo "X-Git-Commit: $commit"
	echo "Installed-Build-Depends:"
	chroot "$2" dpkg-query -W -f '${binary:Package} (= ${Version})\n' | sort | sed 's/^/ /; $!s/$/,/'
	echo "Environment:"
	echo " LC_ALL=\"C.UTF-8\""
	echo " SOURCE_DATE_EPOCH=\"$SOURCE_DATE_EPOCH\""
}

rm -rf dist
mkdir -p dist "$roots"
if [ $mode = release ] && [ $checkout = yes ]; then
	git -c tar.umask=0022 archive --format=tar --prefix="traffic_rate-$version/" HEAD |
		gzip -9n >"dist/traffic_rate-$version.tar.gz"
fi
suites=$(for arch in $architectures; do suite_of "$arch"; done | awk '!seen[$0]++')
for suite in $suites; do
	here=$(for arch in $architectures; do [ "$(suite_of "$arch")" != "$suite" ] || echo "$arch"; done)
	# shellcheck disable=SC2086 # one word per architecture
	set -- $here
	if [ $mode = rebuild ]; then
		tarball=$roots/rebuild-$suite.tar
		make_root "$suite" "$tarball" "$@"
	else
		# Kept while it is asked for the same from the same mirror.
		tarball=$roots/$suite.tar
		request=$(echo "$mirror" "$suite" "$@" $(wants "$@"))
		if [ -f "$tarball" ] && [ "$(cat "$tarball.request" 2>/dev/null)" = "$request" ]; then
			say "using the Debian $suite root kept in $tarball"
		else
			rm -f "$tarball" "$tarball.request"
			make_root "$suite" "$tarball" "$@"
			echo "$request" >"$tarball.request"
		fi
	fi
	root=$roots/$suite
	rm -rf "$root"
	mkdir "$root"
	tar -xf "$tarball" -C "$root"
	mkdir -p "$root$src"
	source_tree | tar -xf - -C "$root$src"
	chown -R 65534:65534 "$root/build"
	SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(chroot "$root" dpkg-parsechangelog \
		-l "$src/packaging/changelog" -STimestamp)}
	say "building $* in the Debian $suite root, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
	chroot --userspec=65534:65534 "$root" env -i PATH=/usr/bin:/bin HOME=/build \
		LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" sh -ec '
		cd "$0"
		for arch; do TRAFFIC_RATE_ARCH=$arch cmake --workflow --preset release; done' "$src" "$@"
	for arch; do
		rm -rf "build-release-$arch"
		mkdir "build-release-$arch"
		cp "$root$src/build-release-$arch"/traffic_rate "$root$src/build-release-$arch"/*.deb \
			"$root$src/build-release-$arch"/*.rpm "$root$src/build-release-$arch"/*.tar.gz \
			"build-release-$arch/"
		cp "build-release-$arch"/*.deb "build-release-$arch"/*.rpm "build-release-$arch"/*.tar.gz dist/
		buildinfo "$arch" "$root" "$suite" >"dist/traffic-rate_${version}_$arch.buildinfo"
	done
	rm -rf "$root"
done

if [ $mode = rebuild ]; then
	differ=
	for file in $buildinfos; do
		lines "$file" Checksums-Sha256 | while read -r sum _ name; do
			[ "$(sha256sum <"dist/$name" | cut -d' ' -f1)" = "$sum" ] || echo "$name"
		done >dist/differ
		if [ -s dist/differ ]; then
			say "$(basename "$file"): these differ:" $(cat dist/differ)
			differ="$differ $(cat dist/differ)"
		else
			say "$(basename "$file"): every checksum matches"
		fi
		rebuilt=dist/$(basename "$file")
		lines "$file" Installed-Build-Depends | sed 's/,$//' >dist/wanted
		lines "$rebuilt" Installed-Build-Depends | sed 's/,$//' >dist/got
		cmp -s dist/wanted dist/got ||
			say "the root differed from $(basename "$file"):" "$(diff dist/wanted dist/got | grep '^[<>]')"
		rm -f dist/differ dist/wanted dist/got
	done
	[ -z "$differ" ] || die "the rebuild differs in:$differ"
	exit
fi
if [ $tests = yes ]; then
	cmake --workflow --preset check
	for arch in $architectures; do
		TRAFFIC_RATE_ARCH=$arch ctest --preset release
	done
fi
cd dist
sha256sum -- * >SHA256SUMS
sha256sum --check --quiet SHA256SUMS
ls -l
