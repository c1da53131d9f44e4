#!/usr/bin/env bash
# Usage: bench/db2xml_bench.sh [BUILD_DIR] [ROWS]
# Times quorrel-cli db2xml on ROWS rows x 6 columns (default 100000) from
# SQLite and from PostgreSQL (through both of its ODBC drivers), beside
# PostgreSQL's own query_to_xml of the same statement in the same run, and
# prints rows per second and the ratio. Uses the throwaway server and data
# sources of tests/db/odbc-fixture.sh; nothing outside a temporary folder
# changes. Each figure is the best of three runs, output to /dev/null.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)
build_dir=$(cd -- "${1:-$repo_root/build}" && pwd)
rows=${2:-100000}
cli=$build_dir/quorrel-cli
fixture=$repo_root/tests/db/odbc-fixture.sh
PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}

[[ -x $cli ]] || {
	echo "db2xml_bench: no $cli; build first (scripts/build.sh)" >&2
	exit 1
}
work=$(mktemp -d /tmp/quorrel-bench.XXXXXX)
cleanup() {
	bash "$fixture" stop "$work" || true
	rm -rf "$work"
}
trap cleanup EXIT
if ! bash "$fixture" start "$work" "$build_dir" >"$work/fixture.log" 2>&1; then
	cat "$work/fixture.log" >&2
	exit 1
fi
export ODBCSYSINI=$work ODBCINI=$work/user.ini
port=$(<"$work/pg.port")

# The same rows in both databases: an integer, a text, a decimal, a count, a
# date and a longer text.
sqlite3 "$work/edge.db" <<SQL
CREATE TABLE big (id INTEGER, name VARCHAR(40), price DECIMAL(10,2), qty INTEGER, created DATE, note TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
INSERT INTO big SELECT i, 'Product ' || i, (i % 1000) + 0.25, i % 97, date('2024-01-01', '+' || (i % 365) || ' days'),
  'Note for row ' || i || ': handmade, boxed & labelled <ok>' FROM n;
SQL
PGPASSWORD=secret "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U app -d appdb <<SQL
CREATE TABLE big (id integer, name varchar(40), price numeric(10,2), qty integer, created date, note text);
INSERT INTO big SELECT i, 'Product ' || i, (i % 1000) + 0.25, i % 97, date '2024-01-01' + (i % 365),
  'Note for row ' || i || ': handmade, boxed & labelled <ok>' FROM generate_series(1, $rows) AS i;
ANALYZE big;
SQL

query='SELECT id, name, price, qty, created, note FROM big ORDER BY id'

# Best wall time of three runs of a command, in seconds.
best_of_three() {
	local best="" start end t
	for _ in 1 2 3; do
		start=$(date +%s.%N)
		"$@" >/dev/null || {
			echo "db2xml_bench: failed: $*" >&2
			exit 1
		}
		end=$(date +%s.%N)
		t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')
		if [[ -z $best ]] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then
			best=$t
		fi
	done
	echo "$best"
}

check_rows() { # dsn user
	local n
	n=$(QUORREL_ODBC_PASSWORD=secret "$cli" db2xml --dsn "$1" --user "$2" --query "$query" --max-rows "$rows" |
		grep -c '^	<row>$')
	[[ $n == "$rows" ]] || {
		echo "db2xml_bench: $1 gave $n rows, not $rows" >&2
		exit 1
	}
}
check_rows lite ""
check_rows pgw app

export QUORREL_ODBC_PASSWORD=secret
t_lite=$(best_of_three "$cli" db2xml --dsn lite --query "$query" --max-rows "$rows")
t_lite_attr=$(best_of_three "$cli" db2xml --dsn lite --query "$query" --max-rows "$rows" --modes A,A,A,A,A,A)
t_pgw=$(best_of_three "$cli" db2xml --dsn pgw --user app --query "$query" --max-rows "$rows")
t_pga=$(best_of_three "$cli" db2xml --dsn pga --user app --query "$query" --max-rows "$rows")
t_pg_xml=$(PGPASSWORD=secret best_of_three "$PG_BIN/psql" -X -q -A -t -h 127.0.0.1 -p "$port" -U app -d appdb \
	-c "SELECT query_to_xml('$query', false, false, '')")

report() { # label seconds
	awk -v label="$1" -v t="$2" -v n="$rows" 'BEGIN { printf "%-46s %8.3f s %10.0f rows/s\n", label, t, n / t }'
}
echo "db2xml_bench: $rows rows x 6 columns, best of 3, output to /dev/null"
report "quorrel-cli db2xml, SQLite (elements)" "$t_lite"
report "quorrel-cli db2xml, SQLite (attributes)" "$t_lite_attr"
report "quorrel-cli db2xml, PostgreSQL Unicode driver" "$t_pgw"
report "quorrel-cli db2xml, PostgreSQL ANSI driver" "$t_pga"
report "PostgreSQL query_to_xml (psql)" "$t_pg_xml"
ratio() { # label seconds seconds
	awk -v label="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%-46s %8.2f (time ratio; above 1 is slower)\n", label, a / b }'
}
ratio "db2xml PostgreSQL Unicode / query_to_xml" "$t_pgw" "$t_pg_xml"
ratio "db2xml SQLite / query_to_xml" "$t_lite" "$t_pg_xml"
