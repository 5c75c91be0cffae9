# What a stage needs installed, and the release it needs built; sourced by
# lib.sh.

# needs PACKAGE...: installs those of Debian's packages that are missing,
# with one apt-get update in a run of CI.
needs() {
	missing=
	for package; do
		dpkg-query -W -f '${Status}' "$package" 2>/dev/null |
			grep -q 'ok installed' || missing="$missing $package"
	done
	[ -n "$missing" ] || return 0
	say "installing$missing"
	for package in $missing; do
		case $package in *:*)
			dpkg --print-foreign-architectures | grep -qx "${package#*:}" ||
				$as_root dpkg --add-architecture "${package#*:}" ;;
		esac
	done
	if [ "$(cat "$ci/apt-updated" 2>/dev/null)" != "${CI_RUN:-$$}" ]; then
		$as_root apt-get update -q
		mkdir -p "$ci"
		echo "${CI_RUN:-$$}" >"$ci/apt-updated"
	fi
	# shellcheck disable=SC2086 # one word per package
	$as_root env DEBIAN_FRONTEND=noninteractive \
		apt-get install -y -q --no-install-recommends $missing
}
# The release in dist/, of this commit: the release stage's, or built here
# without its tests.
needs_release() {
	commit=$(git rev-parse HEAD)
	if [ "$(cat "$ci/release.commit" 2>/dev/null)" = "$commit" ] &&
		(cd dist && sha256sum --check --quiet SHA256SUMS 2>/dev/null); then
		say "using the release of $commit in dist/"
		return
	fi
	say "no release of $commit in dist/; building it without its tests"
	needs mmdebstrap
	$as_root packaging/release.sh --no-tests || fail "packaging/release.sh --no-tests failed"
	mkdir -p "$ci"
	echo "$commit" >"$ci/release.commit"
}
