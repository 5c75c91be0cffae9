# The packages that carry the keys to users' machines, made by
# packaging/publish.sh, which sources this: traffic-rate-archive-keyring, a
# .deb for apt, and traffic-rate-repo, a noarch RPM that sets dnf up with
# the keys as files of its own.  Each gets a new version only when what it
# holds changes, and is the same bytes for the same keys, whatever their
# order or the umask.

deb_package=traffic-rate-archive-keyring
rpm_package=traffic-rate-repo
rpm_keys=/etc/pki/rpm-gpg/RPM-GPG-KEY-traffic-rate

# last_version NAME-PATTERN: the highest version N among the keyring
# packages that the site's verified record lists, named PATTERN with N for @N@.
last_version() {
	awk '{ sub(/^\*/, "", $2); print $2 }' "$tmp/records/keyring" 2>/dev/null |
		sed -n "s/^$(echo "$1" | sed 's/@N@/\\([0-9]*\\)/')\$/\\1/p" | sort -n | tail -1
}

# entry_date LAST_DEB: the keyring package's changelog date: the release's,
# or a second after the last entry's where that is not earlier, as every
# entry needs a newer date than the one before.
entry_date() {
	date=$SOURCE_DATE_EPOCH
	if [ -n "$1" ]; then
		dpkg-deb --fsys-tarfile "$1" | tar -xOf - "./usr/share/doc/$deb_package/changelog.gz" |
			gzip -d >"$tmp/last.changelog"
		last=$(dpkg-parsechangelog -l "$tmp/last.changelog" -STimestamp)
		[ "$date" -gt "$last" ] || date=$((last + 1))
	fi
	echo "$date"
}


# keyring_deb KEYRING.PGP: a new version of the .deb in $tmp/keyring.deb,
# named by $new_deb, if KEYRING.PGP differs from the last one's keys.
keyring_deb() {
	new_deb=
	last=$(last_version "${deb_package}_@N@_all.deb")
	last_deb=${last:+$out/releases/keyring/${deb_package}_${last}_all.deb}
	if [ -n "$last" ]; then
		original keyring "$(basename "$last_deb")" || die "$last_deb is missing, or not what its record lists"
		dpkg-deb --fsys-tarfile "$last_deb" | tar -xOf - "./usr/share/keyrings/$deb_package.pgp" \
			>"$tmp/last.pgp" || die "$last_deb holds no $deb_package.pgp"
		! cmp -s "$1" "$tmp/last.pgp" || return 0
	fi
	package_version=$((${last:-0} + 1))
	root=$tmp/$deb_package doc=$tmp/$deb_package/usr/share/doc/$deb_package
	rm -rf "$root"
	mkdir -p "$root/DEBIAN" "$root/usr/share/keyrings" "$doc"
	cp "$1" "$root/usr/share/keyrings/$deb_package.pgp"
	cp packaging/copyright "$doc/copyright"
	{
		printf '%s (%s) stable; urgency=medium\n\n' "$deb_package" "$package_version"
		printf '%s\n' $keys | LC_ALL=C sort | sed 's/.*/  * Key &./'
		for key in $leaving; do
			if [ $retire_now = yes ]; then
				printf '  * Key %s retired at once,\n    without the usual overlap (--retire-now).\n' "$key"
			else
				printf "  * Key %s retired,\\n    after its successor's overlap.\\n" "$key"
			fi
		done
		printf '\n -- %s  %s\n' "$maintainer" "$(date -R -u -d "@$(entry_date "$last_deb")")"
		[ -z "$last" ] || { echo && cat "$tmp/last.changelog"; }
	} | gzip -9n >"$doc/changelog.gz"
	cat >"$root/DEBIAN/control" <<-EOF
		Package: $deb_package
		Version: $package_version
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
	packaging/normalise.sh "$root"
	dpkg-deb --root-owner-group --build "$root" "$tmp/keyring.deb" >/dev/null
	new_deb=${deb_package}_${package_version}_all.deb
}

# repo_rpm KEYRING.ASC REPO: a new version of the RPM, unsigned, in
# $tmp/repo.rpm, named by $new_rpm, if the keys or the .repo file differ
# from the last one's.
repo_rpm() {
	new_rpm=
	last=$(last_version "$rpm_package-@N@-1.noarch.rpm")
	if [ -n "$last" ]; then
		original keyring "$rpm_package-$last-1.noarch.rpm" ||
			die "$out/releases/keyring/$rpm_package-$last-1.noarch.rpm is missing, or not what its record lists"
		[ "$(rpm -qp --nosignature --qf '[%{FILEDIGESTS}\n]' \
			"$out/releases/keyring/$rpm_package-$last-1.noarch.rpm" 2>/dev/null)" != \
			"$(sha256sum "$1" "$2" | cut -d' ' -f1)" ] || return 0
	fi
	package_version=$((${last:-0} + 1))
	rm -rf "$tmp/rpmbuild"
	mkdir -p "$tmp/rpmbuild/SOURCES"
	cp "$1" "$tmp/rpmbuild/SOURCES/keys.asc" && cp "$2" "$tmp/rpmbuild/SOURCES/traffic-rate.repo"
	cat >"$tmp/rpmbuild/traffic-rate-repo.rpmspec" <<-EOF
		Name: $rpm_package
		Version: $package_version
		Release: 1
		Summary: traffic_rate's RPM repository, with the keys it is signed with
		License: MIT
		BuildArch: noarch
		%description
		Sets dnf up for traffic_rate's RPM repository, with the OpenPGP keys that
		it is signed with as files of this package, so that dnf trusts those keys
		alone and a renewed or a new key reaches the machine with dnf upgrade.
		%install
		install -D -m 0644 %{_sourcedir}/traffic-rate.repo %{buildroot}/etc/yum.repos.d/traffic-rate.repo
		install -D -m 0644 %{_sourcedir}/keys.asc %{buildroot}$rpm_keys
		%files
		%config(noreplace) /etc/yum.repos.d/traffic-rate.repo
		$rpm_keys
	EOF
	packaging/normalise.sh "$tmp/rpmbuild"
	rpmbuild -bb --quiet --define "_topdir $tmp/rpmbuild" --define '_buildhost reproducible' \
		--define 'use_source_date_epoch_as_buildtime 1' --define 'clamp_mtime_to_source_date_epoch 1' \
		--define '__spec_install_post %{nil}' --define '_build_id_links none' \
		--define 'packager %{nil}' "$tmp/rpmbuild/traffic-rate-repo.rpmspec" >"$tmp/rpmbuild.log" 2>&1 ||
		{ cat "$tmp/rpmbuild.log" >&2 && die "rpmbuild could not make $rpm_package $package_version"; }
	mv "$tmp/rpmbuild/RPMS/noarch/$rpm_package-$package_version-1.noarch.rpm" "$tmp/repo.rpm"
	new_rpm=$rpm_package-$package_version-1.noarch.rpm
}
