# The keys of packaging/publish.sh, sourced by it: which keys KEYS lists,
# whether a key can sign, which keys signed a file, and whether a key may
# leave the published keyring.  Each check ends the run through die, with a
# line that names the key and the reason.

# How long a key stays published beside its successor before it may leave:
# long enough for a machine that updates now and then to learn the new one.
overlap_days=90

# listed_keys [retired]: the fingerprints of the keys that KEYS lists as
# signing, one a line, or with retired those whose line says "retired"; a
# line that is not a comment and does not begin with a full fingerprint is
# an error.
listed_keys() {
	awk -v want="${1:-signing}" '/^[[:space:]]*(#|$)/ { next }
		$1 !~ /^[0-9A-Fa-f]+$/ || length($1) != 40 {
			printf "publish.sh: KEYS:%d: not a full fingerprint: %s\n", NR, $1 > "/dev/stderr"
			bad = 1; next
		}
		((want == "retired") == ($0 ~ /(^|[^[:alnum:]])retired([^[:alnum:]]|$)/)) { print toupper($1) }
		END { exit bad }' KEYS || die "KEYS lists a key by other than its full fingerprint"
}

# usable_key FINGERPRINT: the key is in gpg, alone, listed in KEYS, neither
# expired nor revoked, has a signing key and its secret, and signs.
usable_key() {
	info=$(gpg --batch --with-colons --list-keys -- "$1" 2>/dev/null) || info=
	[ "$(printf '%s\n' "$info" | awk -F: '$1 == "pub" { n++ } $1 == "fpr" && !f { f = $10 }
		END { if (n == 1) print f }')" = "$(echo "$1" | tr a-f A-F)" ] ||
		die "no key $1 in ${GNUPGHOME:-~/.gnupg}: give each --key as one key's full fingerprint"
	! printf '%s\n' "$retired" | grep -qxiF "$1" ||
		die "the key $1 is retired, as its line in KEYS says: it signs no more"
	printf '%s\n' "$listed" | grep -qxiF "$1" ||
		die "the key $1 is not listed in KEYS: add its line there, in the source repository, first"
	case $(printf '%s\n' "$info" | awk -F: '$1 == "pub" { print $2 }') in
	r) die "the key $1 cannot sign: it is revoked" ;;
	e) die "the key $1 cannot sign: it has expired (gpg --quick-set-expire renews it)" ;;
	esac
	case $(printf '%s\n' "$info" | awk -F: '$1 == "pub" { print $12 }') in
	*S*) ;;
	*) die "the key $1 cannot sign: it has no signing key that is neither expired nor revoked" ;;
	esac
	expires=$(printf '%s\n' "$info" | awk -F: '$1 == "pub" { print $7 }')
	[ -z "$expires" ] || [ "$expires" -gt $((now + overlap_days * 86400)) ] ||
		echo "publish.sh: warning: the key $1 expires on $(when "$expires"): renew it" \
			"(gpg --quick-set-expire $1 2y) and publish again, well before then" >&2
	gpg --batch --list-secret-keys -- "$1" >/dev/null 2>&1 ||
		die "the key $1 cannot sign: ${GNUPGHOME:-~/.gnupg} has not its secret key"
	said=$(echo test | gpg --batch --local-user "$1" --sign 2>&1 >/dev/null) ||
		die "the key $1 cannot sign: gpg says: $(printf '%s\n' "$said" | tail -1)"
}

# signers SIGNED OUT KEYRING: the keys of $trusted whose good signature of
# the clearsigned file SIGNED gpgv finds with KEYRING, one a line, with what
# they signed in OUT; none, or a bad signature, makes it fail.
signers() {
	gpgv --keyring "$3" --status-fd 1 --output "$2" "$1" 2>/dev/null >"$tmp/gpgv.status" || true
	! grep -q '^\[GNUPG:\] BADSIG ' "$tmp/gpgv.status" || return 1
	awk '$2 == "VALIDSIG" { print $NF }' "$tmp/gpgv.status" | grep -xF "$trusted"
}

# keyring_keys KEYRING: the fingerprints of the keys in KEYRING.
keyring_keys() {
	[ ! -s "$1" ] || gpg --batch --with-colons --show-keys "$1" |
		awk -F: '$1 == "pub" { want = 1 } $1 == "fpr" && want { print $10; want = 0 }'
}

# since KEY: when the site's record says KEY was last added to the published
# keyring, in seconds since the epoch; now for a key it does not record.
since() {
	at=$(awk -v key="$1" '$2 == "added" && $3 == key { at = $1 } END { print at }' "$key_log" 2>/dev/null || true)
	if [ -n "$at" ]; then date -u -d "$at" +%s; else echo "$now"; fi
}

# may_leave KEY: KEY, in the published keyring, may be left out of the keys
# given: one of them has been published beside it for the overlap, or
# --retire-now was given.
may_leave() {
	[ $retire_now = no ] || return 0
	wait=
	for other in $keys; do
		printf '%s\n' "$published_keys" | grep -qxF "$other" || continue
		from=$(since "$1") && other_from=$(since "$other")
		[ "$other_from" -le "$from" ] || from=$other_from
		until=$((from + overlap_days * 86400))
		[ "$now" -lt "$until" ] || return 0
		[ -n "$wait" ] && [ "$wait" -le "$until" ] || wait=$until
	done
	[ -n "$wait" ] || die "the key $1 would leave the keyring with none of the keys given published" \
		"beside it: publish with $1 and its successor for $overlap_days days first; --retire-now" \
		"drops it at once, for a compromised key"
	die "the key $1 would leave the keyring before its successor has been published beside it for" \
		"$overlap_days days, which is on $(date -u -d "@$wait" '+%Y-%m-%d %H:%M UTC'); until then" \
		"publish with both; --retire-now drops it at once, for a compromised key"
}
