#!/usr/bin/env bash
# Saving where the file system has no unnamed temporary files (NFS, vfat):
# the new content goes to a named temporary file beside the target, which
# then replaces it whole; the file keeps its mode, a link stays a link, and
# nothing is left beside them.
set -u
cli=$1
shim=$2
. "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"
[ -f "$shim" ] || { echo "no shim at $shim"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The shim is loaded before the sanitizers' runtime in their build.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

save() { # FILE ITEM NAME OUT
    LD_PRELOAD=$shim QUORREL_NO_TMPFILE_LOG=$work/log \
        "$cli" edit --no-validate "$1" "$2" rename-element --name "$3" -o "$4" 2>"$work/err"
}
folder() { ls -A "$work/files" | tr '\n' ' '; }

mkdir "$work/files"
printf '<r><a/></r>\n' >"$work/files/doc.xml"
chmod 640 "$work/files/doc.xml"
save "$work/files/doc.xml" 0.0 b "$work/files/doc.xml"; rc=$?
check "over the file: status and messages" 0 "$rc$(cat "$work/err")"
check "over the file: content" "<r><b/></r>" "$(cat "$work/files/doc.xml")"
check "over the file: mode" 640 "$(stat -c %a "$work/files/doc.xml")"
check "the unnamed file was asked for and refused" "O_TMPFILE refused" "$(sort -u "$work/log")"
check "over the file: nothing left beside it" "doc.xml " "$(folder)"

save "$work/files/doc.xml" 0.0 c "$work/files/new.xml"; rc=$?
check "a new file: status" 0 "$rc"
check "a new file: content" "<r><c/></r>" "$(cat "$work/files/new.xml")"
check "a new file: the old one untouched" "<r><b/></r>" "$(cat "$work/files/doc.xml")"
check "a new file: nothing left beside it" "doc.xml new.xml " "$(folder)"

ln -s new.xml "$work/files/link.xml"
save "$work/files/link.xml" 0.0 d "$work/files/link.xml"; rc=$?
check "through a link: status" 0 "$rc"
check "through a link: still a link" "new.xml" "$(readlink "$work/files/link.xml")"
check "through a link: its target written" "<r><d/></r>" "$(cat "$work/files/new.xml")"
check "through a link: nothing left beside it" "doc.xml link.xml new.xml " "$(folder)"

finish "save without O_TMPFILE"
