# The repositories' indexes, made by packaging/publish.sh, which sources
# this.  Each publish makes them whole in a folder of its own,
# deb/dists.N and rpm/repodata.N, and then points deb/dists and rpm/repodata
# at them by renaming a symbolic link over the last, which is atomic: a
# client reads the old indexes or the new ones, never half of each.  The
# index files that the last $keep publishes served stay in the new folder,
# under by-hash/ for apt and by their unique names for dnf, so that a
# client that read the old InRelease or repomd.xml still finds them.

keep=3

# generations PREFIX: the folders PREFIX.N, newest first.
generations() {
	ls -d "$1".[0-9]* 2>/dev/null | awk -F. '{ print $NF " " $0 }' | sort -rn | cut -d' ' -f2-
}
# next_generation PREFIX: the N of the next PREFIX.N.
next_generation() {
	last=$(generations "$1" | head -1)
	echo $((${last:+${last##*.}} + 1))
}

# make_dists FOLDER: the APT indexes of deb/pool in FOLDER, one suite,
# stable, one component, main, with the Release signed inline and apart.
# The Release lists MD5 and SHA-256 sums, as Debian's own do, so that apt
# asks for the indexes by their SHA-256, which by-hash/ holds.
make_dists() {
	doing="making $out/deb/$(basename "$1")"
	architectures=$(cd "$out/deb" && architectures pool/*.deb | sed 's/^deb://' | tr '\n' ' ')
	for arch in $architectures; do
		index=$1/stable/main/binary-$arch
		mkdir -p "$index/by-hash/SHA256"
		(cd "$out/deb" && apt-ftparchive --arch "$arch" packages pool) >"$index/Packages"
		gzip -9nk "$index/Packages"
		for old in "$index/Packages" "$index/Packages.gz" $(generations "$out/deb/dists" | head -$keep |
			sed "s|\$|/stable/main/binary-$arch/Packages|; p; s|\$|.gz|"); do
			[ ! -f "$old" ] || cp "$old" "$index/by-hash/SHA256/$(sha256sum <"$old" | cut -d' ' -f1)"
		done
	done
	apt-ftparchive \
		-o APT::FTPArchive::Release::Origin=traffic_rate \
		-o APT::FTPArchive::Release::Label=traffic_rate \
		-o APT::FTPArchive::Release::Suite=stable \
		-o APT::FTPArchive::Release::Codename=stable \
		-o APT::FTPArchive::Release::Architectures="${architectures% }" \
		-o APT::FTPArchive::Release::Components=main \
		-o APT::FTPArchive::Release::Acquire-By-Hash=yes \
		-o APT::FTPArchive::Release::SHA1=false -o APT::FTPArchive::Release::SHA512=false \
		-o APT::FTPArchive::Release::Description="traffic_rate's releases" \
		-o APT::FTPArchive::Release::Date="$(when "$SOURCE_DATE_EPOCH")" \
		release "$1/stable" >"$tmp/Release"
	mv "$tmp/Release" "$1/stable/Release"
	sign --clearsign --output "$1/stable/InRelease" "$1/stable/Release"
	sign --armor --detach-sign --output "$1/stable/Release.gpg" "$1/stable/Release"
}

# metadata REPODATA: the files that REPODATA's repomd.xml names, one a line.
metadata() {
	sed -n 's|.*<location href="repodata/\([^"]*\)".*|\1|p' "$1/repomd.xml"
}

# make_repodata FOLDER: the RPM metadata of the RPMs listed in $tmp/rpms,
# in FOLDER, with repomd.xml signed apart.
make_repodata() {
	doing="making $out/rpm/$(basename "$1")"
	mkdir "$tmp/createrepo"
	# gzip, as every dnf reads, whatever createrepo_c's own default.
	createrepo_c --quiet --no-database --general-compress-type=gz --pkglist "$tmp/rpms" \
		--outputdir "$tmp/createrepo" --revision "$SOURCE_DATE_EPOCH" --set-timestamp-to-revision "$out/rpm"
	mv "$tmp/createrepo/repodata" "$1"
	for old in $(generations "$out/rpm/repodata" | head -$keep); do
		for file in $(metadata "$old"); do
			[ -e "$1/$file" ] || cp "$old/$file" "$1/"
		done
	done
	sign --armor --detach-sign --output "$1/repomd.xml.asc" "$1/repomd.xml"
}

# point LINK TARGET: the symbolic link LINK made to point at TARGET, a name
# beside it, in one rename; a folder of an older site is moved aside first.
point() {
	doing="pointing $1 at $2"
	if [ -d "$1" ] && [ ! -L "$1" ]; then
		mv "$1" "$1.0"
	fi
	ln -sfn "$2" "$tmp/link" && mv -T "$tmp/link" "$1"
}

# prune: the index folders older than the last $keep publishes', and the
# signed RPMs of keys that no index kept names.
prune() {
	doing="removing what the last $keep publishes no longer use from $out"
	for prefix in "$out/deb/dists" "$out/rpm/repodata"; do
		generations "$prefix" | tail -n +$((keep + 2)) | xargs -r rm -rf
	done
	used=$(for repodata in $(generations "$out/rpm/repodata"); do
		gzip -dc "$repodata/$(metadata "$repodata" | grep -- '-primary\.xml\.gz$')"
	done | sed -n 's|.*<location href="\([^/]*\)/.*|\1|p' | sort -u)
	[ -n "$used" ] || die "no primary.xml of $out/rpm/repodata.* names a package: nothing is removed"
	for folder in "$out"/rpm/*/; do
		folder=${folder%/} && name=$(basename "$folder")
		case $name in repodata* | signed) continue ;; esac
		printf '%s\n' "$used" | grep -qxF "$name" || rm -rf "$folder"
	done
}
