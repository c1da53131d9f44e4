#!/usr/bin/env bash
# Usage: bench/db2xml_bench.sh [BUILD_DIR] [ROWS]
# Times quorrel-cli db2xml on ROWS rows x 6 columns (default 100000) from
# SQLite and from PostgreSQL (through both of its ODBC drivers), beside
# PostgreSQL's own query_to_xml of the same statement in the same run, and
# prints rows per second, peak memory and the ratio. Uses the throwaway server and data
# sources of tests/db/odbc-fixture.sh; nothing outside a temporary folder
# changes. Each figure is the median of five runs, output to /dev/null, printed
# as rows of scripts/bench.sh's table.
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

runs=5
# Times a command $runs times, output to /dev/null; prints the sorted wall
# times in seconds on one line, then the largest peak resident size in kB.
time_runs() {
	local times=() peak=0 start end kb
	for ((i = 0; i < runs; i++)); do
		start=$(date +%s.%N)
		/usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null || {
			echo "db2xml_bench: failed: $*" >&2
			exit 1
		}
		end=$(date +%s.%N)
		times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')")
		kb=$(tail -n 1 "$work/peak")
		((kb > peak)) && peak=$kb
	done
	printf '%s\n' "${times[@]}" | sort -g | tr '\n' ' '
	echo
	echo "$peak"
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
# The reference first, so every row can give its ratio.
reference=$(PGPASSWORD=secret time_runs "$PG_BIN/psql" -X -q -A -t -h 127.0.0.1 -p "$port" -U app -d appdb \
	-c "SELECT query_to_xml('$query', false, false, '')")
ref_median=$(echo "$reference" | head -n 1 | awk '{ print $(int(NF / 2) + 1) }')

# One table row (see bench/BenchTable.h): operation, rows, median, min .. max,
# runs, rows/s, peak, ratio to query_to_xml.
row() { # label result-of-time_runs [reference-median]
	echo "$2" | awk -v label="$1" -v n="$rows" -v ref="${3:-}" '
		NR == 1 { k = NF; med = $(int(k / 2) + 1); lo = $1; hi = $k }
		NR == 2 { peak = $1 / 1024 }
		END {
			ratio = ref == "" ? "-" : sprintf("%.2f x query_to_xml", med / ref)
			printf "ROW\t%s\t%d rows\t%.3f s\t%.3f s .. %.3f s\t%d\t%.0f rows/s\t%.0f MB\t%s\n",
				label, n, med, lo, hi, k, n / med, peak, ratio
		}'
}
row "PostgreSQL query_to_xml via psql (reference)" "$reference"
row "quorrel-cli db2xml, PostgreSQL Unicode driver" \
	"$(time_runs "$cli" db2xml --dsn pgw --user app --query "$query" --max-rows "$rows")" "$ref_median"
row "quorrel-cli db2xml, PostgreSQL ANSI driver" \
	"$(time_runs "$cli" db2xml --dsn pga --user app --query "$query" --max-rows "$rows")" "$ref_median"
row "quorrel-cli db2xml, SQLite (elements)" \
	"$(time_runs "$cli" db2xml --dsn lite --query "$query" --max-rows "$rows")" "$ref_median"
row "quorrel-cli db2xml, SQLite (attributes)" \
	"$(time_runs "$cli" db2xml --dsn lite --query "$query" --max-rows "$rows" --modes A,A,A,A,A,A)" "$ref_median"
