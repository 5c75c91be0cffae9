#!/bin/sh
# Builds the release: for each architecture of cmake/architectures.txt, or
# for those named, its packages, built in a clean root of the Debian release
# that the table names for it from the source release's own bytes, and a
# buildinfo that records that root and names that source release; the source
# release from the committed tree; all of it in dist/ with one SHA256SUMS.
# Then it runs the whole suite against each architecture here, foreign ones
# under qemu-user through binfmt_misc.
#
#   packaging/release.sh [--no-tests] [ARCH...]
#   packaging/release.sh --rebuild FILE.buildinfo...
#   packaging/release.sh --list          the architectures, one a line
#
# It builds into build-dist/ and puts that in dist/'s place only once all of
# it, the tests too, has succeeded: a run that fails or is stopped leaves the
# last dist/, and no unpacked root.
#
# --rebuild builds again the architecture of each buildinfo, in a fresh root
# of the exact versions that it lists, from the source release that it names,
# found beside it and checked by its SHA-256, into build-rebuild/.  It exits
# 0 only if every file that the buildinfo files list was rebuilt with their
# checksum, naming those that differ or were not made otherwise.
#
# It runs as root, for mmdebstrap and chroot; the build runs in the root as
# nobody, in a clean environment, in /build/traffic_rate-VERSION.  Roots are
# kept as tarballs in build-roots/ (or $TRAFFIC_RATE_ROOTS), each with a
# record of what it was asked for and of its Release's Date and Valid-Until,
# and made again when what they must hold changes, a kept one and its record
# replaced only by a whole new pair.  A build in a root whose Release is past
# its Valid-Until says so.  Debian's packages come from $DEBIAN_MIRROR, by
# default http://deb.debian.org/debian.
set -eu
table=cmake/architectures.txt
list() { awk '!/^#/ && NF { print $1 }' $table; }
mode=release tests=yes
case ${1-} in
--list)
	cd "$(dirname "$0")/.."
	list
	exit ;;
--no-tests) tests=no && shift ;;
--rebuild)
	mode=rebuild tests=no && shift
	# The buildinfo files as named from where it was called.
	for file; do
		shift
		case $file in /*) ;; *) file=$PWD/$file ;; esac
		set -- "$@" "$file"
	done ;;
esac
cd "$(dirname "$0")/.."
say() { echo "release.sh: $*" >&2; }
died=no
die() {
	say "$@"
	died=yes
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

[ "$(id -u)" -eq 0 ] ||
	die "it builds in clean roots, made by mmdebstrap and entered by chroot, which needs root: run it with sudo"
version=$(sed -n '1s/^traffic-rate (\([^)]*\)).*/\1/p' packaging/changelog)
# dch writes UNRELEASED until the entry is finished: no release is made of it.
[ $mode = rebuild ] || ! sed -n '1p' packaging/changelog | grep -q ') UNRELEASED;' ||
	die "packaging/changelog's latest entry, $version, is UNRELEASED: finish it (dch --release) first"
host=$(dpkg --print-architecture)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
roots=${TRAFFIC_RATE_ROOTS:-$PWD/build-roots}
src=/build/traffic_rate-$version

# A checkout is told by its .git, a folder or, in a worktree, a file; an
# unpacked source release has none.  The binaries and the source release
# come from the same tree: a checkout's committed one, which git must read.
checkout=no commit=
if [ -e .git ]; then
	checkout=yes top=$(pwd -P)
	got=$(git rev-parse --show-toplevel 2>&1) ||
		die "git refuses the checkout $top ($(echo "$got" | head -n1)): run it with sudo as the checkout's owner, $(stat -c %U .), or trust it first: git config --global --add safe.directory $top"
	[ "$got" = "$top" ] || die "$top/.git is not a checkout of $top: git names $got its top"
	git cat-file -e HEAD:packaging/release.sh 2>/dev/null ||
		die "$top/.git is not a checkout of traffic_rate: its HEAD holds no packaging/release.sh"
	commit=$(git rev-parse HEAD)
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
new= root= partial=
cleanup() {
	[ -z "$root" ] || rm -rf "$root"
	[ -z "$partial" ] || rm -f "$partial" "$partial.request"
	[ $mode = rebuild ] || [ -z "$new" ] || rm -rf "$new"
	[ -e dist ] || [ ! -e build-dist-old ] || mv build-dist-old dist
}
trap 'status=$?; cleanup
	[ $status -eq 0 ] || [ $died = yes ] || say "failed (exit $status); dist/ is left as it was"
	exit $status' EXIT
trap 'died=yes; say "stopped by SIGINT; dist/ is left as it was"; exit 130' INT
trap 'died=yes; say "stopped by SIGTERM; dist/ is left as it was"; exit 143' TERM

# A plain file name, as a buildinfo may list: no folder, nothing odd.
plain='[A-Za-z0-9][A-Za-z0-9._+~-]*'
buildinfos= source=
if [ $mode = rebuild ]; then
	[ $# -gt 0 ] || die "--rebuild takes the .buildinfo files to build again"
	# Copies, read and checked here before any root is made, of the buildinfo
	# files and of the source release that they name.
	copies=$roots/wanted
	rm -rf "$copies"
	mkdir -p "$copies"
	architectures=
	for file; do
		[ -f "$file" ] || die "no file $file"
		given=$file
		file=$copies/$(basename "$file")
		cp "$given" "$file"
		[ "$(field "$file" Version)" = "$version" ] ||
			die "$given is of version $(field "$file" Version); this source is $version"
		named=$(field "$file" X-Git-Commit)
		[ $checkout = no ] || [ "$named" = "$commit" ] ||
			die "$given was built from commit $named; this checkout is at $commit: git checkout $named"
		commit=${commit:-$named}
		epoch=$(lines "$file" Environment | sed -n 's/^SOURCE_DATE_EPOCH="\(.*\)"$/\1/p')
		case $epoch in '' | *[!0-9]*) die "$given names no SOURCE_DATE_EPOCH under Environment" ;; esac
		[ "${SOURCE_DATE_EPOCH:-$epoch}" = "$epoch" ] ||
			die "the buildinfo files name different times in SOURCE_DATE_EPOCH"
		SOURCE_DATE_EPOCH=$epoch
		arch=$(field "$file" Architecture)
		[ "$(field "$file" X-Debian-Suite)" = "$(suite_of "$arch")" ] ||
			die "$given was built in Debian $(field "$file" X-Debian-Suite); $table names $(suite_of "$arch")"
		[ "$(field "$file" Build-Architecture)" = "$host" ] ||
			die "$given was built on $(field "$file" Build-Architecture), and this machine is $host"
		# What the rebuild is to prove: at least one checksum, each of a file.
		lines "$file" Checksums-Sha256 >"$copies/sums"
		[ -s "$copies/sums" ] ||
			die "$given lists no SHA-256 (Checksums-Sha256): a rebuild of it would compare nothing"
		if bad=$(grep -Evx "[0-9a-f]{64} [0-9]+ $plain" "$copies/sums"); then
			die "$given: this Checksums-Sha256 line is not 'SHA-256 SIZE FILE': $(echo "$bad" | head -n1)"
		fi
		# The source release it was built from, found beside it.
		name=$(field "$file" X-Source-Release) sum=$(field "$file" X-Source-Release-Sha256)
		echo "$name" | grep -qx "$plain" && echo "$sum" | grep -qx '[0-9a-f]\{64\}' ||
			die "$given names no source release (X-Source-Release and X-Source-Release-Sha256)"
		if [ -z "$source" ]; then
			release=$(dirname "$given")/$name
			[ -f "$release" ] || die "$release, the source release that $given was built from, is missing"
			source=$copies/$name
			cp "$release" "$source"
			got=$(sha256sum <"$source" | cut -d' ' -f1)
			[ "$got" = "$sum" ] ||
				die "$release is not the source release that $given was built from: its SHA-256 is $got, not $sum"
			source_sum=$sum
		fi
		[ "$copies/$name" = "$source" ] && [ "$sum" = "$source_sum" ] ||
			die "the buildinfo files name different source releases: $(basename "$source") $source_sum and $name $sum"
		architectures="$architectures $arch"
		buildinfos="$buildinfos $file"
	done
	export SOURCE_DATE_EPOCH
else
	architectures=${*:-$(list)}
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
# packages of the buildinfo of SUITE's first architecture; and its record,
# TARBALL.request: $request, then the Date and Valid-Until of the Release
# that apt took it from, past that or not (a Debian release under way, or a
# snapshot, may be).  Both are made beside, as TARBALL.new and its .request,
# and take the kept ones' place once whole.
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
	partial=$tarball.new
	echo "$request" >"$partial.request"
	export partial
	mmdebstrap --variant=apt --format=tar --architectures="$host$foreign" \
		--include="$wanted" --aptopt='Acquire::Languages "none"' \
		--aptopt='APT::Get::allow-downgrades "true"' --aptopt='Acquire::Check-Valid-Until "false"' \
		--customize-hook='for field in Date Valid-Until; do grep -h "^$field: " "$1"/var/lib/apt/lists/*Release ||
			[ $field = Valid-Until ]; done >>"$partial.request"' \
		--chrooted-customize-hook="$cross" "$suite" "$partial" "$mirror" 2>"$tarball.log" || {
		cat "$tarball.log" >&2
		die "mmdebstrap could not make a Debian $suite root from $mirror; $tarball is left as it was"
	}
	# Stopped between these, the kept root lacks a record and is made again.
	rm -f "$tarball.request"
	mv "$partial" "$tarball"
	mv "$partial.request" "$tarball.request"
	partial=
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
			echo " $(${sum#*:} <"$new/$file" | cut -d' ' -f1) $(wc -c <"$new/$file") $file"
		done
	done
	echo "Build-Origin: Debian"
	echo "Build-Architecture: $host"
	echo "Build-Date: $(LC_ALL=C date -u -R)"
	echo "Build-Path: $src"
	echo "X-Debian-Suite: $3"
	echo "X-Debian-Release-Date: $released"
	echo "X-Debian-Release-Valid-Until: ${until:-none}"
	[ -z "$commit" ] || echo "X-Git-Commit: $commit"
	echo "X-Source-Release: $(basename "$source")"
	echo "X-Source-Release-Sha256: $(sha256sum <"$source" | cut -d' ' -f1)"
	echo "Installed-Build-Depends:"
	chroot "$2" dpkg-query -W -f '${binary:Package} (= ${Version})\n' | sort | sed 's/^/ /; $!s/$/,/'
	echo "Environment:"
	echo " LC_ALL=\"C.UTF-8\""
	echo " SOURCE_DATE_EPOCH=\"$SOURCE_DATE_EPOCH\""
}

if [ $mode = rebuild ]; then
	new=build-rebuild
else
	new=build-dist
fi
rm -rf "$new"
mkdir -p "$new" "$roots"
if [ $mode = release ]; then
	# The source release: the commit, or, in an unpacked source release,
	# the tree as it stands.
	source=$new/traffic_rate-$version.tar.gz
	if [ $checkout = yes ]; then
		git -c tar.umask=0022 archive --format=tar --prefix="traffic_rate-$version/" HEAD >"$new/source.tar"
	else
		tar --sort=name --owner=0 --group=0 --numeric-owner --exclude='./build*' --exclude=./dist \
			--exclude=./.git --transform="s|^\\.|traffic_rate-$version|" -cf "$new/source.tar" .
	fi
	gzip -9n <"$new/source.tar" >"$source"
	rm "$new/source.tar"
fi
suites=$(for arch in $architectures; do suite_of "$arch"; done | awk '!seen[$0]++')
for suite in $suites; do
	here=$(for arch in $architectures; do [ "$(suite_of "$arch")" != "$suite" ] || echo "$arch"; done)
	# shellcheck disable=SC2086 # one word per architecture
	set -- $here
	if [ $mode = rebuild ]; then
		tarball=$roots/rebuild-$suite.tar request="$mirror $suite rebuild"
		make_root "$suite" "$tarball" "$@"
	else
		# Kept while it is asked for the same from the same mirror, and its
		# record names its Release.
		tarball=$roots/$suite.tar
		request=$(echo "$mirror" "$suite" "$@" $(wants "$@"))
		if [ -f "$tarball" ] && [ "$(sed -n 1p "$tarball.request" 2>/dev/null)" = "$request" ] &&
			[ -n "$(field "$tarball.request" Date)" ]; then
			say "using the Debian $suite root kept in $tarball"
		else
			make_root "$suite" "$tarball" "$@"
		fi
	fi
	released=$(field "$tarball.request" Date) until=$(field "$tarball.request" Valid-Until)
	[ -z "$until" ] || [ "$(date -d "$until" +%s)" -gt "$(date +%s)" ] ||
		say "WARNING: the Debian $suite root in $tarball comes from $mirror's Release of $released, valid until $until, which is past: its packages may not be $suite's current ones, and each buildinfo built in it records both dates"
	root=$roots/$suite
	rm -rf "$root"
	mkdir "$root"
	tar -xf "$tarball" -C "$root"
	mkdir -p "$root$src"
	tar -xzf "$source" -C "$root$src" --strip-components=1
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
		cp "build-release-$arch"/*.deb "build-release-$arch"/*.rpm "build-release-$arch"/*.tar.gz "$new/"
		buildinfo "$arch" "$root" "$suite" >"$new/traffic-rate_${version}_$arch.buildinfo"
	done
	rm -rf "$root"
	root=
done

if [ $mode = rebuild ]; then
	# Every file that each buildinfo lists, rebuilt with its checksum.
	differ=
	for file in $buildinfos; do
		lines "$file" Checksums-Sha256 | while read -r sum _ name; do
			if [ ! -f "$new/$name" ]; then
				echo "$name(not-rebuilt)"
			elif [ "$(sha256sum <"$new/$name" | cut -d' ' -f1)" != "$sum" ]; then
				echo "$name"
			fi
		done >"$copies/differ"
		if [ -s "$copies/differ" ]; then
			say "$(basename "$file"): these differ:" $(cat "$copies/differ")
			differ="$differ $(cat "$copies/differ")"
		else
			say "$(basename "$file"): all $(lines "$file" Checksums-Sha256 | wc -l) files it lists rebuilt, every checksum the same"
		fi
		lines "$file" Installed-Build-Depends | sed 's/,$//' >"$copies/wanted"
		lines "$new/$(basename "$file")" Installed-Build-Depends | sed 's/,$//' >"$copies/got"
		cmp -s "$copies/wanted" "$copies/got" ||
			say "the root differed from $(basename "$file"):" "$(diff "$copies/wanted" "$copies/got" | grep '^[<>]')"
	done
	[ -z "$differ" ] || die "the rebuild, in $new/, differs in:$differ"
	exit
fi
if [ $tests = yes ]; then
	cmake --workflow --preset check
	# Two architectures at a time, most of them under qemu: each suite's
	# output whole, once it ends.
	set -- $architectures
	while [ $# -gt 0 ]; do
		for arch in $1 ${2-}; do
			TRAFFIC_RATE_ARCH=$arch ctest --preset release >"build-release-$arch/suite.log" 2>&1 &
			echo $! >"build-release-$arch/suite.pid"
		done
		failed_suites=
		for arch in $1 ${2-}; do
			wait "$(cat "build-release-$arch/suite.pid")" || failed_suites="$failed_suites $arch"
			cat "build-release-$arch/suite.log"
		done
		[ -z "$failed_suites" ] || die "the suite failed for$failed_suites, above"
		shift $(($# < 2 ? $# : 2))
	done
fi
(cd "$new" && sha256sum -- * >SHA256SUMS && sha256sum --check --quiet SHA256SUMS)
# All of it succeeded: the new release takes dist/'s place.
rm -rf build-dist-old
[ ! -e dist ] || mv dist build-dist-old
mv "$new" dist
new=
rm -rf build-dist-old
ls -l dist
