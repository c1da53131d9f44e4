#!/usr/bin/env bash
# End-to-end checks of quorrel-cli on documents as systems hold them: DTDs
# through XML catalogs (public and system identifiers, rewrites, delegates,
# an entry to a missing file), DTDs that cannot be read, internal subsets
# and DTD defaults after a command, namespaces, and bytes the encoding does
# not define.
set -u
cli=$1
. "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/dtds" "$work/docs"
shop_dtd='<!ELEMENT shop (item*)><!ELEMENT item (#PCDATA)><!ATTLIST item currency CDATA "EUR">'
echo "$shop_dtd" >"$work/shop.dtd"
echo "$shop_dtd" >"$work/dtds/shop.dtd"
echo "$shop_dtd" >"$work/delegated.dtd"
cat >"$work/delegated.xml" <<EOF
<?xml version="1.0"?>
<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">
  <public publicId="-//Delegated//DTD Shop//EN" uri="file://$work/delegated.dtd"/>
</catalog>
EOF
cat >"$work/catalog.xml" <<EOF
<?xml version="1.0"?>
<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">
  <public publicId="-//Quorrel//DTD Shop 1.0//EN" uri="file://$work/shop.dtd"/>
  <rewriteSystem systemIdStartString="http://dtd.example.org/" rewritePrefix="file://$work/dtds/"/>
  <delegatePublic publicIdStartString="-//Delegated//" catalog="file://$work/delegated.xml"/>
  <system systemId="http://broken.example.org/gone.dtd" uri="file://$work/gone.dtd"/>
</catalog>
EOF
# The system's own catalog too, as the Linux XML tools read both.
export XML_CATALOG_FILES="$work/catalog.xml /etc/xml/catalog"

doc() {  # name doctype
    printf '%s\n<shop><item>tea</item></shop>\n' "$2" >"$work/docs/$1"
    echo "$work/docs/$1"
}
items=$'0/0 shop\n  2/2 item\n    3/3 currency = " EUR "\n    4/4 tea'
for case in \
    'public|<!DOCTYPE shop PUBLIC "-//Quorrel//DTD Shop 1.0//EN" "http://nowhere.example.org/shop.dtd">' \
    'rewrite|<!DOCTYPE shop SYSTEM "http://dtd.example.org/shop.dtd">' \
    'delegate|<!DOCTYPE shop PUBLIC "-//Delegated//DTD Shop//EN" "http://nowhere.example.org/x.dtd">'; do
    name=${case%%|*}
    file=$(doc "$name.xml" "${case#*|}")
    out=$("$cli" tree "$file" 2>"$work/err"); rc=$?
    check "catalog $name: validated offline" "0:$items:" "$rc:$out:$(cat "$work/err")"
done

gone=$(doc gone.xml '<!DOCTYPE shop SYSTEM "http://broken.example.org/gone.dtd">')
"$cli" tree "$gone" >/dev/null 2>"$work/err"; rc=$?
check "catalog entry to a missing file, validating" \
    "2:1" "$rc:$(grep -c "Cannot load '$work/gone.dtd': No such file or directory (the XML catalog's entry for 'http://broken.example.org/gone.dtd'). With validation off the document opens without it." "$work/err")"
out=$("$cli" tree --no-validate "$gone" 2>"$work/err"); rc=$?
check "catalog entry to a missing file, not validating" \
    $'0:0/0 shop\n  2/2 item\n    4/4 tea:1' "$rc:$out:$(grep -c "^The DTD 'http://broken.example.org/gone.dtd' was not read: Cannot load '$work/gone.dtd'" "$work/err")"

svg="$work/docs/icon.svg"
cat >"$svg" <<'EOF'
<?xml version="1.0" standalone="no"?>
<!DOCTYPE svg PUBLIC "-//W3C//DTD SVG 1.1//EN"
  "http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd">
<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="8" height="8">
  <defs><circle id="c" r="2"/></defs>
  <use xlink:href="#c"/>
</svg>
EOF
"$cli" tree "$svg" >"$work/out" 2>"$work/err"; rc=$?
check "SVG 1.1 through the system catalog" "0:1:" "$rc:$(grep -c 'xlink:show = " embed "' "$work/out"):$(cat "$work/err")"
out=$("$cli" edit "$svg" 0.1 rename-element --name use --all 2>"$work/err"); rc=$?
check "SVG: defaults of the DTD not written, DOCTYPE kept" "0:$(head -n 3 "$svg"):0:" \
    "$rc:$(head -n 3 <<<"$out"):$(grep -c 'xlink:show\|xlink:type' <<<"$out"):$(cat "$work/err")"

# A DTD that is not there: validating fails and says what to do; not
# validating opens, with the warning on standard error, for tree, path and edit.
unread=$(doc unread.xml '<!DOCTYPE shop SYSTEM "shop-missing.dtd">')
"$cli" tree "$unread" >/dev/null 2>"$work/err"; rc=$?
check "missing DTD, validating" "2:1" "$rc:$(grep -c 'It is neither beside the document nor in an XML catalog; with validation off the document opens without it.' "$work/err")"
warning="The DTD '$work/docs/shop-missing.dtd' was not read"
out=$("$cli" tree --no-validate "$unread" 2>"$work/err"); rc=$?
check "missing DTD, tree" $'0:0/0 shop\n  2/2 item\n    4/4 tea:1' "$rc:$out:$(grep -c "^$warning" "$work/err")"
out=$("$cli" path --no-validate "$unread" 0.0 2>"$work/err"); rc=$?
check "missing DTD, path" "0:/shop[0]/item[0]:1" "$rc:$out:$(grep -c "^$warning" "$work/err")"
out=$("$cli" edit --no-validate "$unread" 0.0 add-attribute --name n --value 1 2>"$work/err"); rc=$?
check "missing DTD, edit" $'0:<!DOCTYPE shop SYSTEM "shop-missing.dtd">\n<shop><item n="1">tea</item></shop>:1' \
    "$rc:$out:$(grep -c "^$warning" "$work/err")"
printf '<!DOCTYPE shop SYSTEM "shop-missing.dtd">\n<shop><item>&eacute;</item></shop>\n' >"$work/docs/entity.xml"
"$cli" tree --no-validate "$work/docs/entity.xml" >/dev/null 2>"$work/err"; rc=$?
check "an entity only the missing DTD declares" "2:1" \
    "$rc:$(grep -c "Entity 'eacute' not defined (the DTD '$work/docs/shop-missing.dtd', which could declare it, was not read)" "$work/err")"

# The internal subset and the DTD's defaults after a command.
cat >"$work/docs/subset.xml" <<'EOF'
<?xml version='1.0'?>
<!DOCTYPE shop [
  <!-- prices in euro unless said -->
  <!ENTITY % priced "<!ATTLIST item currency CDATA 'EUR'>">
  <!ELEMENT shop (item*)>   <!ELEMENT item (#PCDATA)>
  %priced;
]>
<shop><item>tea</item><item>coffee</item></shop>
EOF
out=$("$cli" edit --no-validate "$work/docs/subset.xml" 0.0 rename-element --name item --all 2>"$work/err"); rc=$?
check "internal subset verbatim, defaults not written" "0:$(cat "$work/docs/subset.xml"):" "$rc:$out:$(cat "$work/err")"

# Namespaces: a rename keeps a prefix the element declares and uses.
printf '<r><p xmlns:a="urn:a" a:x="1"><a:c/></p></r>\n' >"$work/docs/ns.xml"
out=$("$cli" edit "$work/docs/ns.xml" 0.0 rename-element --name q 2>"$work/err"); rc=$?
check "rename keeps namespaces" '0:<r><q xmlns:a="urn:a" a:x="1"><a:c/></q></r>:' "$rc:$out:$(cat "$work/err")"

# Bytes the encoding does not define: the parse fails where they stand.
printf '<?xml version="1.0" encoding="Shift_JIS"?>\n<r>\x82\xa0\x85\x40</r>\n' >"$work/docs/sjis.xml"
"$cli" tree --no-validate "$work/docs/sjis.xml" >/dev/null 2>"$work/err"; rc=$?
check "Shift_JIS undefined bytes" "2:1:1" \
    "$rc:$(grep -c 'Bytes not valid in Shift_JIS at byte 48: 0x85 0x40 0x3C 0x2F (line 2, column 5)' "$work/err"):$(grep -c 'saved after an edit U+FFFD replaces those bytes' "$work/err")"
printf '<?xml version="1.0" encoding="bogus-enc"?>\n<r/>\n' >"$work/docs/bogus.xml"
"$cli" tree --no-validate "$work/docs/bogus.xml" >/dev/null 2>"$work/err"; rc=$?
check "unknown declared encoding" "2:1" "$rc:$(grep -c '^Unsupported encoding bogus-enc (line 1)$' "$work/err")"

# An external entity in UTF-16 with its text declaration.
printf '\xff\xfe' >"$work/docs/wide.ent"
printf '<?xml version="1.0" encoding="UTF-16"?>wide' | iconv -f UTF-8 -t UTF-16LE >>"$work/docs/wide.ent"
printf '<!DOCTYPE r [<!ENTITY w SYSTEM "wide.ent">]>\n<r>&w;</r>\n' >"$work/docs/wide.xml"
out=$("$cli" tree --no-validate "$work/docs/wide.xml" 2>"$work/err"); rc=$?
check "UTF-16 external entity" $'0:0/0 r\n  4/4 wide:' "$rc:$out:$(cat "$work/err")"

finish
