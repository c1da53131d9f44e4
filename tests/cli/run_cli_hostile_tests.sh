#!/usr/bin/env bash
# quorrel-cli on hostile input: a message and an exit status, never a crash or a wait.
set -u
cli=$1
. "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
open(f"{work}/deep.xml", "w").write("<e>" * 100000 + "</e>" * 100000)
open(f"{work}/crowded.xml", "w").write("<r" + "".join(f" a{i}=''" for i in range(1000000)) + "/>")
PY

timeout 60 "$cli" tree "$work/deep.xml" >"$work/out" 2>"$work/err"; rc=$?
check "deep: status" 2 "$rc"
file_contains "deep: reason" "Excessive depth in document: elements are nested more than 256 levels deep" "$work/err"
timeout 60 "$cli" highlight "$work/deep.xml" >"$work/out" 2>"$work/err"; rc=$?
check "deep: colours" "0 0 $(stat -c %s "$work/deep.xml") tag" "$rc $(cat "$work/out")"

timeout 60 "$cli" tree "$work/crowded.xml" >"$work/out" 2>"$work/err"; rc=$?
check "crowded: status" 2 "$rc"
file_contains "crowded: reason" "The element 'r' has more than 10000 attributes" "$work/err"

mkfifo "$work/fifo.xml"
mkdir "$work/folder.xml"
for target in /dev/zero /dev/urandom "$work/fifo.xml" "$work/folder.xml" "$work/missing.xml"; do
    timeout 20 "$cli" tree "$target" >"$work/out" 2>"$work/err"; rc=$?
    check "$target: status" 66 "$rc"
    file_contains "$target: names the file" "Cannot read '$target': " "$work/err"
done

# Past the size limit, also a file that holds more than its size says: read no further.
printf '<r>%0200d</r>' 0 >"$work/big.xml"
for target in "$work/big.xml" /proc/self/maps; do
    for command in tree highlight; do
        QUORREL_MAX_DOCUMENT_BYTES=100 timeout 20 "$cli" $command "$target" >"$work/out" 2>"$work/err"; rc=$?
        check "$command $target past the limit: status" 66 "$rc"
        file_contains "$command $target past the limit: message" \
            "Cannot read '$target': the file is larger than 100 bytes." "$work/err"
    done
done
QUORREL_MAX_DOCUMENT_BYTES=1000 "$cli" tree "$work/big.xml" >"$work/out" 2>"$work/err"; rc=$?
check "big.xml within the limit" "0 0/0 r" "$rc $(head -n 1 "$work/out")"

# A change whose text would not parse again is not made.
printf '<r><a/></r>' >"$work/doc.xml"
"$cli" edit "$work/doc.xml" 0.0 add-attribute --name u:v --value 1 >"$work/out" 2>"$work/err"; rc=$?
check "unbound prefix: status" 1 "$rc"
file_contains "unbound prefix: message" "The change was not made: the document would no longer be well-formed." "$work/err"
check "unbound prefix: text unchanged" "<r><a/></r>" "$(cat "$work/out")"

# -o through a symbolic link writes its target and keeps the link.
mkdir "$work/real"
printf '<r/>' >"$work/real/out.xml"
ln -s real/out.xml "$work/link.xml"
"$cli" edit "$work/doc.xml" 0.0 add-attribute --name x --value 1 -o "$work/link.xml" 2>"$work/err"; rc=$?
check "symlink: status" 0 "$rc"
check "symlink: still a link" "yes" "$([ -L "$work/link.xml" ] && echo yes || echo no)"
file_contains "symlink: target written" '<a x="1"/>' "$work/real/out.xml"

# -o names what the user chose: links, kinds and modes of the file stay.
printf '<r/>' >"$work/h1.xml"
ln "$work/h1.xml" "$work/h2.xml"
"$cli" edit "$work/doc.xml" 0.0 add-attribute --name x --value 1 -o "$work/h1.xml" 2>"$work/err"; rc=$?
check "hard link: status" 0 "$rc"
file_contains "hard link: second name written" '<a x="1"/>' "$work/h2.xml"
mkfifo "$work/out-fifo.xml"
exec 3<>"$work/out-fifo.xml"  # a reader is there before the document comes
"$cli" edit "$work/doc.xml" 0.0 add-attribute --name x --value 1 -o "$work/out-fifo.xml" 2>"$work/err"; rc=$?
python3 -c 'import os; os.set_blocking(3, False); print(os.read(3, 65536).decode())' >"$work/from-fifo" 2>&1
exec 3>&-
check "fifo: status" 0 "$rc"
check "fifo: still a fifo" "yes" "$([ -p "$work/out-fifo.xml" ] && echo yes || echo no)"
file_contains "fifo: reader got the document" '<a x="1"/>' "$work/from-fifo"
"$cli" edit "$work/doc.xml" 0.0 add-attribute --name x --value 1 -o /dev/stdout 2>"$work/err" | cat >"$work/piped"
check "/dev/stdout into a pipe: status" 0 "${PIPESTATUS[0]}"
file_contains "/dev/stdout into a pipe: text" '<a x="1"/>' "$work/piped"

# A file the user may not write is refused, also when its folder is writable.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
mkdir -m 0777 "$work/shared"
chmod 0755 "$work"
printf '<r><a/></r>' >"$work/shared/in.xml"
printf '<old/>' >"$work/shared/ro.xml"
chmod 0444 "$work/shared/ro.xml"
[ "$(id -u)" -eq 0 ] && chown nobody "$work/shared/ro.xml"
"${as_user[@]}" "$cli" edit "$work/shared/in.xml" 0.0 add-attribute --name x --value 1 \
    -o "$work/shared/ro.xml" 2>"$work/err"; rc=$?
check "read-only file: status" 1 "$rc"
check "read-only file: message" "quorrel-cli: Cannot write '$work/shared/ro.xml': Permission denied" "$(cat "$work/err")"
check "read-only file: unchanged" "<old/>" "$(cat "$work/shared/ro.xml")"
check "read-only file: nothing left beside it" "in.xml ro.xml" "$(ls -A "$work/shared" | tr '\n' ' ' | sed 's/ $//')"

finish
