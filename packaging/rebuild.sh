#!/bin/sh
# Builds a release again from its buildinfo files: the architecture of each,
# in a clean root of the exact versions that it lists, from the source
# release that it names, found beside it and checked by its SHA-256, into
# build-rebuild/.  It exits 0 only if every file that the buildinfo files
# list was rebuilt with their checksum, naming those that differ or were not
# made otherwise.
#
#   packaging/rebuild.sh FILE.buildinfo...
#
# Everything it reads is checked before any root is made.  The root of a
# Debian release is the one packaging/release.sh keeps where that holds
# exactly the packages listed, and otherwise one made of them and kept as
# rebuild-SUITE (packaging/roots.sh).  It runs as root, for mmdebstrap and
# chroot, in the top folder of a checkout or of the unpacked source release.
set -eu
# The buildinfo files as named from where it was called.
for file; do
	shift
	case $file in /*) ;; *) file=$PWD/$file ;; esac
	set -- "$@" "$file"
done
cd "$(dirname "$0")/.."
say() { echo "rebuild.sh: $*" >&2; }
died=no
die() {
	say "$@"
	died=yes
	exit 1
}
. packaging/roots.sh
[ "$(id -u)" -eq 0 ] ||
	die "it builds in clean roots, made by mmdebstrap and entered by chroot, which needs root: run it with sudo"
[ $# -gt 0 ] || die "it takes the .buildinfo files to build again"
version=$(cmake -DFIELD=Version -P packaging/changelog.cmake)
checkout

# What a run that ends early leaves: the kept roots whole, no unpacked root
# and no half-made one.
trap 'status=$?
	[ -z "$unpacked" ] || rm -rf "$unpacked" "$unpacked.log"
	[ -z "$root_partial" ] || rm -f "$root_partial" "$root_partial.request"
	[ $status -eq 0 ] || [ $died = yes ] || say "failed (exit $status)"
	exit $status' EXIT
trap 'died=yes; say "stopped by SIGINT"; exit 130' INT
trap 'died=yes; say "stopped by SIGTERM"; exit 143' TERM

# A plain file name, as a buildinfo may list: no folder, nothing odd.
plain='[A-Za-z0-9][A-Za-z0-9._+~-]*'
# Copies, read and checked here before any root is made, of the buildinfo
# files and of the source release that they name.
copies=$kept_roots/wanted
rm -rf "$copies"
mkdir -p "$copies"
architectures= buildinfos= source=
for file; do
	[ -f "$file" ] || die "no file $file"
	given=$file
	file=$copies/$(basename "$file")
	cp "$given" "$file"
	[ "$(field "$file" Version)" = "$version" ] ||
		die "$given is of version $(field "$file" Version); this source is $version"
	named=$(field "$file" X-Git-Commit)
	[ -z "$commit" ] || [ "$named" = "$commit" ] ||
		die "$given was built from commit $named; this checkout is at $commit: git checkout $named"
	epoch=$(lines "$file" Environment | sed -n 's/^SOURCE_DATE_EPOCH="\(.*\)"$/\1/p')
	case $epoch in '' | *[!0-9]*) die "$given names no SOURCE_DATE_EPOCH under Environment" ;; esac
	[ "${SOURCE_DATE_EPOCH:-$epoch}" = "$epoch" ] ||
		die "the buildinfo files name different times in SOURCE_DATE_EPOCH"
	SOURCE_DATE_EPOCH=$epoch
	arch=$(field "$file" Architecture)
	[ -n "$(suite_of "$arch")" ] || die "$given is of $arch, which $table does not name"
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
	# And the root it takes: every package, by its exact version.
	[ -n "$(lines "$file" Installed-Build-Depends)" ] ||
		die "$given lists no package under Installed-Build-Depends: no root of it can be made"
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

new=build-rebuild
rm -rf "$new"
mkdir -p "$new"
for suite in $(for arch in $architectures; do suite_of "$arch"; done | awk '!seen[$0]++'); do
	# shellcheck disable=SC2046 # one word per architecture
	set -- $(for arch in $architectures; do [ "$(suite_of "$arch")" != "$suite" ] || echo "$arch"; done)
	for file in $buildinfos; do
		[ "$(field "$file" X-Debian-Suite)" = "$suite" ] && break
	done
	lines "$file" Installed-Build-Depends | sed 's/,$//' >"$copies/wanted"
	if [ -f "$kept_roots/$suite.tar" ] && lines "$kept_roots/$suite.tar.request" Installed |
		cmp -s - "$copies/wanted"; then
		root_tarball=$kept_roots/$suite.tar
		say "using the Debian $suite root that packaging/release.sh keeps in $root_tarball: it holds exactly what $(basename "$file") lists"
	else
		# Exactly those packages, of every architecture that the root held.
		wanted=$(sed 's/ (= \(.*\))$/=\1/' "$copies/wanted" | tr '\n' ,)
		foreign=$(sed -n 's/^[^:=]*:\([^ ]*\) .*/\1/p' "$copies/wanted" | sort -u | grep -vx "$host" |
			sed 's/^/,/' | tr -d '\n')
		kept_root "rebuild-$suite" "$suite" "$host$foreign" "${wanted%,}" --variant=apt \
			--aptopt='APT::Get::allow-downgrades "true"' --aptopt='Acquire::Check-Valid-Until "false"'
	fi
	build_in_root "$suite" "$@"
done

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
