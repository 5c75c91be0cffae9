# The publish stage's runs stopped on purpose, sourced by it: killed at a
# chosen step while a second run is refused, and out of disk space at
# several points; each must leave a whole site and a rerun finish the job.

step "one publish at a time: a second is refused naming the first, which, killed at a chosen step, leaves a whole site"
# Each row: the command that a stand-in holds the first publish at, and
# the arguments it holds it for.
site=$work/site/killed
cp -a "$good" "$site"
while read -r command arguments; do
	stand_in "$command" "$arguments"
	PATH="$work/stand-in:$PATH" "$publish" --key "$A" --url "$url/killed" --out "$site" >"$work/first.log" 2>&1 &
	first=$!
	waiting $first
	refused "another publish into $site is running (publish.sh, process $first on" \
		"$publish" --key "$A" --url "$url/killed" --out "$site"
	kill -9 $first "$(cat "$work/stand-in/waiting")"
	wait $first 2>/dev/null || true
	whole "$site"
	left=$(find "$site" -name '.*')
	[ -z "$left" ] || fail "a killed publish left in the site what it had not finished: $left"
done <<'EOF'
createrepo_c *
ln *repodata.*
EOF
"$publish" --key "$A" --url "$url/killed" --out "$site" || fail "publishing again after a killed publish failed"
whole "$site"

step "a full disk, at several points of a publish with a new key: each names its step and file, and leaves a whole site"
publisher B
disk=$work/disk
mkdir "$disk"
$as_root mount -t tmpfs -o size=32m tmpfs "$disk" || fail "cannot mount a tmpfs at $disk"
cleanup="$cleanup; $as_root umount '$disk'"
cp -a "$good" "$disk/site"
for left in 4 64 512; do
	rm -f "$disk/filler"
	available=$(df --output=avail -k "$disk" | tail -1)
	fallocate -l $(((available - left) * 1024)) "$disk/filler" || fail "cannot fill $disk"
	refused "publish.sh: .* $disk/" "$publish" --key "$A" --key "$B" --url "$url/disk" --out "$disk/site"
	rm "$disk/filler"
	whole "$disk/site"
done
"$publish" --key "$A" --key "$B" --url "$url/disk" --out "$disk/site" ||
	fail "publishing again, with space on $disk, failed"
whole "$disk/site"
signers=$(gpgv --status-fd 1 --keyring "$disk/site/traffic-rate-archive-keyring.pgp" \
	"$disk/site/deb/dists/stable/InRelease" 2>/dev/null | awk '$2 == "VALIDSIG" { print $NF }' | sort)
expect "the keys that signed $disk/site's InRelease" "$signers" "$(printf '%s\n' "$A" "$B" | sort)"
