#!/usr/bin/env bash
# Golden edits: each folder of tests/data/golden holds a document, input.xml,
# and for each case NAME of its list an expected text NAME.xml. The list is
# the folder's own file commands, else golden/commands, one case a line:
#   NAME: ITEM COMMAND [--all] [--name TEXT] [--value TEXT]   (quorrel-cli edit)
#   NAME: format [--indent N|tab]                             (quorrel-cli format)
# A case is added by adding its line and its expected file.
# Usage: run_golden_tests.sh QUORREL-CLI GOLDEN-DIR [--update]
# --update writes what the program gives as the expected files (read the
# diffs before committing them).
set -u
cli=$1
golden=$2
update=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0 failed=0
for dir in "$golden"/*/; do
	dir=${dir%/}
	input=$dir/input.xml
	[[ -f $input ]] || continue
	list=$dir/commands
	[[ -f $list ]] || list=$golden/commands
	while IFS= read -r line || [[ -n $line ]]; do
		[[ -z $line || $line == \#* ]] && continue
		name=${line%%:*}
		eval "set -- ${line#*:}"
		out=$work/out.xml
		if [[ $1 == format ]]; then
			shift
			"$cli" format --no-validate "$@" "$input" >"$out" 2>"$work/err"
		else
			"$cli" edit --no-validate "$input" "$@" >"$out" 2>"$work/err"
		fi
		rc=$?
		case=$(basename "$dir")/$name
		expected=$dir/$name.xml
		if [[ -n $update ]]; then
			cp "$out" "$expected"
		fi
		if [[ $rc -ne 0 ]]; then
			echo "FAIL $case: exit status $rc: $(cat "$work/err")"
			failed=$((failed + 1))
		elif ! cmp -s "$out" "$expected"; then
			echo "FAIL $case"
			diff -u "$expected" "$out" | head -n 40
			failed=$((failed + 1))
		else
			passed=$((passed + 1))
		fi
	done <"$list"
done
echo "$passed passed, $failed failed"
((failed == 0 && passed > 0))
