# Sourced by the CLI test scripts: counted checks and the closing tally.
# A script runs its checks, then ends with `finish`, whose status is the
# script's: non-zero when any check failed.
failures=0
passes=0

check() { # name expected actual
	if [ "$2" == "$3" ]; then
		passes=$((passes + 1))
	else
		failures=$((failures + 1))
		printf 'FAIL %s\n--- expected\n%s\n--- actual\n%s\n' "$1" "$2" "$3"
	fi
}

contains() { # name needle haystack
	if [[ "$3" == *"$2"* ]]; then
		passes=$((passes + 1))
	else
		failures=$((failures + 1))
		printf 'FAIL %s: no "%s" in\n%s\n' "$1" "$2" "$3"
	fi
}

file_contains() { # name needle file
	if grep -qF -- "$2" "$3"; then
		passes=$((passes + 1))
	else
		failures=$((failures + 1))
		printf 'FAIL %s: no "%s" in\n%s\n' "$1" "$2" "$(head -c 2000 "$3")"
	fi
}

finish() { # [label]
	echo "${1:+$1: }$passes passed, $failures failed"
	((failures == 0))
}
