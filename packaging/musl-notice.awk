# Prints musl's machine-readable copyright file, as Debian's musl package
# ships it, as stanzas of traffic_rate's own: without its header and the
# stanzas of Debian's own files, each path put under musl/, and a comment on
# the first stanza to say why it is there.
BEGIN {
	RS = ""
	ORS = "\n\n"
	comment = "Comment: The release's usr/bin/traffic_rate is linked " \
	    "statically with\n musl, the C library, and so holds parts of it. " \
	    "This stanza and those\n after it are musl's copyright file, as " \
	    "Debian's musl package ships\n it; their paths, under musl/, name " \
	    "files of musl's source."
}
NR == 1 || /^Files: debian\// { next }
/^Files:/ {
	count = split($0, lines, "\n")
	$0 = ""
	in_files = 0
	for (i = 1; i <= count; i++) {
		line = lines[i]
		if (line !~ /^[ \t]/)
			in_files = line ~ /^Files:/
		if (in_files) {
			match(line, /^(Files:)?[ \t]*/)
			head = substr(line, 1, RLENGTH)
			rest = substr(line, RLENGTH + 1)
			gsub(/[^ \t]+/, "musl/&", rest)
			line = head rest
		}
		$0 = $0 (i > 1 ? "\n" : "") line
	}
	if (!commented++)
		$0 = $0 "\n" comment
}
{ print }
