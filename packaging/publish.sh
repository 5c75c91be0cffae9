#!/bin/sh
# Publishes the release in dist/, as packaging/release.sh leaves it, into DIR,
# a folder for any static web server to serve at URL: a signed APT repository
# under deb/, a signed RPM repository under rpm/, and at the top the release's
# files with SHA256SUMS and its signature, SHA256SUMS.asc, the public key and
# the files that tell apt and dnf where the repositories are.
#
#   packaging/publish.sh --key FINGERPRINT [--key FINGERPRINT] --url URL --out DIR
#
# The key is the maintainer's, in the gpg of the environment (GNUPGHOME).  The
# first key signs; every key given goes into the published keyring, as while
# one key is rotated to another.
# Publishing again into the same DIR adds the new release to the
# repositories and keeps the earlier ones there, so that a user can go back.
set -eu
cd "$(dirname "$0")/.."
usage() {
	echo "usage: packaging/publish.sh --key FINGERPRINT [--key FINGERPRINT]" \
		"--url URL --out DIR" >&2
	exit 2
}
keys= url= out=
while [ $# -ge 2 ]; do
	case $1 in
	--key) keys="$keys $2" ;;
	--url) url=${2%/} ;;
	--out) out=$2 ;;
	*) usage ;;
	esac
	shift 2
done
[ $# -eq 0 ] && [ -n "$keys" ] && [ -n "$url" ] && [ -n "$out" ] || usage
# shellcheck disable=SC2086 # one word per key
set -- $keys
key=$1
if ! gpg --batch --list-secret-keys "$key" >/dev/null 2>&1; then
	echo "publish.sh: no secret key $key in ${GNUPGHOME:-~/.gnupg}:" \
		"the repositories are signed with the maintainer's key" >&2
	exit 1
fi
# Signed only after it is checked: the packages are what release.sh made.
(cd dist && sha256sum --check --quiet SHA256SUMS)

# Every date in the repositories' metadata, as in the packages.
if [ -z "${SOURCE_DATE_EPOCH-}" ]; then
	SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/changelog -STimestamp)
fi
export SOURCE_DATE_EPOCH
sign() { # detached, or with --clearsign, what it signs
	gpg --batch --yes --local-user "$key" --digest-algo SHA512 "$@"
}

mkdir -p "$out/deb/pool" "$out/rpm"
out=$(cd "$out" && pwd -P)
# A published name keeps its bytes: a rebuild that differs is a new version.
for deb in dist/*.deb; do
	published=$out/deb/pool/${deb#dist/}
	if [ -e "$published" ] && ! cmp -s "$deb" "$published"; then
		echo "publish.sh: $published is published with other bytes" >&2
		exit 1
	fi
	cp "$deb" "$published"
done
for rpm in dist/*.rpm; do
	published=$out/rpm/${rpm#dist/}
	[ ! -e "$published" ] || continue
	# Signing an RPM rewrites it, so the copy is signed, not dist/'s.
	cp "$rpm" "$published"
	rpmsign --define "_gpg_name $key" --define "__gpg $(command -v gpg)" \
		--addsign "$published" >/dev/null
	touch -d "@$SOURCE_DATE_EPOCH" "$published"
done

# The APT repository: one suite, stable, one component, main.
(
	cd "$out/deb"
	architectures=$(for deb in pool/*.deb; do dpkg-deb -f "$deb" Architecture; done |
		sort -u | tr '\n' ' ')
	rm -rf dists
	for arch in $architectures; do
		mkdir -p "dists/stable/main/binary-$arch"
		apt-ftparchive --arch "$arch" packages pool \
			>"dists/stable/main/binary-$arch/Packages"
		gzip -9nk "dists/stable/main/binary-$arch/Packages"
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
		release dists/stable >Release
	mv Release dists/stable/Release
	sign --clearsign --output dists/stable/InRelease dists/stable/Release
	sign --armor --detach-sign --output dists/stable/Release.gpg dists/stable/Release
)

# The RPM repository, for every architecture at once.
createrepo_c --quiet --no-database --simple-md-filenames \
	--revision "$SOURCE_DATE_EPOCH" --set-timestamp-to-revision "$out/rpm"
sign --armor --detach-sign --output "$out/rpm/repodata/repomd.xml.asc" \
	"$out/rpm/repodata/repomd.xml"

# At the top: this release's files in place of the last one's, their
# checksums signed, the key, and where the repositories are.
if [ -f "$out/SHA256SUMS" ]; then
	(cd "$out" && awk '{ print $2 }' SHA256SUMS | xargs rm -f)
fi
cp dist/* "$out/"
sign --armor --detach-sign --output "$out/SHA256SUMS.asc" "$out/SHA256SUMS"
gpg --batch --export --export-options export-minimal "$@" \
	>"$out/traffic-rate-archive-keyring.pgp"
gpg --batch --armor --export --export-options export-minimal "$@" \
	>"$out/traffic-rate-archive-keyring.asc"
escaped_url=$(printf '%s' "$url" | sed 's/[|&\\]/\\&/g')
for template in traffic-rate.sources traffic-rate.repo; do
	sed "s|@URL@|$escaped_url|g" "packaging/$template.in" >"$out/$template"
done
ls -l "$out"
