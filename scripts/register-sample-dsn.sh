#!/usr/bin/env bash
# Usage: scripts/register-sample-dsn.sh [BUILD_DIR]
# Registers the user data source QuorrelSample (SQLite driver "SQLite3") on
# the sample shop database that the build makes in BUILD_DIR/samples (default
# BUILD_DIR: build under the repository), the standard way with odbcinst. The
# entry goes to the user's ~/.odbc.ini, or to $ODBCINI when that is set.
# Does nothing when the entry is already there as it should be.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)
build_dir=${1:-"$repo_root/build"}

dsn=QuorrelSample
driver=SQLite3

die() {
	echo "register-sample-dsn: $*" >&2
	exit 1
}

command -v odbcinst >/dev/null 2>&1 || die "odbcinst not found; run scripts/install-deps.sh (unixodbc)"
[[ -d $build_dir ]] || die "no build folder $build_dir; run scripts/build.sh first"
database=$(cd -- "$build_dir" && pwd)/samples/QuorrelSample.db
[[ -f $database ]] || die "no sample database $database; build first (scripts/build.sh)"

template="[$dsn]
Description=Quorrel sample shop (SQLite)
Driver=$driver
Database=$database
NoCreat=1"

# Already registered with these settings: nothing to do.
current=$(odbcinst -q -s -n "$dsn" 2>/dev/null || true)
if [[ $current == "$template" ]]; then
	exit 0
fi

if [[ -n $current ]]; then
	odbcinst -u -s -h -n "$dsn" >/dev/null
fi
template_file=$(mktemp)
trap 'rm -f "$template_file"' EXIT
printf '%s\n' "$template" >"$template_file"
odbcinst -i -s -h -f "$template_file" >/dev/null
echo "register-sample-dsn: data source $dsn on $database" >&2
