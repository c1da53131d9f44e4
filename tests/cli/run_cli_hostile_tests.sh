#!/usr/bin/env bash
# quorrel-cli on hostile input: a message and an exit status, never a crash or a wait.
set -u
cli=$1
failures=0
passes=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check() {  # name expected actual
    if [ "$2" == "$3" ]; then
        passes=$((passes + 1))
    else
        failures=$((failures + 1))
        printf 'FAIL %s\n--- expected\n%s\n--- actual\n%s\n' "$1" "$2" "$3"
    fi
}
contains() {  # name needle file
    if grep -qF -- "$2" "$3"; then
        passes=$((passes + 1))
    else
        failures=$((failures + 1))
        printf 'FAIL %s: no "%s" in\n%s\n' "$1" "$2" "$(head -c 2000 "$3")"
    fi
}

python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
open(f"{work}/deep.xml", "w").write("<e>" * 100000 + "</e>" * 100000)
open(f"{work}/crowded.xml", "w").write("<r" + "".join(f" a{i}=''" for i in range(1000000)) + "/>")
PY

timeout 60 "$cli" tree "$work/deep.xml" >"$work/out" 2>"$work/err"; rc=$?
check "deep: status" 2 "$rc"
contains "deep: reason" "Excessive depth in document: elements are nested more than 256 levels deep" "$work/err"
timeout 60 "$cli" highlight "$work/deep.xml" >"$work/out" 2>"$work/err"; rc=$?
check "deep: colours" "0 0 $(stat -c %s "$work/deep.xml") tag" "$rc $(cat "$work/out")"

timeout 60 "$cli" tree "$work/crowded.xml" >"$work/out" 2>"$work/err"; rc=$?
check "crowded: status" 2 "$rc"
contains "crowded: reason" "The element 'r' has more than 10000 attributes" "$work/err"

mkfifo "$work/fifo.xml"
mkdir "$work/folder.xml"
for target in /dev/zero /dev/urandom "$work/fifo.xml" "$work/folder.xml" "$work/missing.xml"; do
    timeout 20 "$cli" tree "$target" >"$work/out" 2>"$work/err"; rc=$?
    check "$target: status" 66 "$rc"
    contains "$target: names the file" "Cannot read '$target': " "$work/err"
done

# Past the size limit, also a file that holds more than its size says: read no further.
printf '<r>%0200d</r>' 0 >"$work/big.xml"
for target in "$work/big.xml" /proc/self/maps; do
    for command in tree highlight; do
        QUORREL_MAX_DOCUMENT_BYTES=100 timeout 20 "$cli" $command "$target" >"$work/out" 2>"$work/err"; rc=$?
        check "$command $target past the limit: status" 66 "$rc"
        contains "$command $target past the limit: message" \
            "Cannot read '$target': the file is larger than 100 bytes." "$work/err"
    done
done
QUORREL_MAX_DOCUMENT_BYTES=1000 "$cli" tree "$work/big.xml" >"$work/out" 2>"$work/err"; rc=$?
check "big.xml within the limit" "0 0/0 r" "$rc $(head -n 1 "$work/out")"

# A change whose text would not parse again is not made.
printf '<r><a/></r>' >"$work/doc.xml"
"$cli" edit "$work/doc.xml" 0.0 add-attribute --name u:v --value 1 >"$work/out" 2>"$work/err"; rc=$?
check "unbound prefix: status" 1 "$rc"
contains "unbound prefix: message" "The change was not made: the document would no longer be well-formed." "$work/err"
check "unbound prefix: text unchanged" "<r><a/></r>" "$(cat "$work/out")"

# -o through a symbolic link writes its target and keeps the link.
mkdir "$work/real"
printf '<r/>' >"$work/real/out.xml"
ln -s real/out.xml "$work/link.xml"
"$cli" edit "$work/doc.xml" 0.0 add-attribute --name x --value 1 -o "$work/link.xml" 2>"$work/err"; rc=$?
check "symlink: status" 0 "$rc"
check "symlink: still a link" "yes" "$([ -L "$work/link.xml" ] && echo yes || echo no)"
contains "symlink: target written" '<a x="1"/>' "$work/real/out.xml"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
