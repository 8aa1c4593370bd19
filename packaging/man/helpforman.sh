#!/bin/sh
# Runs a program with the option help2man asks for (--help or --version) and hands its text on
# in a form help2man lays out well: a list item wrapped over several lines becomes a paragraph
# of one line, and what follows the list a paragraph of its own. Paths of this machine become
# the reader's: the home folder "~", the build's own folder left out.
# Usage: helpforman.sh PROGRAM OPTION (HOME set to a folder of no one, ZEL_MAN_BINDIR to the
# program's folder)
program="$1"
shift
"$program" "$@" | perl -0777 -pe 's/\s\(\Q$ENV{ZEL_MAN_BINDIR}\E\)//g; s/\Q$ENV{HOME}\E\//~\//g' | awk '
    function flush() { if (item != "") print item; item = "" }
    /^  - / { if (item != "") { flush(); print "" } item = $0; list = 1; next }
    list == 1 && /^    [^ ]/ { sub(/^ +/, ""); item = item " " $0; next }
    list == 1 && /^  [^ -]/ { flush(); print ""; list = 2 }
    list == 2 && /^  [^ ]/ { sub(/^ +/, ""); print; next }
    { flush(); list = 0; print }
    END { flush() }'
