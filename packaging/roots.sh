# The clean Debian roots that the release is built in, and that CI tries it
# in, made here alone, by mmdebstrap; and building in them.  Sourced by
# packaging/release.sh, packaging/rebuild.sh and CI, from the top of the
# tree, as root; the caller has say and die.
#
# A root is kept as a tarball in build-roots/ (or $TRAFFIC_RATE_ROOTS),
# NAME.tar, beside its record, NAME.tar.request: what it was asked for, then
# the Date and Valid-Until of the Release that apt took it from, and the
# packages it holds.  It serves while it is asked for the same, and is made
# again otherwise, as NAME.tar.new and its record, which take the kept pair's
# place only once whole.  Debian's packages come from $DEBIAN_MIRROR, by
# default http://deb.debian.org/debian.

mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
# A root half made and one unpacked, for the caller to remove if it ends early.
root_partial= unpacked=
kept_roots=${TRAFFIC_RATE_ROOTS:-$PWD/build-roots}
host=$(dpkg --print-architecture)
table=cmake/architectures.txt
suite_of() { awk -v arch="$1" '$1 == arch { print $3 }' $table; }
field() { # FILE NAME: a one-line field's value
	awk -v name="$2" 'index($0, name ": ") == 1 { print substr($0, length(name) + 3); exit }' "$1"
}
lines() { # FILE NAME: a multiline field's lines, unindented
	awk -v name="$2" '$0 == name ":" { inside = 1; next }
		inside && /^ / { print substr($0, 2); next } { inside = 0 }' "$1"
}
# What dpkg says a root holds, one package a line, as a buildinfo lists it.
installed='dpkg-query -W -f "\${binary:Package} (= \${Version})\n" | LC_ALL=C sort'

# kept_root NAME SUITE ARCHITECTURES PACKAGES [MMDEBSTRAP-OPTION...]: sets
# root_tarball to the kept root NAME: SUITE for ARCHITECTURES, this
# machine's first, and with PACKAGES, each comma-separated.
kept_root() {
	root_tarball=$kept_roots/$1.tar
	# On one line, whatever the options hold.
	root_request=$(printf '%s ' "$mirror" "$@" | tr '\n\t' '  ')
	if [ -f "$root_tarball" ] && [ "$(sed -n 1p "$root_tarball.request" 2>/dev/null)" = "$root_request" ] &&
		[ -n "$(field "$root_tarball.request" Date)" ]; then
		say "using the Debian $2 root kept in $root_tarball"
	else
		make_root "$@"
	fi
}
make_root() {
	root_suite=$2 root_architectures=$3 root_packages=$4
	shift 4
	say "making a clean Debian $root_suite root for $root_architectures in $root_tarball"
	mkdir -p "$kept_roots"
	root_partial=$root_tarball.new
	root_record=$root_partial.request
	echo "$root_request" >"$root_record"
	# A foreign root's programs run under the emulators registered with flag F.
	${as_root-} mmdebstrap --format=tar --architectures="$root_architectures" --include="$root_packages" \
		--aptopt='Acquire::Languages "none"' --skip=check/qemu "$@" \
		--customize-hook='for field in Date Valid-Until; do grep -h "^$field: " "$1"/var/lib/apt/lists/*Release ||
			[ $field = Valid-Until ]; done >>"'"$root_record"'"' \
		--customize-hook='echo Installed: >>"'"$root_record"'" &&
			chroot "$1" sh -c '\'"$installed"\'' | sed "s/^/ /" >>"'"$root_record"'"' \
		"$root_suite" "$root_partial" "$mirror" 2>"$root_tarball.log" || {
		cat "$root_tarball.log" >&2
		die "mmdebstrap could not make a Debian $root_suite root from $mirror; $root_tarball is left as it was"
	}
	# Stopped between these, the kept root lacks a record and is made again.
	rm -f "$root_tarball.request"
	mv "$root_partial" "$root_tarball"
	mv "$root_partial.request" "$root_tarball.request"
	root_partial=
}

# build_root SUITE: the kept root that the release builds in for the
# architectures that the table builds in SUITE, whichever of them a run
# builds: with what that needs, the cross compilers named by its own dpkg.
build_root() {
	root_builds=$(awk -v suite="$1" '!/^#/ && $3 == suite { print $1 }' $table | tr '\n' ' ')
	root_foreign=$(for root_arch in $root_builds; do [ "$root_arch" = "$host" ] || printf ',%s' "$root_arch"; done)
	root_musl=$(for root_arch in $root_builds; do printf ',musl-dev:%s' "$root_arch"; done)
	kept_root "$1" "$1" "$host$root_foreign" "cmake,make,g++,dpkg-dev,rpm,file,gzip$root_musl" \
		--variant=apt --aptopt='Acquire::Check-Valid-Until "false"' \
		--chrooted-customize-hook='apt-get install -y --no-install-recommends $(for arch in '"${root_builds% }"'; do
			[ "$arch" = "$(dpkg --print-architecture)" ] ||
			echo g++-$(dpkg-architecture -a$arch -qDEB_HOST_GNU_TYPE 2>/dev/null | tr _ -); done)'
}

# build_roots SUITE...: build_root for each at once, each a job of its own:
# dpkg's work in making one fills a core, and a machine has more.  Each
# job's output follows once all have ended.  A job that failed fails the
# caller, and one stopped by SIGTERM stops it with that; the caller's exit
# stops the jobs that run (stop_roots).
build_roots() {
	mkdir -p "$kept_roots"
	root_jobs= root_suites=$*
	for root_suite; do
		(
			trap '[ -z "$root_partial" ] || rm -f "$root_partial" "$root_partial.request"' EXIT
			trap 'exit 143' TERM
			build_root "$root_suite"
		) >"$kept_roots/$root_suite.making" 2>&1 &
		root_jobs="$root_jobs $!"
	done
	root_status=0
	for root_job in $root_jobs; do
		wait "$root_job" || { root_exit=$? && [ $root_status -eq 143 ] || root_status=$root_exit; }
	done
	root_jobs=
	for root_suite; do
		cat "$kept_roots/$root_suite.making" >&2
		rm -f "$kept_roots/$root_suite.making"
	done
	case $root_status in
	0) ;;
	143) kill -TERM $$ ;;
	*) died=yes && exit 1 ;;
	esac
}
# stop_roots: stops every job and what it runs, mmdebstrap's own workers
# too (its first process only waits for them), and waits for each to remove
# its half-made root.
stop_roots() {
	[ -n "${root_jobs-}" ] || return 0
	for root_job in $root_jobs; do
		# shellcheck disable=SC2046 # one word per process
		kill -TERM $(descendants "$root_job") "$root_job" 2>/dev/null || true
	done
	# shellcheck disable=SC2086 # one word per job
	wait $root_jobs || true
	for root_suite in ${root_suites-}; do rm -f "$kept_roots/$root_suite.making"; done
	root_jobs=
}
descendants() { # PID: every process under it
	for root_child in $(pgrep -P "$1"); do
		echo "$root_child"
		descendants "$root_child"
	done
}

# build_in_root SUITE ARCH...: builds ARCH... in the kept root root_tarball
# of SUITE, whose Release may be past its Valid-Until (a Debian release under
# way, or a snapshot), which it says,
# unpacked in a new folder of $TMPDIR (/tmp by default; a file system in
# memory unpacks and removes it several times faster), from the source
# release $source, as nobody, at $SOURCE_DATE_EPOCH, in a clean environment,
# in /build/traffic_rate-$version; copies what each made to
# build-release-ARCH/ and its packages to $new/, with its buildinfo.  A
# build that fails shows the logs that its lines name before the root goes.
build_in_root() {
	root_suite=$1
	shift
	released=$(field "$root_tarball.request" Date) until=$(field "$root_tarball.request" Valid-Until)
	[ -z "$until" ] || [ "$(date -d "$until" +%s)" -gt "$(date +%s)" ] ||
		say "WARNING: the Debian $root_suite root in $root_tarball comes from $mirror's Release of $released, valid until $until, which is past: its packages may not be $root_suite's current ones, and each buildinfo built in it records both dates"
	src=/build/traffic_rate-$version
	unpacked=$(mktemp -d "${TMPDIR:-/tmp}/traffic_rate-root.XXXXXX")
	chmod 0755 "$unpacked"
	tar -xf "$root_tarball" -C "$unpacked"
	mkdir -p "$unpacked$src"
	tar -xzf "$source" -C "$unpacked$src" --strip-components=1
	chown -R 65534:65534 "$unpacked/build"
	export SOURCE_DATE_EPOCH
	say "building $* in the Debian $root_suite root, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
	if ! chroot --userspec=65534:65534 "$unpacked" env -i PATH=/usr/bin:/bin HOME=/build \
		LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" sh -ec '
		cd "$0"
		for arch; do TRAFFIC_RATE_ARCH=$arch cmake --workflow --preset release; done' "$src" "$@" \
		>"$unpacked.log" 2>&1; then
		cat "$unpacked.log"
		grep -o "$src/[^ \"']*\\.\\(log\\|err\\|out\\|yaml\\)" "$unpacked.log" | sort -u | while read -r root_log; do
			[ ! -f "$unpacked$root_log" ] || { say "$root_log, in the root, says:" && cat "$unpacked$root_log"; }
		done
		die "the build of $* failed in the Debian $root_suite root, the cause above"
	fi
	cat "$unpacked.log"
	for root_arch; do
		built=build-release-$root_arch
		rm -rf "$built"
		mkdir "$built"
		cp "$unpacked$src/$built"/traffic_rate "$unpacked$src/$built"/*.deb "$unpacked$src/$built"/*.rpm \
			"$unpacked$src/$built"/*.tar.gz "$built/"
		cp "$built"/*.deb "$built"/*.rpm "$built"/*.tar.gz "$new/"
		buildinfo "$root_arch" "$root_suite" >"$new/traffic-rate_${version}_$root_arch.buildinfo"
	done
	rm -rf "$unpacked" "$unpacked.log"
	unpacked=
}

# buildinfo ARCH SUITE: the buildinfo of ARCH, built in the root $unpacked.
buildinfo() {
	files=$(cd "build-release-$1" && ls -- *.deb *.rpm *.tar.gz)
	echo "Format: 1.0"
	echo "Source: traffic-rate"
	echo "Binary: traffic-rate"
	echo "Architecture: $1"
	echo "Version: $version"
	for root_sum in Md5:md5sum Sha1:sha1sum Sha256:sha256sum; do
		echo "Checksums-${root_sum%:*}:"
		for root_file in $files; do
			echo " $(${root_sum#*:} <"$new/$root_file" | cut -d' ' -f1) $(wc -c <"$new/$root_file") $root_file"
		done
	done
	echo "Build-Origin: Debian"
	echo "Build-Architecture: $host"
	echo "Build-Date: $(LC_ALL=C date -u -R)"
	echo "Build-Path: $src"
	echo "X-Debian-Suite: $2"
	echo "X-Debian-Release-Date: $released"
	echo "X-Debian-Release-Valid-Until: ${until:-none}"
	[ -z "$commit" ] || echo "X-Git-Commit: $commit"
	echo "X-Source-Release: $(basename "$source")"
	echo "X-Source-Release-Sha256: $(sha256sum <"$source" | cut -d' ' -f1)"
	echo "Installed-Build-Depends:"
	chroot "$unpacked" sh -c "$installed" | sed 's/^/ /; $!s/$/,/'
	echo "Environment:"
	echo " LC_ALL=\"C.UTF-8\""
	echo " SOURCE_DATE_EPOCH=\"$SOURCE_DATE_EPOCH\""
}

# checkout: sets commit to this checkout's HEAD, or to nothing in an
# unpacked source release, which has no .git (a folder, or in a worktree a
# file); git must be able to read the checkout.
checkout() {
	commit=
	[ -e .git ] || return 0
	top=$(pwd -P)
	got=$(git rev-parse --show-toplevel 2>&1) ||
		die "git refuses the checkout $top ($(echo "$got" | head -n1)): run it with sudo as the checkout's owner, $(stat -c %U .), or trust it first: git config --global --add safe.directory $top"
	[ "$got" = "$top" ] || die "$top/.git is not a checkout of $top: git names $got its top"
	git cat-file -e HEAD:packaging/roots.sh 2>/dev/null ||
		die "$top/.git is not a checkout of traffic_rate: its HEAD holds no packaging/roots.sh"
	commit=$(git rev-parse HEAD)
}
