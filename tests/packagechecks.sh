#!/bin/sh
# What the package's own ecosystem says of it, where its tools are installed:
#   metainfo SOURCE BUILD      appstreamcli validates the AppStream files (no error, no warning),
#                              also as installed beside the desktop entries and icons they name
#   manpages BUILD PROGRAM...  each manual page names every option its program's --help names
#   copyright BUILD            the copyright file parses as Debian's machine-readable form and
#                              gives every file a licence whose text it holds
#   deb BUILD                  lintian finds nothing in the package cpack makes
set -eu
what="$1"
shift
case "$what" in
metainfo)
    appstreamcli validate --no-net "$1"/packaging/metainfo/*.metainfo.xml
    root="$2/metainfo-check"
    rm -rf "$root"
    DESTDIR="$root" cmake --install "$2" --prefix /usr >/dev/null
    appstreamcli validate-tree --no-net "$root"
    ;;
manpages)
    build="$1"
    shift
    for program in "$@"; do
        page="$build/packaging/man/$program.1.gz"
        [ -s "$page" ] || { echo "no manual page $page"; exit 1; }
        # The page as text, with roff's escaped hyphens as the program prints them.
        text="$(gzip -dc "$page" | sed 's/\\-/-/g')"
        options="$(QT_QPA_PLATFORM=offscreen timeout 30 "$build/bin/$program" --help |
            grep -oE '(^|[ ,])--?[a-z][a-z-]*' | sed 's/^[ ,]*//' | sort -u)"
        [ -n "$options" ] || { echo "$program --help names no option"; exit 1; }
        for option in $options; do
            printf '%s\n' "$text" | grep -qe "\\\\fB$option\\\\fR" ||
                { echo "the manual page of $program does not name $option"; exit 1; }
        done
        version="$(QT_QPA_PLATFORM=offscreen timeout 30 "$build/bin/$program" --version)"
        printf '%s\n' "$text" | grep -q "^\.TH .*\"$version\"" ||
            { echo "the manual page of $program is not of $version"; exit 1; }
        echo "$program: $(echo $options)"
    done
    ;;
copyright)
    # Debian's own Python, which has its parser (python3-debian).
    /usr/bin/python3 - "$1/packaging/copyright" <<'PY'
import sys
from debian.copyright import Copyright
with open(sys.argv[1], encoding="utf-8") as f:
    copyright = Copyright(f, strict=True)
texts = {p.license.synopsis for p in copyright.all_license_paragraphs() if p.license.text}
for files in copyright.all_files_paragraphs():
    assert files.copyright, f"no copyright for {files.files}"
    assert files.license.synopsis in texts, f"no text of the licence {files.license.synopsis}"
assert copyright.find_files_paragraph("zelconnect/main.cpp"), "a file without a paragraph"
print("copyright:", ", ".join(sorted(texts)))
PY
    ;;
deb)
    build="$1"
    rm -rf "$build/package-check"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/package-check" >/dev/null
    lintian --fail-on error,warning --pedantic "$build"/package-check/*.deb
    ;;
esac
