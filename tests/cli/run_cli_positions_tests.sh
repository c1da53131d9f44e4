#!/usr/bin/env bash
# quorrel-cli tree --positions: where each item's node starts in the text.
set -u
cli=$1
. "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every kind of item, with the root's own attribute, a namespace
# declaration, references, a processing instruction and non-ASCII text.
printf '%s\n' '<?xml version="1.0"?>' '<!-- prolog -->' '<r a="1">' \
    '  <b x="1"  y = '"'2'"' xmlns:p="urn:p" p:z="3">text &amp; more</b>' \
    '  <c/><!--com-->' '  <d><![CDATA[x<y]]>tail<?pi x?>after</d>' \
    '  é<e  ü="ö">ü</e>' '</r>' >"$work/kinds.xml"
kinds=$'0/0 r\t@3:1
  2/2 b\t@4:3
    3/3 xmlns:p = " urn:p "\t@4:21
    3/3 x = " 1 "\t@4:6
    3/3 y = " 2 "\t@4:13
    3/3 p:z = " 3 "\t@4:37
    4/4 text & more\t@4:45
  2/2 c\t@5:3
  5/5 com\t@5:7
  2/2 d\t@6:3
    7/7 x<y\t@6:6
    4/4 tail\t@6:21
    4/4 after\t@6:33
  4/4 \\n  é\t@6:42
  2/2 e\t@7:4
    3/3 ü = " ö "\t@7:8
    4/4 ü\t@7:14'
out=$("$cli" tree --positions "$work/kinds.xml"); rc=$?
check "every kind" "$kinds" "$out"
check "every kind: status" 0 "$rc"
out=$("$cli" tree --positions --no-validate "$work/kinds.xml")
check "every kind, not validating" "$kinds" "$out"
out=$("$cli" tree "$work/kinds.xml" | head -n 2)
check "no positions unless asked" $'0/0 r\n  2/2 b' "$out"

# CR LF is one line end; so is a CR alone. A BOM is no character.
printf '\xEF\xBB\xBF<r>\r\n <a k="v">t</a>\r\n<!--c-->\r<b/></r>' >"$work/crlf.xml"
out=$("$cli" tree --positions "$work/crlf.xml")
check "CR LF" $'0/0 r\t@1:1\n  2/2 a\t@2:2\n    3/3 k = " v "\t@2:5\n    4/4 t\t@2:11\n  5/5 c\t@3:1\n  2/2 b\t@4:1' "$out"

# UTF-16: columns count the characters of the decoded text (one for a
# character outside the BMP, which UTF-16 writes in two units).
printf '<r>\n  <a>\xF0\x9F\x98\x80x<b v="1"/></a>\n</r>' | iconv -f UTF-8 -t UTF-16 >"$work/utf16.xml"
out=$("$cli" tree --positions "$work/utf16.xml")
check "UTF-16" $'0/0 r\t@1:1\n  1/6 a\t@2:3\n    4/4 😀x\t@2:6\n    2/2 b\t@2:8\n      3/3 v = " 1 "\t@2:11' "$out"
# Legacy encodings: a byte is a character.
printf '<?xml version="1.0" encoding="ISO-8859-1"?>\n<r>\xE9\xE9<a/></r>' >"$work/latin1.xml"
out=$("$cli" tree --positions "$work/latin1.xml")
check "ISO-8859-1" $'0/0 r\t@2:1\n  4/4 éé\t@2:4\n  2/2 a\t@2:6' "$out"

# Beyond line 65,535 (where libxml2's own line numbers stop without help).
{
    echo '<r>'
    for ((i = 0; i < 70000; i++)); do echo '<i/>'; done
    echo '  <last n="1">t</last>'
    echo '</r>'
} >"$work/long.xml"
out=$("$cli" tree --positions "$work/long.xml" | tail -n 3)
check "beyond line 65535" $'  2/2 last\t@70002:3\n    3/3 n = " 1 "\t@70002:9\n    4/4 t\t@70002:15' "$out"

# With a DTD: defaults take their element's place, entity content the
# place of the item before it.
printf '%s\n' '<!DOCTYPE r [<!ATTLIST s d CDATA "dv"><!ENTITY e "<x/>">]>' '<r><s k="1">&e;</s></r>' >"$work/dtd.xml"
out=$("$cli" tree --positions --no-validate "$work/dtd.xml")
check "DTD" $'0/0 r\t@2:1\n  1/6 s\t@2:4\n    3/3 k = " 1 "\t@2:7\n    3/3 d = " dv "\t@2:4\n    2/2 x\t@2:4' "$out"

"$cli" tree --positions >/dev/null 2>&1; rc=$?
check "positions without file" 64 "$rc"
"$cli" path --positions "$work/kinds.xml" 0 >/dev/null 2>&1; rc=$?
check "positions only for tree" 64 "$rc"

finish
