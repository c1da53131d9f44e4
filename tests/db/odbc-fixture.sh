#!/usr/bin/env bash
# Usage: tests/db/odbc-fixture.sh start|stop DIR [BUILD_DIR]
# start: a throwaway PostgreSQL 15 server on 127.0.0.1 (random port, data in
# /tmp), seeded with tests/data/db/edge-pg.sql; the SQLite database DIR/edge.db
# from tests/data/db/edge-sqlite.sql; and in DIR the driver list (odbcinst.ini),
# the data sources lite, pgw (PostgreSQL Unicode) and pga (PostgreSQL ANSI) in
# odbc.ini, pgwc and pgac as those two fetching through a cursor 100 rows at a
# time, silent on a port where nothing answers; and the sample data
# source QuorrelSample in user.ini, registered by
# scripts/register-sample-dsn.sh BUILD_DIR. Tests then run with
# ODBCSYSINI=DIR and ODBCINI=DIR/user.ini; nothing under /etc or $HOME changes.
# stop: stops the server and removes its data, even after a failed start.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/../.." && pwd)
data_dir=$repo_root/tests/data/db

action=${1:?start or stop}
dir=${2:?fixture directory}
build_dir=${3:-$repo_root/build}
state=$dir/pg.state
PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
ODBC_LIB=${ODBC_LIB:-/usr/lib/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)/odbc}

# postgres refuses to run as root: as root the server runs as the postgres user.
as_pg() {
	if [[ $(id -u) == 0 ]]; then
		(cd "$pg_dir" && runuser -u postgres -- "$@")
	else
		(cd "$pg_dir" && "$@")
	fi
}

stop_server() {
	[[ -f $state ]] || return 0
	pg_dir=$(<"$state")
	if [[ -n $pg_dir && -d $pg_dir ]]; then
		as_pg "$PG_BIN/pg_ctl" -D "$pg_dir/data" -m immediate -w stop >/dev/null 2>&1 || true
		rm -rf "$pg_dir"
	fi
	rm -f "$state"
}

psql_super() {
	as_pg "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$pg_dir" -p "$port" "$@"
}

start_server() {
	pg_dir=$(mktemp -d /tmp/quorrel-pg.XXXXXX)
	echo "$pg_dir" >"$state"
	if [[ $(id -u) == 0 ]]; then
		chown postgres:postgres "$pg_dir"
	fi
	chmod 700 "$pg_dir"
	if ! as_pg "$PG_BIN/initdb" -N -D "$pg_dir/data" -U postgres -E UTF8 --locale=C.UTF-8 \
		--auth-local=trust --auth-host=scram-sha-256 >"$pg_dir/initdb.log" 2>&1; then
		cat "$pg_dir/initdb.log" >&2
		return 1
	fi
	local try
	for try in 1 2 3 4 5 6 7 8 9 10; do
		port=$((20000 + RANDOM % 40000))
		if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
			continue # in use
		fi
		if as_pg "$PG_BIN/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w -t 30 -o \
			"-p $port -c listen_addresses=127.0.0.1 -c unix_socket_directories=$pg_dir -c fsync=off" \
			start >/dev/null; then
			return 0
		fi
	done
	cat "$pg_dir/server.log" >&2
	return 1
}

write_odbc_files() {
	local silent_port
	while :; do
		silent_port=$((20000 + RANDOM % 40000))
		[[ $silent_port != "$port" ]] || continue
		(exec 3<>"/dev/tcp/127.0.0.1/$silent_port") 2>/dev/null || break
	done
	cat >"$dir/odbcinst.ini" <<INI
[SQLite3]
Driver=$ODBC_LIB/libsqlite3odbc.so
[PostgreSQL Unicode]
Driver=$ODBC_LIB/psqlodbcw.so
[PostgreSQL ANSI]
Driver=$ODBC_LIB/psqlodbca.so
INI
	cat >"$dir/odbc.ini" <<INI
[lite]
Driver=SQLite3
Database=$dir/edge.db
NoCreat=1
[pgw]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$port
Database=appdb
[pga]
Driver=PostgreSQL ANSI
Servername=127.0.0.1
Port=$port
Database=appdb
[pgwc]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$port
Database=appdb
UseDeclareFetch=1
Fetch=100
[pgac]
Driver=PostgreSQL ANSI
Servername=127.0.0.1
Port=$port
Database=appdb
UseDeclareFetch=1
Fetch=100
[silent]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$silent_port
Database=appdb
INI
	# The ports, for tests that reach the server otherwise, and for the test
	# that listens on the silent data source's port and never answers.
	echo "$port" >"$dir/pg.port"
	echo "$silent_port" >"$dir/silent.port"
}

case $action in
start)
	mkdir -p "$dir"
	dir=$(cd -- "$dir" && pwd)
	state=$dir/pg.state
	stop_server # left over from an interrupted run
	rm -f "$dir/edge.db" "$dir/user.ini"
	sqlite3 -bail "$dir/edge.db" ".read $data_dir/edge-sqlite.sql"
	# A start that fails half-way leaves no server behind: ctest runs no
	# cleanup for a run of the setup alone.
	trap stop_server EXIT
	start_server
	psql_super -d postgres -f - <"$data_dir/edge-pg.sql" >/dev/null
	write_odbc_files
	ODBCSYSINI=$dir ODBCINI=$dir/user.ini "$repo_root/scripts/register-sample-dsn.sh" "$build_dir"
	trap - EXIT
	echo "odbc-fixture: PostgreSQL on 127.0.0.1:$port, data sources in $dir"
	;;
stop)
	stop_server
	;;
*)
	echo "usage: $0 start|stop DIR [BUILD_DIR]" >&2
	exit 2
	;;
esac
