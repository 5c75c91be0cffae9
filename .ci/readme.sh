# The READMEs' blocks, for the stages; sourced by lib.sh.

# readme_block FILE HEADING [N]: the Nth sh block (the first unless N is
# given) under the heading HEADING, of any level, before the next heading.  A
# line in a block is never a heading.  None, or an empty one, fails.
readme_block() {
	block=$(awk -v heading="$2" -v n="${3:-1}" '
		/^```/ {
			if (fenced) { if (inside) exit; fenced = 0; next }
			fenced = 1
			inside = under && $0 == "```sh" && ++count == n
			next
		}
		fenced { if (inside) print; next }
		/^#+ / { sub(/^#+ /, ""); under = $0 == heading; count = 0 }' "$1")
	[ -n "$block" ] || fail "$1 has no sh block ${3:-1}, or an empty one, under the heading '$2'"
	printf '%s\n' "$block"
}
# quick_start FILE HEADING: its two commands, one a line.
quick_start() {
	commands=$(readme_block "$1" "$2")
	[ "$(printf '%s\n' "$commands" | wc -l)" -eq 2 ] ||
		fail "$1's Quick start ('$2') is not two commands: $commands"
	printf '%s\n' "$commands"
}
# run_quick_start [--as-written] N WHERE RUN...: README.md's Nth Quick start
# command, given to RUN as one argument: the first must end by printing the
# rate line, the second must pass every test.  Each begins by installing
# Debian's packages on a new machine, which the readme stage runs as written
# (--as-written); elsewhere it runs from its first cmake.
run_quick_start() {
	as_written=no
	[ "$1" != --as-written ] || { as_written=yes; shift; }
	line=$1 where=$2
	shift 2
	commands=$(quick_start README.md "Quick start")
	command=$(printf '%s\n' "$commands" | sed -n "${line}p")
	if [ $as_written = no ]; then
		command=$(printf '%s\n' "$command" | sed 's/^.*apt-get install [^&]*&& cmake -B /cmake -B /')
		case $command in "cmake -B "*) ;; *)
			fail "README.md's Quick start command $line does not run 'cmake -B' after its apt-get install: $command" ;;
		esac
	fi
	echo "$command"
	if [ "$line" -eq 2 ]; then
		no_skips "$@" "$command" </dev/null
		return
	fi
	output=$("$@" "$command" </dev/null) || fail "the Quick start's first command failed $where: $command"
	printf '%s\n' "$output"
	expect "the last line of the Quick start's first command $where" \
		"$(printf '%s\n' "$output" | tail -1)" "$rate_line"
}

# readme_apt ROOT URL [UMASK]: README.md's "Install with apt" commands in
# ROOT, a clean Debian root, for the repositories published at URL, from
# /tmp, under UMASK (a hardened server's 077, say) or 022.
readme_apt() {
	commands=$(readme_block README.md "Install with apt" | sed "s|^url=.*|url=$2|")
	in_root "$1" sh -ex -c "umask ${3:-022} && cd /tmp && $commands" ||
		fail "README.md's 'Install with apt' failed in $1 under umask ${3:-022}"
}
# readme_dnf URL: README.md's "Install with dnf" commands in dnf_root, an
# empty folder, for the repositories published at URL; dnf_in_root runs dnf
# there.  Yes to every question, and a repository that cannot be had is an
# error, not a warning; the repository's own file asks for both signatures.
readme_dnf() {
	mkdir -p "$dnf_root/etc/dnf" "$dnf_root/etc/yum.repos.d"
	printf '[main]\nassumeyes=True\nskip_if_unavailable=False\n' >"$dnf_root/etc/dnf/dnf.conf"
	commands=$(readme_block README.md "Install with dnf")
	printf '%s\n' "$commands" | sed -e "s|^url=.*|url=$1|" -e 's/sudo dnf /dnf_in_root /g' \
		-e "s| /etc/| $dnf_root/etc/|g" >"$work/dnf.sh"
	cat "$work/dnf.sh"
	(cd "$work" && . "$work/dnf.sh") || fail "README.md's 'Install with dnf' failed in $dnf_root"
}
# dnf reads a key of a .repo's gpgkey=file:///etc/... on this machine, not
# in the root: /etc/pki/rpm-gpg here is made a link to the root's.
dnf_in_root() {
	if [ ! -e /etc/pki/rpm-gpg ] || [ -L /etc/pki/rpm-gpg ]; then
		$as_root mkdir -p /etc/pki && $as_root ln -sfn "$dnf_root/etc/pki/rpm-gpg" /etc/pki/rpm-gpg
	fi
	$as_root dnf --installroot="$dnf_root" --releasever=1 --refresh "$@"
}
