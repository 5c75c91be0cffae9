#!/bin/sh
# Makes a tree the same bytes whatever made it, and packs it: the one
# normalisation of what the packages and the source release hold.  Folders
# are 0755, files 0644, or 0755 where anyone may run them, whatever the
# umask; every time is SOURCE_DATE_EPOCH.  With ARCHIVE, the tree, by its
# last folder's name, is packed there too: a tar in sorted order, owned by
# root, gzipped with no name or time.
#
#   packaging/normalise.sh TREE [ARCHIVE.tar.gz]
set -eu
say() { echo "normalise.sh: $*" >&2; }
[ $# -ge 1 ] && [ -d "$1" ] || { say "no tree to normalise: ${1-none given}"; exit 1; }
case ${SOURCE_DATE_EPOCH-} in '' | *[!0-9]*) say "SOURCE_DATE_EPOCH is not a time: '${SOURCE_DATE_EPOCH-}'"; exit 1 ;; esac
chmod -R u+w,go-w,a+rX "$1"
find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
[ $# -ge 2 ] || exit 0
tar --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner \
	--directory="$(dirname "$1")" "$(basename "$1")" | gzip -9n >"$2"
