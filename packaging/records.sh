# The site's records of what it publishes, kept by packaging/publish.sh,
# which sources this: under releases/, for each release, its SHA256SUMS
# clearsigned, as SHA256SUMS.signed, beside its RPMs as they were before
# signing; under releases/keyring/, the same for the keyring packages.
# Nothing is put in the repositories, or signed, that a record does not
# list, and everything in them comes from an original that a record lists.

# listed RECORD NAME: the SHA-256 that the verified record RECORD lists for
# the file NAME, if any.
listed() {
	awk -v name="$2" '$2 == name || $2 == "*" name { print $1; exit }' "$tmp/records/$1" 2>/dev/null
}
# original RECORD NAME: releases/RECORD/NAME, if it is what the record lists.
original() {
	file=$out/releases/$1/$2 hash=$(listed "$1" "$2")
	[ -n "$hash" ] && [ -f "$file" ] && [ "$(sha256sum <"$file" | cut -d' ' -f1)" = "$hash" ]
}

# check_records: each record verifies with the site's keyring or a key
# given, by a key that signs for KEYS and does not leave now; every package
# of the repositories is one that a record lists, or was signed from an
# original that one lists.  Every fault is named before the run stops.
check_records() {
	doing="checking what $out holds against its signed records"
	{ cat "$out/$deb_package.pgp" 2>/dev/null || true; gpg --batch --export $keys; } >"$tmp/trusted.pgp"
	mkdir "$tmp/records"
	for record in "$out"/releases/*/SHA256SUMS.signed; do
		[ -e "$record" ] || continue
		name=$(basename "$(dirname "$record")")
		signers "$record" "$tmp/records/$name" "$tmp/trusted.pgp" >/dev/null ||
			die "$record is not signed by a key that $out/$deb_package.pgp or a key given holds, that" \
				"KEYS lists as signing and that does not leave now"
	done
	unlisted=
	for package in $(find "$out/deb" "$out/rpm" -name '*.deb' -o -name '*.rpm' | LC_ALL=C sort); do
		name=$(basename "$package") hash=$(sha256sum <"$package" | cut -d' ' -f1) found=
		for record in "$tmp"/records/*; do
			record=$(basename "$record")
			case $package in
			*.deb) [ "$(listed "$record" "$name")" != "$hash" ] || found=yes ;;
			*.rpm) # signed: its header and payload are those of the original
				original "$record" "$name" &&
					[ "$(content "$out/releases/$record/$name")" = "$(content "$package")" ] &&
					rpmkeys -K --nosignature "$package" >/dev/null 2>&1 && found=yes ;;
			esac
			[ -z "$found" ] || break
		done
		[ -n "$found" ] || unlisted="$unlisted $package"
	done
	[ -z "$unlisted" ] || die "$(printf '%s\n' $unlisted | sed '1!s/^/publish.sh: /; s/$/ is listed by no signed record/')
publish.sh: remove each, or publish the release it belongs to"
}

# write_records: the originals, then the records of this release and of
# the keyring packages, each clearsigned again by the keys given.  A run
# stopped in between leaves an original that no record lists, which nothing
# signs and the next run writes again.
write_records() {
	doing="making the records of $out/releases in $tmp"
	[ ! -e "$tmp/records/$version" ] || cmp -s "$tmp/records/$version" dist/SHA256SUMS ||
		die "$out/releases/$version lists other files than dist/SHA256SUMS: a changed release is a new version"
	cp dist/SHA256SUMS "$tmp/records/$version"
	mkdir -p "$out/releases/$version" "$out/releases/keyring"
	for rpm in dist/*.rpm; do
		put "$rpm" "$out/releases/$version/${rpm#dist/}"
	done
	touch "$tmp/records/keyring"
	for new in "$new_deb:keyring.deb" "$new_rpm:repo.rpm"; do
		[ "${new%:*}" ] || continue
		echo "$(sha256sum <"$tmp/${new#*:}" | cut -d' ' -f1)  ${new%:*}" >>"$tmp/records/keyring"
		put "$tmp/${new#*:}" "$out/releases/keyring/${new%:*}"
	done
	for record in "$tmp"/records/*; do
		name=$(basename "$record")
		sign --clearsign --output "$tmp/signed" "$record"
		put "$tmp/signed" "$out/releases/$name/SHA256SUMS.signed"
	done
}

# publish_packages: each .deb of the release, and each keyring package, in
# the pool, where a name keeps its content; and every RPM that a record
# lists, from its original, signed by the first key into a folder of that
# key's, which signs nothing else.
publish_packages() {
	for deb in dist/*.deb $(awk '$2 ~ /\.deb$/ { print "releases/keyring/" $2 }' "$tmp/records/keyring"); do
		case $deb in releases/*) deb=$out/$deb ;; esac
		published=$out/deb/pool/$(basename "$deb")
		if [ ! -e "$published" ]; then
			put "$deb" "$published"
		elif ! cmp -s "$deb" "$published"; then
			die "$published is published with other content than $deb"
		fi
	done
	doing="signing the RPMs of the records into $out/rpm/$first"
	gpg --batch --armor --export --export-options export-minimal "$first" >"$tmp/first.asc"
	rpmkeys --dbpath "$tmp/rpmdb" --import "$tmp/first.asc" || die "rpmkeys cannot import the key $first"
	signed() { rpmkeys --dbpath "$tmp/rpmdb" --checksig "$1" 2>/dev/null | grep -q ': digests signatures OK$'; }
	mkdir -p "$out/rpm/$first"
	: >"$tmp/rpms"
	for record in "$tmp"/records/*; do
		record=$(basename "$record")
		for name in $(awk '$2 ~ /\.rpm$/ { sub(/^\*/, "", $2); print $2 }' "$tmp/records/$record"); do
			original "$record" "$name" || die "$out/releases/$record/$name is missing, or not what its record lists"
			published=$out/rpm/$first/$name
			echo "$first/$name" >>"$tmp/rpms"
			[ ! -e "$published" ] || ! signed "$published" || continue
			doing="signing $published"
			cp "$out/releases/$record/$name" "$tmp/rpm.rpm"
			if ! rpmsign --define "_gpg_name $first" --define "__gpg $(command -v gpg)" \
				--addsign "$tmp/rpm.rpm" >"$tmp/rpmsign.log" 2>&1; then
				cat "$tmp/rpmsign.log" >&2
				die "rpmsign could not sign $published with $first"
			fi
			signed "$tmp/rpm.rpm" || die "rpmsign left $published not signed by $first"
			put "$tmp/rpm.rpm" "$published"
		done
	done
}
