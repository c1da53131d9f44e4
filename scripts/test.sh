#!/usr/bin/env bash
# Installs the dependencies, checks that the C++ files are as clang-format
# writes them (scripts/format.sh --check; a difference fails the run before
# anything is built), builds with warnings as errors and runs every test; then
# the same tests again under AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/sanitize.sh), the core's and the long-work window tests under
# ThreadSanitizer (scripts/tsan.sh), and each fuzz target for a minute
# (scripts/fuzz.sh). QUORREL_EXTRA_CHECKS=0 leaves those three out. Exits
# non-zero on any failure.
set -uo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)

"$script_dir/install-deps.sh" || exit 1
echo "== Formatting"
"$script_dir/format.sh" --check || exit 1

"$script_dir/build.sh" "$repo_root/build" RelWithDebInfo -DQUORREL_WERROR=ON || exit 1

summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
ctest --test-dir "$repo_root/build" --output-on-failure -j2 | tee "$summary"
status=${PIPESTATUS[0]}

if [[ ${QUORREL_EXTRA_CHECKS:-1} != 0 ]]; then
	echo
	echo "== The tests again under AddressSanitizer and UndefinedBehaviorSanitizer"
	"$script_dir/sanitize.sh" || status=1
	echo
	echo "== The core and long-work window tests under ThreadSanitizer"
	"$script_dir/tsan.sh" || status=1
	echo
	echo "== Fuzzing, a minute per target"
	"$script_dir/fuzz.sh" 60 || status=1
	# The ordinary run's summary closes the output.
	echo
	echo "== Summary of the ordinary test run"
	grep -E '^[0-9]+% tests passed' "$summary" || true
fi
exit "$status"
