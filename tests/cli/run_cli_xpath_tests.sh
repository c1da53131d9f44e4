#!/usr/bin/env bash
# quorrel-cli xpath against xmllint --xpath (the same engine over its own
# parse): the same nodes in the same order, the same values. Our DOM holds no
# text made only of blanks, so text() is compared on texts with content, and
# the difference in count is checked to be those blanks exactly. xmllint has
# no prefix table: a name in a namespace is written for it with local-name()
# and namespace-uri().
set -u
. "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The system's interpreter starts in a tenth of the time a version shim takes.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3

if ! command -v xmllint >/dev/null; then
    echo "xmllint is missing: scripts/install-deps.sh installs libxml2-utils"
    exit 1
fi

# xmllint's string value of an expression, whole (trailing line ends kept).
xml_string() {  # file expr
    local out
    out=$(xmllint --xpath "string($2)" "$1" 2>/dev/null; printf x)
    out=${out%x}
    printf '%s' "${out%$'\n'}"
}

# As quorrel-cli escapes a text, cut to its first 80 characters.
escape80() {
    "$python" -c 'import sys
t = sys.stdin.buffer.read().decode("utf-8")[:80]
sys.stdout.write(t.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r").replace("\t", "\\t"))'
}

# The name a row's item path ends in: element and attribute names; "" for
# texts and comments; nothing for rows without an item.
name_of_path() {
    local last=${1##*/}
    case $last in
        -) printf -- '-' ;;
        @*) printf '%s' "${last#@}" ;;
        text\(\)* | comment\(\)*) printf '' ;;
        *) printf '%s' "${last%%\[*}" ;;
    esac
}

# A node-set: count, order, names, string values and element positions agree.
compare_nodes() {  # label file our-expr xmllint-expr [quorrel options...]
    local label=$1 file=$2 ours=$3 theirs=$4
    shift 4
    local out rc
    out=$("$cli" xpath "$@" -- "$file" "$ours"); rc=$?
    local count
    count=$(xmllint --xpath "count($theirs)" "$file" 2>/dev/null)
    local lines=0
    [ -n "$out" ] && lines=$(printf '%s\n' "$out" | wc -l)
    check "$label: count" "$count" "$lines"
    if [ "$count" == 0 ]; then
        check "$label: status of an empty node-set" 1 "$rc"
        return
    fi
    check "$label: status" 0 "$rc"
    local i=0 path place text
    while IFS=$'\t' read -r path place text; do
        i=$((i + 1))
        local node="($theirs)[$i]"
        local name
        name=$(name_of_path "$path")
        local value
        value=$(xml_string "$file" "$node" | escape80)
        local element=no
        case ${path##*/} in
            @* | text\(\)* | comment\(\)* | -) ;;
            *) element=yes ;;
        esac
        [ "$ours" == "/" ] && element=yes
        if [ $element == yes ]; then
            # An element's string value: xmllint's holds the layout too.
            # Blanks aside, ours is the same, or its first 80 characters.
            value=$(xml_string "$file" "$node" | "$python" -c 'import sys
s = "".join(sys.stdin.read().split())
raw = sys.argv[1].replace("\\n", "\n").replace("\\t", "\t").replace("\\r", "\r").replace("\\\\", "\\")
t = "".join(raw.split())
print(t if (s.startswith(t) and len(raw) == 80) else s, end="")' "$text")
            text=$(printf '%s' "$text" | "$python" -c 'import sys
print("".join(sys.stdin.read().replace("\\n", " ").replace("\\t", " ").replace("\\r", " ").split()), end="")')
        fi
        check "$label #$i: text" "$value" "$text"
        if [ "$name" != "-" ]; then
            check "$label #$i: name" "$(xml_string "$file" "name($node)")" "$name"
        fi
        # Where the node stands among the elements: the same in both parses.
        local where="count($node/preceding::*) + count($node/ancestor-or-self::*)"
        check "$label #$i: place among the elements" "$(xml_string "$file" "$where")" \
            "$("$cli" xpath "$@" -- "$file" "count((($ours)[$i])/preceding::*) + count((($ours)[$i])/ancestor-or-self::*)")"
        case $place in
            @[0-9]*:[0-9]*) passes=$((passes + 1)) ;;
            *) check "$label #$i: a place" "@LINE:COLUMN" "$place" ;;
        esac
    done <<<"$out"
}

# A number, string or boolean: its string value, escaped.
compare_value() {  # label file our-expr xmllint-expr [quorrel options...]
    local label=$1 file=$2 ours=$3 theirs=$4
    shift 4
    local out rc
    out=$("$cli" xpath "$@" -- "$file" "$ours"); rc=$?
    check "$label" "$(xml_string "$file" "$theirs" | "$python" -c 'import sys
sys.stdout.write(sys.stdin.read().replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t"))')" "$out"
    check "$label: status" 0 "$rc"
}

cat >"$work/catalog.xml" <<'EOF'
<?xml version="1.0"?>
<?catalog-style href="c.css"?>
<!-- the catalog -->
<catalog version="2">
  <section name="one">
    <book lang="en" id="b1"><title>Alpha &amp; Omega</title><price>10</price></book>
    <!-- out of print -->
    <book lang="fr" id="b2"><title>Béta</title><price>12.5</price></book>
  </section>
  <section name="two">
    <book lang="de" id="b3"><title>Gamma	tab</title><price>7</price>
      <note><![CDATA[<raw> & cooked]]> and more</note></book>
    <?pi inside?>
    <book id="b4"><title>Delta
line</title></book>
  </section>
  <keep xml:space="preserve"> <k>x</k> </keep>
</catalog>
EOF

f=$work/catalog.xml
for e in '//book' '/catalog/section[2]/book[1]/@lang' '//book[last()]' '(//book)[last()]' \
    '//book[position() = 2]' '//section[book[2]]/@name' '//book[@lang][position() < last()]' \
    '//@*' '//@lang | //comment()' '//comment()' '//processing-instruction()' \
    "//processing-instruction('pi')" '//book | //title | //price' '//title[contains(., "a")]' \
    '//note/text()' '//note/node()' '/catalog/*[@name]' '//price[. > 8]/..' \
    '//book[not(@lang)]/title' '/' '//keep/node()' '//section[2]/book/title/text()'; do
    compare_nodes "catalog $e" "$f" "$e" "$e"
done
compare_nodes "catalog texts with content" "$f" '//text()' '//text()[normalize-space()] | //keep//text()'
compare_nodes "catalog nothing" "$f" '//magazine' '//magazine'
# The layout between elements is the whole difference in text().
ours=$("$cli" xpath "$f" 'count(//text())')
all=$(xmllint --xpath 'count(//text())' "$f")
blank=$(xmllint --xpath 'count(//text()[not(normalize-space())][not(ancestor::keep)])' "$f")
check "catalog: text() lacks exactly the blank layout" "$all" "$((ours + blank))"

for e in 'count(//book)' 'count(//@*)' 'sum(//price)' 'sum(//price) div count(//price)' \
    'string(//book[@lang="fr"]/title)' 'concat(name(/*), "/", //section[2]/@name)' \
    'boolean(//book[@lang="it"])' '//book[1]/@lang = "en"' '1 div 3' '2 * 1000000' \
    'string-length(//title[1])' 'name(/*)' 'normalize-space(//note)' \
    'string(//title[4])' 'translate(//title[1], "A", "a")' '0 div 0' '-1 div 0'; do
    compare_value "catalog $e" "$f" "$e" "$e"
done

cat >"$work/ns.xml" <<'EOF'
<feed xmlns="urn:d" xmlns:p="urn:p" p:version="3">
  <entry p:id="1"><p:item>one</p:item><title>First</title></entry>
  <entry p:id="2"><p:item kind="x">two</p:item>
    <p:item xmlns:p="urn:other">not p</p:item></entry>
  <plain xmlns=""><entry>no namespace</entry></plain>
</feed>
EOF
f=$work/ns.xml
d="namespace-uri()='urn:d'"
compare_nodes "ns prefixed" "$f" '//p:item' "//*[local-name()='item' and namespace-uri()='urn:p']"
compare_nodes "ns prefixed attribute" "$f" '//@p:id' "//@*[local-name()='id' and namespace-uri()='urn:p']"
compare_nodes "ns default given a prefix" "$f" '//d:entry' "//*[local-name()='entry' and $d]" --ns d=urn:d
compare_nodes "ns default, position and last()" "$f" '//d:entry[last()]/p:item[1]' \
    "//*[local-name()='entry' and $d][last()]/*[local-name()='item' and namespace-uri()='urn:p'][1]" --ns d=urn:d
compare_nodes "ns no prefix is no namespace" "$f" '//entry' '//entry'
compare_nodes "ns a prefix given anew" "$f" '//p:item' "//*[namespace-uri()='urn:other']" --ns p=urn:other
compare_nodes "ns union" "$f" '//d:title | //p:item/@kind | //plain' \
    "//*[local-name()='title' and $d] | //@kind | //plain" --ns d=urn:d
compare_nodes "ns local-name" "$f" "//*[local-name()='item']" "//*[local-name()='item']"
compare_value "ns count" "$f" 'count(//d:entry/p:item)' \
    "count(//*[local-name()='entry' and $d]/*[local-name()='item' and namespace-uri()='urn:p'])" --ns d=urn:d
compare_value "ns namespace-uri" "$f" 'namespace-uri(//p:item[1])' "namespace-uri(//*[local-name()='item'][1])"

# Exit statuses and messages.
"$cli" xpath "$work/catalog.xml" '//book[' >/dev/null 2>"$work/err"; rc=$?
check "a bad expression: status" 64 "$rc"
check "a bad expression: reason and place" $'quorrel-cli: Invalid expression at character 8\n  //book[\n         ^' "$(cat "$work/err")"
"$cli" xpath "$work/catalog.xml" 'nosuch()' >/dev/null 2>"$work/err"; rc=$?
check "an unknown function: status" 64 "$rc"
check "an unknown function: reason" "quorrel-cli: Unregistered function (while evaluating)" "$(cat "$work/err")"
"$cli" xpath "$work/ns.xml" '//q:item' >/dev/null 2>"$work/err"; rc=$?
check "an undeclared prefix: status" 64 "$rc"
"$cli" xpath --ns 'a:b=urn:x' "$work/ns.xml" '//a' >/dev/null 2>&1; rc=$?
check "a malformed --ns: status" 64 "$rc"
printf '<r><a></r>' >"$work/bad.xml"
"$cli" xpath "$work/bad.xml" '//a' >/dev/null 2>&1; rc=$?
check "a file that does not parse: status" 2 "$rc"
"$cli" xpath "$work/missing.xml" '//a' >/dev/null 2>&1; rc=$?
check "a missing file: status" 66 "$rc"
out=$("$cli" xpath "$work/catalog.xml" -- '-count(//book)')
check "an expression after --" "-4" "$out"
out=$("$cli" xpath "$work/catalog.xml" '//processing-instruction() | /catalog/@version | //section[2]/book[1]/@lang')
check "rows without tree items" $'-\t@2:1\thref="c.css"\n-\t@4:10\t2\n/catalog[0]/section[1]/book[0]/@lang\t@11:11\tde\n-\t@13:5\tinside' "$out"

# A command on every match: only the matches change, byte for byte.
"$cli" edit "$work/catalog.xml" --xpath '//book[@lang]/@lang' change-attribute-value --value xx \
    -o "$work/out.xml" 2>"$work/err"; rc=$?
check "edit --xpath: status" 0 "$rc"
check "edit --xpath: only the values changed" "$(sed 's/lang="[a-z]*"/lang="xx"/' "$work/catalog.xml")" "$(cat "$work/out.xml")"
out=$("$cli" edit "$work/ns.xml" --xpath '//d:entry' --ns d=urn:d rename-element --name item --verbose 2>&1 >/dev/null)
check "edit --xpath --verbose" $'matches: 2\nmodified: yes' "$out"
out=$("$cli" edit "$work/ns.xml" --xpath '//d:entry/p:item[1]/text()' --ns d=urn:d delete-text-node)
# An element left empty is written as such.
check "edit --xpath on text nodes" "$(sed -e 's|>one</p:item>|/>|' -e 's|>two</p:item>|/>|' "$work/ns.xml")" "$out"
"$cli" edit "$work/catalog.xml" --xpath '//@lang' rename-element --name z >/dev/null 2>"$work/err"; rc=$?
check "edit --xpath, a command of another kind: status" 3 "$rc"
check "edit --xpath, a command of another kind: message" \
    "Rename Element does not act on attributes; the matches are 3 attributes." "$(cat "$work/err")"
"$cli" edit "$work/catalog.xml" --xpath '//book | //@id' rename-element --name z >/dev/null 2>"$work/err"; rc=$?
check "edit --xpath, mixed kinds: status" 1 "$rc"
"$cli" edit "$work/catalog.xml" --xpath '//nothing' rename-element --name z >"$work/out.xml" 2>/dev/null; rc=$?
check "edit --xpath, no match: status" 1 "$rc"
check "edit --xpath, no match: the text as it was" "$(cat "$work/catalog.xml")" "$(cat "$work/out.xml")"
"$cli" edit "$work/catalog.xml" --xpath '//*' rename-element --name z >/dev/null 2>&1; rc=$?
check "edit --xpath, the document element among the matches: status" 3 "$rc"
"$cli" edit "$work/catalog.xml" --xpath '//book[' rename-element --name z >/dev/null 2>&1; rc=$?
check "edit --xpath, a bad expression: status" 64 "$rc"
"$cli" edit "$work/catalog.xml" --xpath '//book' rename-element --name z --all >/dev/null 2>&1; rc=$?
check "edit --xpath --all: a usage error" 64 "$rc"

finish
