# The publish stage's newer version, sourced by it: the same tree a version
# later, built for fewer architectures, published over the release, for the
# repositories stage to upgrade to.

step "a newer version, the same tree a version later, published over the release in site/newer"
git clone -q . "$work/newer"
(
	cd "$work/newer"
	{
		printf 'traffic-rate (%s.1) unstable; urgency=medium\n\n' "$version"
		printf '  * A newer version, to test upgrades.\n\n'
		grep -m1 '^ -- ' packaging/changelog
		echo
		cat packaging/changelog
	} >changelog && mv changelog packaging/changelog
	git -c user.name=CI -c user.email=ci@traffic-rate.invalid commit -qam "Version $version.1"
	# In the roots that the release kept.
	# shellcheck disable=SC2086 # one word per architecture
	$as_root env TRAFFIC_RATE_ROOTS="$release_roots" packaging/release.sh --no-tests $architectures \
		>"$work/newer.log" 2>&1
) || { cat "$work/newer.log"; fail "the newer version $version.1 did not build"; }
cp "$work/tree/KEYS" "$work/newer/KEYS"
newer=$work/site/newer
cp -a "$good" "$newer"
cp -a "$good" "$newer-partial"
# Built for fewer architectures, it is refused, but with --partial, or once
# the table names only those.
refused "publish.sh: dist/ lacks architectures that $newer serves:" \
	"$work/newer/packaging/publish.sh" --key "$A" --url "$url/newer" --out "$newer"
"$work/newer/packaging/publish.sh" --partial --key "$A" --url "$url/newer" --out "$newer-partial" ||
	fail "publishing $version.1 over $version with --partial failed"
awk -v built="$architectures" 'BEGIN { split(built, a, " "); for (i in a) keep[a[i]] = 1 }
	/^#/ || !NF || ($1 in keep)' cmake/architectures.txt >"$work/newer/cmake/architectures.txt"
"$work/newer/packaging/publish.sh" --key "$A" --url "$url/newer" --out "$newer" ||
	fail "publishing $version.1 over $version, the other architectures retired from the table, failed"
for published in "traffic-rate_${version}_$host.deb" "traffic-rate_$version.1_$host.deb"; do
	[ -f "$newer/deb/pool/$published" ] || fail "$newer lacks $published"
done
expect "the keyring packages in $newer, the key unchanged" \
	"$(cd "$newer/deb/pool" && ls traffic-rate-archive-keyring_*)" traffic-rate-archive-keyring_1_all.deb
