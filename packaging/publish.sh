#!/bin/sh
# Publishes the release in dist/, as packaging/release.sh leaves it, into DIR,
# a folder for any static web server to serve at URL: a signed APT repository
# under deb/, with the keyring package traffic-rate-archive-keyring, a signed
# RPM repository under rpm/, and at the top the release's files with
# SHA256SUMS and its signature, SHA256SUMS.asc, the public keys and the files
# that tell apt and dnf where the repositories are.
#
#   packaging/publish.sh --key FINGERPRINT [--key FINGERPRINT]... [--partial]
#                        --url URL --out DIR
#
# Each key is given by its full fingerprint and is the maintainer's, in the
# gpg of the environment (GNUPGHOME).  The first key signs; every key given
# goes into the published keyring and the keyring package, as while one key
# is rotated to another.  The keyring package gets a new version whenever
# the keyring changes, and every RPM in rpm/ ends signed by the first key.
# Publishing again into the same DIR adds the new release to the
# repositories and keeps the earlier ones there, so that a user can go back.
# A release that lacks an architecture DIR already serves is refused: its
# users would stay at the last version unawares.  --partial publishes it all
# the same.  Any failure stops the run with a line that names it, and running
# it again finishes the job.
set -eu
# What it publishes is for all to read.
umask 022
usage() {
	echo "usage: packaging/publish.sh --key FINGERPRINT [--key FINGERPRINT]..." \
		"[--partial] --url URL --out DIR" >&2
	exit 2
}
keys='' url='' out='' partial=no
while [ $# -gt 0 ]; do
	case $1 in
	--partial) partial=yes && shift && continue ;;
	--key | --url | --out) [ $# -ge 2 ] || usage ;;
	*) usage ;;
	esac
	case $1 in
	--key) keys="$keys $2" ;;
	--url) url=${2%/} ;;
	--out) out=$2 ;;
	esac
	shift 2
done
[ -n "$keys" ] && [ -n "$url" ] && [ -n "$out" ] || usage
# DIR is the caller's; dist/ and the templates are the checkout's.
case $out in /*) ;; *) out=$PWD/$out ;; esac
cd "$(dirname "$0")/.."

failed=no
die() {
	echo "publish.sh: $*" >&2
	failed=yes
	exit 1
}
tmp=
trap 'status=$?; [ -z "$tmp" ] || rm -rf "$tmp"
	[ $status -eq 0 ] || [ $failed = yes ] || echo "publish.sh: the command" \
		"above exited $status; publishing again finishes the job" >&2' EXIT
trap 'exit 130' HUP INT TERM

# Every key, by its fingerprint, alone: gpg exports nothing, and exits 0,
# for a key it lacks.
# shellcheck disable=SC2086 # one word per key
set -- $keys
for name; do
	fingerprint=$(gpg --batch --with-colons --list-keys -- "$name" 2>/dev/null |
		awk -F: '$1 == "pub" { n++ } $1 == "fpr" && !f { f = $10 } END { if (n == 1) print f }')
	[ "$fingerprint" = "$(echo "$name" | tr a-f A-F)" ] && [ -n "$(gpg --batch --export -- "$name")" ] ||
		die "no key $name in ${GNUPGHOME:-~/.gnupg}: give each --key as one key's full fingerprint"
done
key=$1
gpg --batch --list-secret-keys -- "$key" >/dev/null 2>&1 ||
	die "no secret key $key in ${GNUPGHOME:-~/.gnupg}: the repositories are signed with the maintainer's key"
# Signed only after it is checked: the packages are what release.sh made.
ls dist/*.deb dist/*.rpm >/dev/null 2>&1 || die "dist/ holds no .deb or no .rpm: run packaging/release.sh"
(cd dist && sha256sum --check --quiet SHA256SUMS) || die "dist/ does not match dist/SHA256SUMS"

architectures() { # the architectures of the packages named, as deb:ARCH or rpm:ARCH
	for package; do
		[ -e "$package" ] || continue
		case $package in
		*_all.deb) ;;
		*.deb) package=${package%.deb} && echo "deb:${package##*_}" ;;
		*.rpm) package=${package%.rpm} && echo "rpm:${package##*.}" ;;
		esac
	done | sort -u
}
mkdir -p "$out/deb/pool" "$out/rpm"
out=$(cd "$out" && pwd -P)
missing=$(architectures "$out"/deb/pool/*.deb "$out"/rpm/*.rpm |
	grep -vxF "$(architectures dist/*.deb dist/*.rpm)" | tr '\n' ' ') || true
[ -z "$missing" ] || [ $partial = yes ] ||
	die "dist/ lacks architectures that $out serves: ${missing% }; --partial publishes it all the same"

# Every date in the repositories' metadata, as in the packages.
if [ -z "${SOURCE_DATE_EPOCH-}" ]; then
	SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/changelog -STimestamp)
fi
export SOURCE_DATE_EPOCH
sign() { # detached, or with --clearsign, what it signs
	gpg --batch --yes --local-user "$key" --digest-algo SHA512 "$@"
}
# Files are made here, on DIR's file system, and moved into place whole; a
# run killed outright leaves its folder to the next.
rm -rf "$out"/.publish.*
tmp=$(mktemp -d "$out/.publish.XXXXXX")
put() { # FILE, WHERE: a copy of FILE, whole, as WHERE
	cp "$1" "$tmp/put" && touch -d "@$SOURCE_DATE_EPOCH" "$tmp/put" && mv "$tmp/put" "$2"
}

# A published name keeps its content: a rebuild that differs is a new version.
for deb in dist/*.deb; do
	published=$out/deb/pool/${deb#dist/}
	if [ -e "$published" ]; then
		cmp -s "$deb" "$published" || die "$published is published with other content than $deb"
	else
		put "$deb" "$published"
	fi
done

# The keyring, in the keyring package and at the top.
gpg --batch --export --export-options export-minimal "$@" >"$tmp/keyring.pgp"
gpg --batch --armor --export --export-options export-minimal "$@" >"$tmp/keyring.asc"
package=traffic-rate-archive-keyring
last=$(ls "$out/deb/pool" | sed -n "s/^${package}_\([0-9]*\)_all\.deb\$/\1/p" | sort -n | tail -1)
if [ -n "$last" ]; then
	dpkg-deb --fsys-tarfile "$out/deb/pool/${package}_${last}_all.deb" |
		tar -xOf - "./usr/share/keyrings/$package.pgp" >"$tmp/last.pgp" ||
		die "$out/deb/pool/${package}_${last}_all.deb holds no $package.pgp"
fi
if [ -z "$last" ] || ! cmp -s "$tmp/keyring.pgp" "$tmp/last.pgp"; then
	version=$((${last:-0} + 1))
	root=$tmp/$package doc=$tmp/$package/usr/share/doc/$package
	mkdir -p "$root/DEBIAN" "$root/usr/share/keyrings" "$doc"
	cp "$tmp/keyring.pgp" "$root/usr/share/keyrings/$package.pgp"
	cp packaging/copyright "$doc/copyright"
	maintainer=$(dpkg-parsechangelog -l packaging/changelog -SMaintainer)
	{
		printf '%s (%s) stable; urgency=medium\n\n' "$package" "$version"
		printf '%s\n' "$@" | LC_ALL=C sort -u | sed 's/.*/  * Key &./'
		printf '\n -- %s  %s\n' "$maintainer" "$(date -R -u -d "@$SOURCE_DATE_EPOCH")"
		if [ -n "$last" ]; then
			echo
			dpkg-deb --fsys-tarfile "$out/deb/pool/${package}_${last}_all.deb" |
				tar -xOf - "./usr/share/doc/$package/changelog.gz" | gzip -d
		fi
	} | gzip -9n >"$doc/changelog.gz"
	cat >"$root/DEBIAN/control" <<-EOF
		Package: $package
		Version: $version
		Architecture: all
		Multi-Arch: foreign
		Maintainer: $maintainer
		Installed-Size: $(find "$root/usr" -type f -printf '%s\n' | awk '{ k += int(($1 + 1023) / 1024) } END { print k }')
		Section: misc
		Priority: optional
		Description: OpenPGP keys of traffic_rate's APT repository
		 The keys that traffic_rate's APT repository is signed with, where the
		 repository's traffic-rate.sources file tells apt to find them, so that
		 a renewed or a new key reaches every machine with apt upgrade.
	EOF
	(cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$root/DEBIAN/md5sums"
	find "$root" -type d -exec chmod 0755 {} + && find "$root" -type f -exec chmod 0644 {} +
	find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
	dpkg-deb --root-owner-group --build "$root" "$tmp/keyring.deb" >/dev/null
	mv "$tmp/keyring.deb" "$out/deb/pool/${package}_${version}_all.deb"
fi

# An RPM is signed in a copy, which is moved into rpm/ only once signed.  An
# RPM of the same name keeps its header and payload (signing changes only
# its signature); every RPM ends signed by the signing key, that a new user
# whose dnf knows only the keys published now can install any of them.
gpg --batch --armor --export --export-options export-minimal "$key" >"$tmp/key.asc"
rpmkeys --dbpath "$tmp/rpmdb" --import "$tmp/key.asc" || die "rpmkeys cannot import the key $key"
content() { rpm -qp --nosignature --qf '%{SHA256HEADER} %{PAYLOADDIGEST}' "$1" 2>/dev/null; }
signed() { rpmkeys --dbpath "$tmp/rpmdb" --checksig "$1" 2>/dev/null | grep -q ': digests signatures OK$'; }
sign_rpm() { # RPM, PUBLISHED: a copy of RPM, signed by the key, as PUBLISHED
	cp "$1" "$tmp/rpm.rpm"
	if ! { rpmsign --delsign "$tmp/rpm.rpm" && rpmsign --define "_gpg_name $key" \
		--define "__gpg $(command -v gpg)" --addsign "$tmp/rpm.rpm"; } >"$tmp/rpmsign.log" 2>&1; then
		cat "$tmp/rpmsign.log" >&2
		die "rpmsign could not sign $2 with $key"
	fi
	signed "$tmp/rpm.rpm" || die "rpmsign left $2 not signed by $key"
	touch -d "@$SOURCE_DATE_EPOCH" "$tmp/rpm.rpm"
	mv "$tmp/rpm.rpm" "$2"
}
for rpm in dist/*.rpm; do
	published=$out/rpm/${rpm#dist/}
	if [ -e "$published" ]; then
		[ "$(content "$published")" = "$(content "$rpm")" ] &&
			rpmkeys -K --nosignature "$published" >/dev/null 2>&1 ||
			die "$published is published with other content than $rpm"
	fi
	signed "$published" 2>/dev/null || sign_rpm "$rpm" "$published"
done
for published in "$out"/rpm/*.rpm; do
	signed "$published" || sign_rpm "$published" "$published"
done

# The APT repository: one suite, stable, one component, main, made aside
# and then put in place of the last.
(
	cd "$out/deb"
	dists=$tmp/dists
	architectures=$(architectures pool/*.deb | sed 's/^deb://' | tr '\n' ' ')
	for arch in $architectures; do
		mkdir -p "$dists/stable/main/binary-$arch"
		apt-ftparchive --arch "$arch" packages pool \
			>"$dists/stable/main/binary-$arch/Packages"
		gzip -9nk "$dists/stable/main/binary-$arch/Packages"
	done
	apt-ftparchive \
		-o APT::FTPArchive::Release::Origin=traffic_rate \
		-o APT::FTPArchive::Release::Label=traffic_rate \
		-o APT::FTPArchive::Release::Suite=stable \
		-o APT::FTPArchive::Release::Codename=stable \
		-o APT::FTPArchive::Release::Architectures="${architectures% }" \
		-o APT::FTPArchive::Release::Components=main \
		-o APT::FTPArchive::Release::Description="traffic_rate's releases" \
		-o APT::FTPArchive::Release::Date="$(LC_ALL=C date -u -d "@$SOURCE_DATE_EPOCH" \
			'+%a, %d %b %Y %H:%M:%S +0000')" \
		release "$dists/stable" >"$tmp/Release"
	mv "$tmp/Release" "$dists/stable/Release"
	sign --clearsign --output "$dists/stable/InRelease" "$dists/stable/Release"
	sign --armor --detach-sign --output "$dists/stable/Release.gpg" "$dists/stable/Release"
	rm -rf dists
	mv "$dists" dists
)

# The RPM repository, for every architecture at once.
createrepo_c --quiet --no-database --simple-md-filenames \
	--revision "$SOURCE_DATE_EPOCH" --set-timestamp-to-revision "$out/rpm"
sign --armor --detach-sign --output "$tmp/repomd.xml.asc" "$out/rpm/repodata/repomd.xml"
mv "$tmp/repomd.xml.asc" "$out/rpm/repodata/repomd.xml.asc"

# At the top: this release's files in place of the last one's, their
# checksums signed, the keys, and where the repositories are.
if [ -f "$out/SHA256SUMS" ]; then
	awk '{ print $2 }' "$out/SHA256SUMS" | grep -vxF "$(ls dist)" | (cd "$out" && xargs rm -f)
fi
for file in dist/*; do
	[ "$file" = dist/SHA256SUMS ] || put "$file" "$out/${file#dist/}"
done
sign --armor --detach-sign --output "$tmp/SHA256SUMS.asc" dist/SHA256SUMS
put dist/SHA256SUMS "$out/SHA256SUMS"
mv "$tmp/SHA256SUMS.asc" "$out/SHA256SUMS.asc"
put "$tmp/keyring.pgp" "$out/$package.pgp"
put "$tmp/keyring.asc" "$out/$package.asc"
escaped_url=$(printf '%s' "$url" | sed 's/[|&\\]/\\&/g')
for template in traffic-rate.sources traffic-rate.repo; do
	sed "s|@URL@|$escaped_url|g" "packaging/$template.in" >"$tmp/$template"
	mv "$tmp/$template" "$out/$template"
done
ls -l "$out"
