# What the stages that publish and fetch sites share, sourced by lib.sh:
# throwaway keys and a clone that lists them, a server that can hold a
# client, a stand-in that holds a run at a step, and the checks of a whole
# site and of signed RPMs.

# serve SITE PORT: serves the folder SITE at 127.0.0.1:PORT until the stage
# ends, when its cleanup stops the server and the gpg agents; while
# $work/hold holds a regular expression, the requests whose path matches it
# wait until that file is gone, each path first added to $work/held.
serve() {
	python3 "$here/serve.py" "$1" "$2" "$work/hold" "$work/held" >"$work/http.log" 2>&1 &
	server=$!
	cleanup='kill $server; gpg_kill'
	sleep 1
	kill -0 $server 2>/dev/null || fail "cannot serve $1 at 127.0.0.1:$2: $(cat "$work/http.log")"
}

# gpg_kill: ends the gpg agents of every gpg home under this stage's folder.
gpg_kill() {
	find "$work" -name pubring.kbx 2>/dev/null | while read -r keyring; do
		gpgconf --homedir "$(dirname "$keyring")" --kill all 2>/dev/null || true
	done
}

# signed_by KEYS RPM...: each RPM signed by one of KEYS, an armoured keyring,
# as rpm checks it.
signed_by() {
	keys=$1
	shift
	rm -rf "$work/rpmdb"
	rpmkeys --dbpath "$work/rpmdb" --import "$keys" || fail "rpmkeys cannot import $keys"
	for rpm; do
		rpmkeys --dbpath "$work/rpmdb" --checksig "$rpm" | grep -q ': digests signatures OK$' ||
			fail "$rpm is not signed by a key of $keys"
	done
}

# publisher NAME...: throwaway keys, one for each NAME, of the kind a
# maintainer's should be, in GNUPGHOME, each set as the variable NAME to its
# fingerprint and listed in the KEYS of $work/tree, a clone of this commit
# with this dist/, from which the stage publishes.
publisher() {
	GNUPGHOME=$work/gnupg
	export GNUPGHOME
	mkdir -p -m 0700 "$GNUPGHOME"
	if [ ! -d "$work/tree" ]; then
		git clone -q . "$work/tree" && ln -s "$PWD/dist" "$work/tree/dist"
	fi
	for name; do
		gpg --batch --quiet --pinentry-mode loopback --passphrase '' \
			--quick-gen-key "traffic_rate CI $name <ci@traffic-rate.invalid>" ed25519 sign 1d
		eval "$name=$(gpg --batch --with-colons --list-keys "traffic_rate CI $name <" |
			awk -F: '$1 == "fpr" { print $10; exit }')"
		eval "echo \"\$$name CI's throwaway key $name\"" >>"$work/tree/KEYS"
	done
}

# verifies KEYRING SIGNATURE [FILE]: SIGNATURE holds a good signature by a
# key of KEYRING, and no bad one, as apt and dnf take a file signed by
# several keys, some of which they may not know.
verifies() {
	verified=$(gpgv --status-fd 1 --keyring "$1" "$2" ${3:+"$3"} 2>/dev/null || true)
	printf '%s\n' "$verified" | grep -q '^\[GNUPG:\] VALIDSIG ' &&
		! printf '%s\n' "$verified" | grep -q '^\[GNUPG:\] BADSIG '
}

# whole SITE [KEYRING]: what apt and dnf fetch from SITE verifies, with
# KEYRING or the site's own: InRelease, every index that the Release lists,
# repomd.xml and every file that it names, SHA256SUMS and the files at the
# top, and the records of releases/.
whole() {
	keyring=${2:-$1/traffic-rate-archive-keyring.pgp}
	for signed in "$1"/deb/dists/stable/InRelease "$1"/releases/*/SHA256SUMS.signed; do
		verifies "$keyring" "$signed" || fail "gpgv with $keyring refuses $signed"
	done
	for signature in deb/dists/stable/Release.gpg rpm/repodata/repomd.xml.asc SHA256SUMS.asc; do
		verifies "$keyring" "$1/$signature" "$1/${signature%.*}" ||
			fail "gpgv with $keyring refuses $1/$signature"
	done
	(cd "$1/deb/dists/stable" && sed -n '/^SHA256:/,/^[^ ]/s/^ \([0-9a-f]*\) *[0-9]* \(.*\)/\1  \2/p' Release |
		sha256sum --check --quiet) || fail "$1/deb/dists/stable/Release does not match its indexes"
	for file in $(sed -n 's/.*<location href="\([^"]*\)".*/\1/p' "$1/rpm/repodata/repomd.xml"); do
		[ -f "$1/rpm/$file" ] || fail "$1/rpm/repodata/repomd.xml names $file, which $1/rpm lacks"
	done
	(cd "$1" && sha256sum --check --quiet SHA256SUMS) || fail "$1/SHA256SUMS does not match"
}

# stand_in COMMAND PATTERN: a COMMAND first in PATH (in $work/stand-in)
# that, when its arguments match PATTERN, says so in $work/stand-in/waiting
# with its process and waits for $work/stand-in/go before it runs the real
# one: a run stopped there is stopped at that step, however fast the machine.
stand_in() {
	mkdir -p "$work/stand-in"
	rm -f "$work/stand-in/waiting" "$work/stand-in/go"
	cat >"$work/stand-in/$1" <<-EOF
		#!/bin/sh
		case "\$*" in $2)
			echo \$\$ >"$work/stand-in/waiting"
			until [ -e "$work/stand-in/go" ]; do sleep 0.1; done ;;
		esac
		PATH=${PATH}
		exec $1 "\$@"
	EOF
	chmod +x "$work/stand-in/$1"
}
# waiting PID: waits until a stand-in waits, and fails if the process PID,
# which should reach it, ends first.
waiting() {
	until [ -s "$work/stand-in/waiting" ]; do
		kill -0 "$1" 2>/dev/null || fail "process $1 ended before it reached the stand-in's step"
		sleep 0.1
	done
}

