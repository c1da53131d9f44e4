#!/usr/bin/env bash
# End-to-end checks of quorrel-cli db2xml against the data sources that
# tests/db/odbc-fixture.sh sets up (ODBCSYSINI and ODBCINI point at them).
set -u
cli=$1
fixture=$2
. "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset QUORREL_ODBC_PASSWORD

[[ -f $fixture/odbc.ini ]] || {
	echo "no data sources in $fixture (run through ctest)"
	exit 1
}

out=$("$cli" --help)
check "help names db2xml" 1 "$(grep -c '^  db2xml --dsn' <<<"$out")"

# The sample data source works out of the box.
"$cli" db2xml --dsn QuorrelSample --query 'SELECT * FROM products' >"$work/products.xml" 2>"$work/err"
rc=$?
check "sample: status" 0 "$rc"
check "sample: quiet" "" "$(cat "$work/err")"
check "sample: seven rows" 7 "$(grep -c '^	<row>$' "$work/products.xml")"
check "sample: escaped column name" 1 "$(grep -c '<unit_x0020_price>49.9</unit_x0020_price>' "$work/products.xml")"
check "sample: base64 picture" 1 "$(grep -c '<picture>iVBORw0KGgo' "$work/products.xml")"
"$cli" tree "$work/products.xml" >/dev/null
check "sample: the output opens as a document" 0 "$?"

out=$("$cli" db2xml --dsn QuorrelSample --query '  select * from customers' --list-columns)
check "list columns" $'id\nname\ncity\nemail' "$out"

# The worked example, byte for byte.
out=$("$cli" db2xml --dsn lite --query 'SELECT id AS ID, name AS NAME FROM t WHERE id IN (1, 4) ORDER BY id' --modes A,E)
check "worked example" $'<?xml version = "1.0"?>\n<rowset>\n\t<row ID="1">\n\t\t<NAME>Alice</NAME>\n\t\t</row>\n\t<row ID="4">\n\t\t<NAME>Zoë, 東京</NAME>\n\t\t</row>\n\t</rowset>' "$out"

# Choices in column order; missing ones are elements; a long list is read whole.
out=$("$cli" db2xml --dsn lite --query 'SELECT * FROM odd' --modes a,e,a,e,a,e,a,a,a)
check "modes" $'<?xml version = "1.0"?>\n<rowset>\n\t<row unit_x0020_price="12.5" a_x003A_b="2" padded="4" Grüße="6">\n\t\t<MixedCase>1</MixedCase>\n\t\t<_x0031_st>3</_x0031_st>\n\t\t<_x0041_>5</_x0041_>\n\t\t</row>\n\t</rowset>' "$out"
out=$("$cli" db2xml --dsn lite --query 'SELECT id, name FROM t WHERE id = 2' --modes A)
check "missing mode is an element; NULL is empty" $'<?xml version = "1.0"?>\n<rowset>\n\t<row id="2">\n\t\t<name/>\n\t\t</row>\n\t</rowset>' "$out"

# Row limits: default 500, 0, and beyond the dialog's 600.
check "max rows 2" 2 "$("$cli" db2xml --dsn lite --query 'SELECT id FROM t' --max-rows 2 | grep -c '<row>')"
check "max rows 0" $'<?xml version = "1.0"?>\n<rowset>\n\t</rowset>' "$("$cli" db2xml --dsn lite --query 'SELECT id FROM t' --max-rows 0)"
check "max rows 1000" 5 "$("$cli" db2xml --dsn lite --query 'SELECT id FROM t' --max-rows 1000 | grep -c '<row>')"
out=$("$cli" db2xml --dsn QuorrelSample --query 'SELECT * FROM (WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 700) SELECT i FROM n)' | grep -c '<row>')
check "default limit 500" 500 "$out"

# The server, through both drivers; the password from the environment.
for dsn in pgw pga; do
	out=$(QUORREL_ODBC_PASSWORD=secret "$cli" db2xml --dsn $dsn --user app --query 'SELECT fixed, data FROM t WHERE id = 1' --modes a,E 2>"$work/err")
	check "$dsn: padded char and bytea" $'<?xml version = "1.0"?>\n<rowset>\n\t<row fixed="ab">\n\t\t<data>AP9B</data>\n\t\t</row>\n\t</rowset>' "$out"
	check "$dsn: quiet" "" "$(cat "$work/err")"
	out=$(QUORREL_ODBC_PASSWORD=secret "$cli" db2xml --dsn $dsn --user app --password wrong --query 'SELECT 1' 2>"$work/err")
	rc=$?
	check "$dsn: wrong password status" 1 "$rc"
	check "$dsn: nothing generated" "" "$out"
	check "$dsn: the driver's message, once" 1 "$(grep -c 'password authentication failed for user "app"' "$work/err")"
	check "$dsn: one line" 1 "$(wc -l <"$work/err")"
done
"$cli" db2xml --dsn pgw --user app --query 'SELECT 1' >/dev/null 2>"$work/err"
check "no password" 1 "$?"

# Messages go to standard error with status 1, and nothing is generated.
out=$("$cli" db2xml --dsn lite --query 'with x as (select 1) select * from x' 2>"$work/err")
rc=$?
check "not a select: status" 1 "$rc"
check "not a select: message" $'Error: Invalid query\nQuery must start with a SELECT keyword' "$(cat "$work/err")"
check "not a select: no output" "" "$out"
out=$("$cli" db2xml --dsn lite --query 'SELECT * FROM nosuch' 2>"$work/err")
rc=$?
check "missing table: status" 1 "$rc"
check "missing table: message" "[SQLite]no such table: nosuch (1)" "$(cat "$work/err")"
check "missing table: no output" "" "$out"
out=$("$cli" db2xml --dsn NoSuchSource --query 'SELECT 1' --list-columns 2>"$work/err")
rc=$?
check "unknown source: status" 1 "$rc"
check "unknown source: message" "[unixODBC][Driver Manager]Data source name not found and no default driver specified" "$(cat "$work/err")"
out=$("$cli" db2xml --dsn lite --query 'SELECT id FROM empty_t' --list-columns 2>"$work/err")
check "no rows: no names" "0:" "$?:$out$(cat "$work/err")"

# Hostile data. The server process ends in the middle of the rows: a message, nothing else.
out=$("$cli" db2xml --dsn pgac --user app --password secret --max-rows 1000 \
	--query 'SELECT i, CASE WHEN i = 300 THEN pg_terminate_backend(pg_backend_pid()) END FROM generate_series(1, 1000) AS i' 2>"$work/err")
check "server lost: status, output" "1:" "$?:$out"
check "server lost: message" 1 "$(grep -c 'The connection has been lost' "$work/err")"
# Names of characters to escape only make a document that opens.
"$cli" db2xml --dsn pgw --user app --password secret --modes A,E,A,E \
	--query 'SELECT 1 AS "? <>&", 2 AS "   ", 3 AS "«—»", 4 AS "<x/>"' >"$work/names.xml"
check "escaped names: status" 0 "$?"
check "escaped names: the output opens" 0 "$("$cli" tree "$work/names.xml" >/dev/null; echo $?)"
check "escaped names: blanks" 1 "$(grep -c '<_x0020__x0020__x0020_>2<' "$work/names.xml")"
# A value of 100 MB with too little memory for it: a message, or the value
# whole; never a silent loss (libxml2 left the text out) nor an abort. The
# sanitizers' allocator takes no address-space limit.
if ! ldd "$cli" | grep -q libasan; then
	for dsn in lite pgw; do
		value="repeat('x', 100000000)"
		[[ $dsn == lite ]] && value="printf('%.*c', 100000000, 'x')"
		for limit in 300 400 500 600 700; do
			size=$(
				ulimit -v $((limit * 1024))
				"$cli" db2xml --dsn $dsn --user app --password secret --query "SELECT $value AS v" 2>"$work/err" | wc -c
				echo ":${PIPESTATUS[0]}"
			)
			size=${size//$'\n'/}
			case $size in
			100000070:0) passes=$((passes + 1)) ;;
			0:1) check "$dsn in $limit MB: a message" 1 "$(grep -c 'not enough memory\|out of memory\|Out of memory\|unknown error' "$work/err")" ;;
			*) check "$dsn in $limit MB: size:status" "100000070:0 or 0:1" "$size" ;;
			esac
		done
	done
fi

# Usage errors.
for args in "--query x" "--dsn lite" "--dsn lite --query 'SELECT 1' --max-rows -1" \
	"--dsn lite --query 'SELECT 1' --max-rows 2x" "--dsn lite --query 'SELECT 1' --bogus" \
	"--dsn lite --query 'SELECT 1' extra" "--dsn"; do
	eval "\"\$cli\" db2xml $args" >/dev/null 2>&1
	check "usage: $args" 64 "$?"
done

finish db2xml
