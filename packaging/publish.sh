#!/bin/sh
# Publishes the release in dist/, as packaging/release.sh leaves it, into DIR,
# a folder for any static web server to serve at URL: a signed APT repository
# under deb/, with the keyring package traffic-rate-archive-keyring, a signed
# RPM repository under rpm/, with the package traffic-rate-repo that sets dnf
# up, and at the top the release's files with SHA256SUMS and its signature,
# SHA256SUMS.asc, the public keys and the files that tell apt and dnf where
# the repositories are.
#
#   packaging/publish.sh --key FINGERPRINT [--key FINGERPRINT]... [--partial]
#                        [--retire-now] [--new-site] --url URL --out DIR
#
# Each key is given by its full fingerprint, must be listed in KEYS and able
# to sign, in the gpg of the environment (GNUPGHOME).  Every key given signs
# every signature of the repositories, and the first signs the RPMs; all go
# into the published keyring and the keyring packages, which get a new
# version whenever the keys change.  A key of the published keyring leaves
# it only once one of the keys given has been published beside it for 90
# days (keys.log in DIR records when each came); --retire-now drops it at
# once, for a compromised key.
#
# DIR keeps every release published into it, each with its SHA256SUMS signed
# under releases/, and nothing is signed that those do not list.  The first
# publish into DIR needs --new-site, so that a site lost is never started
# again from nothing by mistake.  A release
# dated before the one DIR serves, or after this machine's clock, is refused,
# and so is one that lacks an architecture of cmake/architectures.txt that
# DIR serves, unless --partial is given.  The indexes are made beside DIR and
# swapped in by renames, so that a client reads the old site or the new one
# whenever it comes, and those of the last publishes stay for clients that
# began before.  One publish runs into a DIR at a time.  Any failure stops
# the run with a line that names the step and the file, and running it
# again finishes the job.
set -eu
# What it publishes is for all to read.
umask 022
usage() {
	echo "usage: packaging/publish.sh --key FINGERPRINT [--key FINGERPRINT]..." \
		"[--partial] [--retire-now] [--new-site] --url URL --out DIR" >&2
	exit 2
}
keys='' url='' out='' partial=no retire_now=no new_site=no
while [ $# -gt 0 ]; do
	case $1 in
	--partial) partial=yes && shift && continue ;;
	--retire-now) retire_now=yes && shift && continue ;;
	--new-site) new_site=yes && shift && continue ;;
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

failed=no doing='checking the keys and dist/'
die() {
	echo "publish.sh: $*" >&2
	failed=yes
	exit 1
}
tmp=
trap 'status=$?; [ -z "$tmp" ] || rm -rf "$tmp"
	[ $status -eq 0 ] || [ $failed = yes ] || echo "publish.sh: failed while $doing" \
		"(exit status $status, the cause above); publishing again finishes the job" >&2' EXIT
trap 'exit 130' HUP INT TERM
. packaging/keys.sh
. packaging/keyring.sh
now=$(date +%s)
when() { LC_ALL=C date -u -d "@$1" '+%a, %d %b %Y %H:%M:%S +0000'; }

# Nothing is written before the keys and the release are known good.
listed=$(listed_keys) retired=$(listed_keys retired)
[ -n "$listed" ] || die "KEYS lists no key: add the line of the key that signs, in the source repository"
for key in $keys; do usable_key "$key"; done
keys=$(echo $keys | tr a-f A-F) first=${keys%% *}
ls dist/*.deb dist/*.rpm >/dev/null 2>&1 || die "dist/ holds no .deb or no .rpm: run packaging/release.sh"
(cd dist && sha256sum --check --quiet SHA256SUMS) || die "dist/ does not match dist/SHA256SUMS"
version=$(cd dist && ls traffic_rate-*.tar.gz | grep -v -- -linux- | sed 's/^traffic_rate-\(.*\)\.tar\.gz$/\1/')
[ -n "$version" ] || die "dist/ holds no source release traffic_rate-VERSION.tar.gz"
maintainer=$(cmake -DFIELD=Maintainer -P packaging/changelog.cmake)
# Every date in the repositories' metadata, as in the packages.
if [ -z "${SOURCE_DATE_EPOCH-}" ]; then
	SOURCE_DATE_EPOCH=$(cmake -DFIELD=Timestamp -P packaging/changelog.cmake)
fi
export SOURCE_DATE_EPOCH
[ "$SOURCE_DATE_EPOCH" -le "$now" ] || die "the release is dated $(when "$SOURCE_DATE_EPOCH")," \
	"after this machine's clock, $(when "$now"): clients would refuse it as not valid yet"
# A site is kept where it is published: one started again from nothing
# would drop its history, and with it the keys' overlap.
if [ -e "$out/current" ]; then
	[ $new_site = no ] || die "--new-site, but $out holds a site already"
else
	[ $new_site = yes ] || die "$out holds no site: --new-site starts one; to publish again into a" \
		"site that is on the web server only, copy it back first"
fi
# One publish at a time, its files made beside DIR, on the same file
# system, and moved in whole; a run killed outright leaves them to the next.
doing="making $out and the folder beside it"
mkdir -p "$out"
out=$(cd "$out" && pwd -P)
work=$(dirname "$out")/.$(basename "$out").publish
mkdir -p "$work"
exec 9>>"$work/lock"
flock -n 9 || die "another publish into $out is running ($(cat "$work/owner" 2>/dev/null)): wait for it to end"
echo "publish.sh, process $$ on $(uname -n), since $(when "$now")" >"$work/owner" ||
	die "cannot write $work/owner"
[ "$(stat -c %d "$work")" = "$(stat -c %d "$out")" ] ||
	die "$out is a file system of its own: files made beside it could not be moved in whole; publish into a folder in it"
rm -rf "$work"/tmp.*
tmp=$(mktemp -d "$work/tmp.XXXXXX")
doing="checking what $out serves"
if [ -f "$out/deb/dists/stable/Release" ]; then
	served=$(date -u -d "$(sed -n 's/^Date: //p' "$out/deb/dists/stable/Release")" +%s)
	[ "$SOURCE_DATE_EPOCH" -ge "$served" ] || die "the release is dated $(when "$SOURCE_DATE_EPOCH")," \
		"before the Release that $out serves, $(when "$served"): a site never goes back in time"
fi

architectures() { # the architectures of the packages named, as deb:ARCH or rpm:ARCH
	for package; do
		[ -e "$package" ] || continue
		case $package in
		*_all.deb | *.noarch.rpm) ;;
		*.deb) package=${package%.deb} && echo "deb:${package##*_}" ;;
		*.rpm) package=${package%.rpm} && echo "rpm:${package##*.}" ;;
		esac
	done | sort -u
}
# Those that the table still names and DIR serves must all be in dist/; an
# architecture retired from the table keeps only its earlier releases.
table=$(awk '!/^#/ && NF { print "deb:" $1; print "rpm:" $2 }' cmake/architectures.txt)
missing=$(architectures "$out"/deb/pool/*.deb $(find "$out/rpm" -name '*.rpm' 2>/dev/null) |
	grep -xF "$table" | grep -vxF "$(architectures dist/*.deb dist/*.rpm)" | tr '\n' ' ') || true
[ -z "$missing" ] || [ $partial = yes ] ||
	die "dist/ lacks architectures that $out serves: ${missing% }; --partial publishes it all the same"
mkdir -p "$out/deb/pool" "$out/rpm" "$out/releases"

put() { # FILE, WHERE: FILE moved, or copied when it is not the run's own, whole into WHERE
	doing="writing $2"
	case $1 in
	"$tmp"/*) ;;
	*) ! cmp -s "$1" "$2" || return 0
		cp "$1" "$tmp/put" && set -- "$tmp/put" "$2" ;;
	esac
	touch -d "@$SOURCE_DATE_EPOCH" "$1" && mv "$1" "$2"
}
sign() { # what it signs, by every key
	# shellcheck disable=SC2046 # one option per key
	gpg --batch --yes $(printf -- '--local-user %s ' $keys) --digest-algo SHA512 "$@"
}
content() { rpm -qp --nosignature --qf '%{SHA256HEADER} %{PAYLOADDIGEST}' "$1" 2>/dev/null; }

# A key leaves the published keyring only after the overlap; what is
# signed by the keys that leave now, or that KEYS says are retired, is
# trusted no more.
key_log=$out/keys.log
published_keys=$(keyring_keys "$out/$deb_package.pgp")
leaving=$(printf '%s\n' $published_keys | grep -vxF "$(printf '%s\n' $keys)") || true
for key in $leaving; do may_leave "$key"; done
trusted=$(printf '%s\n' $listed | grep -vxF "$(printf '%s\n' $leaving)") || true
# The first key signs the RPMs, which a dnf machine checks with the keys it
# has: while a key given is published already, the first must be one.
for key in $keys; do
	printf '%s\n' $published_keys | grep -qxF "$first" || ! printf '%s\n' $published_keys | grep -qxF "$key" ||
		die "the first key signs the RPMs, which dnf machines check with the keys they have:" \
			"give $key first, until $first has been published"
done

. packaging/records.sh
check_records

# The keys, and the packages that carry them, made anew when they change.
doing="making the keyring packages in $tmp"
sorted=$(printf '%s\n' $keys | LC_ALL=C sort)
gpg --batch --export --export-options export-minimal $sorted >"$tmp/keyring.pgp"
gpg --batch --armor --export --export-options export-minimal $sorted >"$tmp/keyring.asc"
escaped_url=$(printf '%s' "$url" | sed 's/[|&\\]/\\&/g')
for template in traffic-rate.sources traffic-rate.repo; do
	sed -e "s|@URL@|$escaped_url|g" -e "s|@KEYS@|$rpm_keys|g" "packaging/$template.in" >"$tmp/$template"
done
keyring_deb "$tmp/keyring.pgp"
repo_rpm "$tmp/keyring.asc" "$tmp/traffic-rate.repo"

write_records
publish_packages

# The indexes, made aside and swapped in; then the keys' history, the top,
# and what no index kept uses any more.
. packaging/indexes.sh
dists=dists.$(next_generation "$out/deb/dists") repodata=repodata.$(next_generation "$out/rpm/repodata")
make_dists "$tmp/$dists"
make_repodata "$tmp/$repodata"
doing="moving the new indexes into $out"
mv "$tmp/$dists" "$out/deb/$dists" && mv "$tmp/$repodata" "$out/rpm/$repodata"
point "$out/deb/dists" "$dists"
point "$out/rpm/repodata" "$repodata"
point "$out/rpm/signed" "$first"

# Recorded once published: a key's overlap never starts before it is served.
doing="recording the keys in $key_log"
stamp=$(date -u -d "@$now" +%Y-%m-%dT%H:%M:%SZ)
{
	cat "$key_log" 2>/dev/null || true
	for key in $keys; do
		printf '%s\n' $published_keys | grep -qxF "$key" &&
			awk -v key="$key" '$2 == "added" && $3 == key { found = 1 } END { exit !found }' "$key_log" ||
			echo "$stamp added $key"
	done
	for key in $leaving; do
		echo "$stamp retired$([ $retire_now = no ] || echo -now) $key"
	done
} >"$tmp/keys.log"
put "$tmp/keys.log" "$key_log"

# At the top: this release's files beside the last one's, then its
# SHA256SUMS and signature, kept in releases/VERSION/ and reached through
# the link current, which switches both at once; then the last one's files
# go.  The keys, the repositories' files, and the newest traffic-rate-repo
# under a name of its own, for the README's dnf lines.
last_files=$(awk '{ print $2 }' "$out/SHA256SUMS" 2>/dev/null | grep -vxF "$(ls dist)") || true
for file in dist/*; do
	[ "$file" = dist/SHA256SUMS ] || put "$file" "$out/${file#dist/}"
done
doing="signing $out/releases/$version/SHA256SUMS in $tmp"
sign --armor --detach-sign --output "$tmp/SHA256SUMS.asc" dist/SHA256SUMS
put dist/SHA256SUMS "$out/releases/$version/SHA256SUMS"
put "$tmp/SHA256SUMS.asc" "$out/releases/$version/SHA256SUMS.asc"
point "$out/current" "releases/$version"
for file in SHA256SUMS SHA256SUMS.asc; do
	[ -L "$out/$file" ] || point "$out/$file" "current/$file"
done
put "$tmp/keyring.pgp" "$out/$deb_package.pgp"
put "$tmp/keyring.asc" "$out/$deb_package.asc"
put "$tmp/traffic-rate.sources" "$out/traffic-rate.sources"
put "$tmp/traffic-rate.repo" "$out/traffic-rate.repo"
doing="removing the last release's files from $out"
[ -z "$last_files" ] || (cd "$out" && printf '%s\n' "$last_files" | xargs rm -f)
newest=$(last_version "$rpm_package-@N@-1.noarch.rpm")
put "$out/rpm/$first/$rpm_package-$newest-1.noarch.rpm" "$out/$rpm_package.noarch.rpm"
prune
echo "publish.sh: $version published in $out, signed by $keys"
