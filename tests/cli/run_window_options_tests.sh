#!/usr/bin/env bash
# The window's program answers --help and --version on a terminal with no
# display at all, as command-line programs do. Usage: run_window_options_tests.sh QUORREL
set -u
quorrel=$1
. "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

# No display, no platform chosen: what a shell over ssh has.
bare() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$quorrel" "$@"; }

for option in --help -h; do
	out=$(bare "$option" 2>&1)
	rc=$?
	check "$option: status" 0 "$rc"
	contains "$option: usage" "Usage: " "$out"
	contains "$option: the file argument" "[FILE]" "$out"
	contains "$option: the version option" "--version" "$out"
done

for option in --version -v; do
	out=$(bare "$option" 2>&1)
	rc=$?
	check "$option: status" 0 "$rc"
	check "$option: text" "Quorrel 1.0" "$out"
done

# Beside a file name, or after another option, it is still only the answer.
out=$(bare some.xml --version 2>&1)
check "file then --version" "Quorrel 1.0" "$out"
out=$(bare --help some.xml >/dev/null 2>&1; echo $?)
check "--help then a file: status" 0 "$out"

finish
