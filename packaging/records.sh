# The site's records of what it publishes, kept by packaging/publish.sh,
# which sources this: under releases/, for each release, its SHA256SUMS
# clearsigned, as SHA256SUMS.signed, beside its RPMs as they were before
# signing; and the same for the keyring packages under releases/keyring/.
# Nothing is put in the repositories, or signed, that a record does not list.

# check_records: each record verifies with the site's keyring or a key
# given, by a key of KEYS, and lists every package of the repositories;
# every fault is named before the run stops.
check_records() {
	doing="checking what $out holds against its signed records"
	published_keys=$(keyring_keys "$out/$deb_package.pgp")
	{ cat "$out/$deb_package.pgp" 2>/dev/null || true; gpg --batch --export $keys; } >"$tmp/trusted.pgp"
	mkdir "$tmp/records"
	for record in "$out"/releases/*/SHA256SUMS.signed; do
		[ -e "$record" ] || continue
		name=$(basename "$(dirname "$record")")
		signers "$record" "$tmp/records/$name" "$tmp/trusted.pgp" >/dev/null ||
			die "$record is not signed by a key of KEYS that $out/$deb_package.pgp or a key given holds"
	done
	unlisted=
	for package in $(find "$out/deb" "$out/rpm" -name '*.deb' -o -name '*.rpm' | LC_ALL=C sort); do
		name=$(basename "$package") hash=$(sha256sum <"$package" | cut -d' ' -f1)
		case $package in
		*.deb) record=$(grep -lx "$hash [ *]$name" "$tmp/records"/* 2>/dev/null | head -1) ;;
		*.rpm) # signed: its header and payload are those of the unsigned RPM listed
			record=
			for original in "$out"/releases/*/"$name"; do
				[ -e "$original" ] && [ "$(content "$original")" = "$(content "$package")" ] &&
					rpmkeys -K --nosignature "$package" >/dev/null 2>&1 || continue
				hash=$(sha256sum <"$original" | cut -d' ' -f1)
				record=$(grep -lx "$hash [ *]$name" "$tmp/records/$(basename "$(dirname "$original")")" \
					2>/dev/null) && break
			done ;;
		esac
		[ -n "$record" ] || unlisted="$unlisted $package"
	done
	[ -z "$unlisted" ] || die "$(printf '%s\n' $unlisted | sed '1!s/^/publish.sh: /; s/$/ is listed by no signed record/')
publish.sh: remove each, or publish the release it belongs to"
}

# write_records: the records of this release and of the keyring packages,
# each clearsigned again by the keys given.
write_records() {
	doing="making the records of $out/releases in $tmp"
	[ ! -e "$tmp/records/$version" ] || cmp -s "$tmp/records/$version" dist/SHA256SUMS ||
		die "$out/releases/$version lists other files than dist/SHA256SUMS: a changed release is a new version"
	cp dist/SHA256SUMS "$tmp/records/$version"
	mkdir -p "$out/releases/$version" "$out/releases/keyring"
	for rpm in dist/*.rpm; do
		[ -e "$out/releases/$version/${rpm#dist/}" ] || put "$rpm" "$out/releases/$version/${rpm#dist/}"
	done
	touch "$tmp/records/keyring"
	[ -z "$new_rpm" ] || put "$tmp/repo.rpm" "$out/releases/keyring/$new_rpm"
	[ -z "$new_deb" ] || cp "$tmp/keyring.deb" "$out/releases/keyring/$new_deb"
	for name in $new_deb $new_rpm; do
		echo "$(sha256sum <"$out/releases/keyring/$name" | cut -d' ' -f1)  $name" >>"$tmp/records/keyring"
	done
	for record in "$tmp"/records/*; do
		name=$(basename "$record")
		sign --clearsign --output "$tmp/signed" "$record"
		put "$tmp/signed" "$out/releases/$name/SHA256SUMS.signed"
	done
	[ -z "$new_deb" ] || put "$tmp/keyring.deb" "$out/deb/pool/$new_deb"
}

# publish_packages: each .deb of the release added to the pool, where a name
# keeps its content; and every RPM that the records list, signed by the
# first key into a folder of that key's, which signs nothing else.
publish_packages() {
	for deb in dist/*.deb; do
		published=$out/deb/pool/${deb#dist/}
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
	for original in "$out"/releases/*/*.rpm; do
		name=$(basename "$original") published=$out/rpm/$first/$(basename "$original")
		echo "$first/$name" >>"$tmp/rpms"
		[ ! -e "$published" ] || ! signed "$published" || continue
		doing="signing $published"
		cp "$original" "$tmp/rpm.rpm"
		if ! rpmsign --define "_gpg_name $first" --define "__gpg $(command -v gpg)" \
			--addsign "$tmp/rpm.rpm" >"$tmp/rpmsign.log" 2>&1; then
			cat "$tmp/rpmsign.log" >&2
			die "rpmsign could not sign $published with $first"
		fi
		signed "$tmp/rpm.rpm" || die "rpmsign left $published not signed by $first"
		put "$tmp/rpm.rpm" "$published"
	done
}
