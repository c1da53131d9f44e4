#!/usr/bin/env bash
# End-to-end checks of quorrel-cli: output, messages and exit statuses.
set -u
cli=$1
data=$2/cli
httpd=${3:-}  # quorrel-test-httpd, for fetch
. "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"
work=$(mktemp -d)
servers=()
trap 'for pid in "${servers[@]}"; do kill "$pid"; wait "$pid"; done 2>/dev/null; rm -rf "$work"' EXIT

out=$("$cli" tree "$data/example.xml"); rc=$?
check "tree example" $'0/0 a\n  2/2 b\n    3/3 y = " 2 "\n    4/4 t\n  2/2 c' "$out"
check "tree example status" 0 "$rc"

out=$("$cli" tree "$data/escapes.xml")
check "labels escaped" $'0/0 r\n  2/2 t\n    3/3 xml:space = " preserve "\n    4/4 a\\\\b\\tc\\nd\n  2/2 e\n    3/3 v = " x\\ty "' "$out"

out=$("$cli" tree "$data/invalid.xml" 2>"$work/err"); rc=$?
check "invalid: status" 2 "$rc"
check "invalid: no items after a failed parse" "" "$out"
check "invalid: message starts" "XML DOM Parse Error:" "$(head -n 1 "$work/err")"
check "invalid: hint lines" $'Hint:\n Turn the DTD/Schema validation button - V - on the toolbar off.\n Then click on the Parse button - P - to retry this operation.' "$(tail -n 3 "$work/err")"

out=$("$cli" tree --no-validate "$data/invalid.xml" 2>"$work/err"); rc=$?
check "no-validate: status" 0 "$rc"
check "no-validate: items" $'0/0 r\n  2/2 n\n    4/4 1\n  2/2 extra' "$out"
check "no-validate: quiet" "" "$(cat "$work/err")"

"$cli" tree "$work/missing.xml" >/dev/null 2>"$work/err"; rc=$?
check "missing file: status" 66 "$rc"
check "missing file: reason" 1 "$(grep -c 'No such file or directory' "$work/err")"

"$cli" tree "$work" >/dev/null 2>"$work/err"; rc=$?
check "directory: status" 66 "$rc"

"$cli" >/dev/null 2>"$work/err"; rc=$?
check "no command: status" 64 "$rc"
check "usage error is one line" 1 "$(wc -l < "$work/err")"
"$cli" tree >/dev/null 2>&1; rc=$?
check "tree without file" 64 "$rc"
"$cli" tree --bogus "$data/example.xml" >/dev/null 2>&1; rc=$?
check "unknown option" 64 "$rc"
"$cli" frobnicate >/dev/null 2>&1; rc=$?
check "unknown command" 64 "$rc"

out=$("$cli" --help); rc=$?
check "help status" 0 "$rc"
check "help names tree" 1 "$(grep -c '^  tree' <<<"$out")"

printf '<a>x</a>\0<b/>' > "$work/nul.xml"
out=$("$cli" tree "$work/nul.xml" 2>"$work/err"); rc=$?
check "NUL: items of the text before it" $'0/0 a\n  4/4 x' "$out"
check "NUL: warned with the offset" 1 "$(grep -c 'byte 8' "$work/err")"

: > "$work/empty.xml"
out=$("$cli" tree "$work/empty.xml" 2>"$work/err"); rc=$?
check "empty file: no items, no message" "0::" "$rc:$out:$(cat "$work/err")"

# path and edit
doc="$data/edit.xml"
check "path of an element" "/r[0]/a[0]/a[0]" "$("$cli" path "$doc" 0.0.0)"
check "path of an attribute: its owner" "/r[0]/b[0]" "$("$cli" path "$doc" 0.1.1)"
"$cli" path "$doc" 0.9 >/dev/null 2>&1; rc=$?
check "path of a missing item" 64 "$rc"

out=$("$cli" edit "$doc" 0.0 rename-element --name z --all 2>"$work/err"); rc=$?
check "rename nested on all" '<r><z><z/></z><b x="1" y="2">t<c/>u</b></r>' "$out"
check "rename: no message" "0:" "$rc:$(cat "$work/err")"

out=$("$cli" edit "$doc" 0.0 32795 --all --verbose 2>"$work/err"); rc=$?
check "delete element only by number, nested" '<r><b x="1" y="2">t<c/>u</b></r>' "$out"
check "verbose modified" "modified: yes" "$(cat "$work/err")"

out=$("$cli" edit "$doc" 0.1.0 change-attribute-name --name "1a" 2>"$work/err"); rc=$?
check "invalid name: status" 1 "$rc"
check "invalid name: message" '"1a" is not a valid XML name.' "$(cat "$work/err")"
check "invalid name: text unchanged" "$(cat "$doc")" "$out"

out=$("$cli" edit "$doc" 0.1 add-attribute --name k --value v --cancel --verbose 2>"$work/err"); rc=$?
check "cancel: unchanged, not modified" "0:modified: no" "$rc:$(cat "$work/err")"
check "cancel: text" "$(cat "$doc")" "$out"

"$cli" edit "$doc" 0 rename-element --name q >/dev/null 2>"$work/err"; rc=$?
check "root does not enable element commands" 3 "$rc"
"$cli" edit "$doc" 0.1.2 delete-attribute >/dev/null 2>&1; rc=$?
check "text item does not enable attribute commands" 3 "$rc"
"$cli" edit "$doc" 0.1 frobnicate >/dev/null 2>&1; rc=$?
check "unknown tree command" 64 "$rc"

printf '<r><name/></r>' > "$work/empty-name.xml"
out=$("$cli" edit "$work/empty-name.xml" 0.0 element-to-attribute 2>"$work/err"); rc=$?
check "failing command: message" "1:An unexpected error occured !" "$rc:$(cat "$work/err")"
check "failing command: text unchanged" "<r><name/></r>" "$out"

cp "$doc" "$work/saved.xml"
"$cli" edit "$work/saved.xml" 0.1.2 change-text-value --value 'a<&' -o "$work/saved.xml"; rc=$?
check "edit -o saves" '0:<r><a><a/></a><b x="1" y="2">a&lt;&amp;<c/>u</b></r>' "$rc:$(cat "$work/saved.xml")"

"$cli" edit "$data/invalid.xml" 0.0 delete-element-only 2>/dev/null; rc=$?
check "edit on a document that does not parse" 2 "$rc"

# highlight
out=$("$cli" highlight "$data/highlight.xml"); rc=$?
check "highlight spans" $'0 2 plain\n2 9 keyword\n9 19 plain\n19 26 keyword\n26 34 plain\n34 40 keyword\n40 45 plain\n45 52 keyword\n52 61 plain\n61 66 keyword\n66 68 plain\n68 76 keyword\n76 81 plain\n81 105 tag\n105 110 keyword\n110 120 plain\n120 125 string\n125 126 plain\n126 133 tag\n133 134 plain' "$out"
check "highlight status" 0 "$rc"
check "highlight --format spans is the default" "$out" "$("$cli" highlight --format spans "$data/highlight.xml")"
check "highlight spans tile the text" "ok" "$(awk -v n="$(wc -c < "$data/highlight.xml")" \
    '$1 != at { bad = 1 } $2 <= $1 || $3 == last { bad = 1 } { at = $2; last = $3 }
     END { print (bad || at != n) ? "bad" : "ok" }' <<<"$out")"

printf '<a x="1">"s" EMPTY</a>' > "$work/ansi.xml"
out=$("$cli" highlight --format ansi "$work/ansi.xml"); rc=$?
check "highlight ansi" $'0:\e[34m<a x="1">\e[0m\e[35m"s"\e[0m \e[1mEMPTY\e[0m\e[34m</a>\e[0m' "$rc:$out"
check "highlight ansi keeps the text" '<a x="1">"s" EMPTY</a>' "$(sed 's/\x1b\[[0-9]*m//g' <<<"$out")"

printf '\xff\xfe<\0a\0>\0\xe9\0"\0' > "$work/utf16.xml"
check "highlight offsets are into the decoded UTF-8 text" $'0 3 tag\n3 5 plain\n5 6 string' \
    "$("$cli" highlight "$work/utf16.xml")"

out=$("$cli" highlight "$work/empty.xml" 2>"$work/err"); rc=$?
check "highlight empty file: no lines" "0::" "$rc:$out:$(cat "$work/err")"

"$cli" highlight "$work/missing.xml" >/dev/null 2>"$work/err"; rc=$?
check "highlight missing file: status" 66 "$rc"
check "highlight missing file: reason" 1 "$(grep -c 'No such file or directory' "$work/err")"
"$cli" highlight "$work" >/dev/null 2>&1; rc=$?
check "highlight directory: status" 66 "$rc"

"$cli" highlight --format html "$data/highlight.xml" >/dev/null 2>"$work/err"; rc=$?
check "highlight unknown format" "64:1" "$rc:$(wc -l < "$work/err")"
"$cli" highlight "$data/highlight.xml" --format >/dev/null 2>&1; rc=$?
check "highlight --format without value" 64 "$rc"
"$cli" highlight >/dev/null 2>&1; rc=$?
check "highlight without file" 64 "$rc"
"$cli" highlight "$data/highlight.xml" "$data/example.xml" >/dev/null 2>&1; rc=$?
check "highlight with two files" 64 "$rc"
"$cli" highlight --no-validate "$data/highlight.xml" >/dev/null 2>&1; rc=$?
check "highlight unknown option" 64 "$rc"
check "help names highlight" 1 "$("$cli" --help | grep -c '^  highlight')"

# fetch, from servers of our own on 127.0.0.1
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1
serve() {  # quorrel-test-httpd ARGS...; sets port
    local out="$work/httpd.${#servers[@]}"
    "$httpd" "$@" >"$out" &
    servers+=($!)
    for _ in $(seq 1 500); do
        [ -s "$out" ] && break
        sleep 0.02
    done
    port=$(head -n 1 "$out")
}
mkdir "$work/site"
cp -r "$2/fetch/notes" "$work/site/"
printf '<!DOCTYPE note SYSTEM "file://%s">\n<note><to>Tove</to><from>Jani</from></note>\n' \
    "$2/fetch/notes/note.dtd" >"$work/site/local-dtd.xml"
serve "$work/site" --redirect /moved /notes/note.xml
site="http://127.0.0.1:$port"

out=$("$cli" fetch "$site/notes/note.xml" 2>"$work/err"); rc=$?
check "fetch: text, with the DTD beside it" "0:$(cat "$2/fetch/notes/note.xml"):" "$rc:$out:$(cat "$work/err")"
out=$("$cli" fetch "$site/moved" 2>"$work/err"); rc=$?
check "fetch follows a redirect" "0:$(cat "$2/fetch/notes/note.xml")" "$rc:$out"

out=$("$cli" fetch "$site/notes/malformed.xml" 2>"$work/err"); rc=$?
check "fetch malformed: status, no text" "1:" "$rc:$out"
check "fetch malformed: message starts" "XML DOM Parse Error:" "$(head -n 1 "$work/err")"
check "fetch malformed: hint lines" $'Hint:\n Turn the DTD/Schema validation button - V - on the toolbar off.\n Then try to open this URL again.' "$(tail -n 3 "$work/err")"

"$cli" fetch "$site/notes/note-invalid.xml" >/dev/null 2>"$work/err"; rc=$?
check "fetch invalid, validating" "1:XML DOM Parse Error:" "$rc:$(head -n 1 "$work/err")"
out=$("$cli" fetch --no-validate "$site/notes/note-invalid.xml" 2>"$work/err"); rc=$?
check "fetch invalid, not validating" "0:1:" "$rc:$(grep -c '<body>Remember</body>' <<<"$out"):$(cat "$work/err")"

"$cli" fetch "$site/notes/missing-dtd.xml" >/dev/null 2>"$work/err"; rc=$?
check "fetch: DTD missing on the server" "1:1" "$rc:$(grep -c "404 Not Found for $site/notes/missing.dtd" "$work/err")"

out=$("$cli" fetch "$site/nowhere.xml" 2>"$work/err"); rc=$?
check "fetch 404" $'1::Could not open the URL:\nThe server answered 404 Not Found for '"$site/nowhere.xml." \
    "$rc:$out:$(cat "$work/err")"

"$cli" fetch "$site/local-dtd.xml" >/dev/null 2>"$work/err"; rc=$?
check "fetch: local DTD refused" "1:1" "$rc:$(grep -c 'a document from a URL cannot read local files' "$work/err")"
# Not validating, the document opens without the DTD and says which it did not read.
"$cli" fetch --no-validate "$site/local-dtd.xml" >/dev/null 2>"$work/err"; rc=$?
check "fetch: local DTD not read --no-validate" "0:1" "$rc:$(grep -c 'a document from a URL cannot read local files' "$work/err")"

serve --silent
out=$(QUORREL_TRANSFER_TIMEOUT_MS=500 "$cli" fetch "http://127.0.0.1:$port/note.xml" 2>"$work/err"); rc=$?
check "fetch: a server that never answers times out" "1::Could not open the URL:" "$rc:$out:$(head -n 1 "$work/err")"
check "fetch: time-out reason" 1 "$(grep -c 'timed out' "$work/err")"

"$cli" fetch >/dev/null 2>&1; rc=$?
check "fetch without URL" 64 "$rc"
"$cli" fetch "$site/a" "$site/b" >/dev/null 2>&1; rc=$?
check "fetch with two URLs" 64 "$rc"
check "help names fetch" 1 "$("$cli" --help | grep -c '^  fetch')"

finish
