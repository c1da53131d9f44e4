#!/usr/bin/env bash
# Usage: scripts/sanitize.sh [build-dir]
# Builds the core, quorrel-cli, the GoogleTest tests and the offscreen window
# tests once more with AddressSanitizer and UndefinedBehaviorSanitizer (leak
# detection on) in a build directory of their own (default build-sanitize),
# and runs those tests there. Any finding fails its test; exits non-zero then.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)
build_dir=${1:-"$repo_root/build-sanitize"}

"$script_dir/install-deps.sh"
qscintilla_prefix=$("$script_dir/build-qscintilla.sh" | tail -n 1)

cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DQUORREL_SANITIZE=ON -DQUORREL_BENCH=OFF -DQSCINTILLA_PREFIX="$qscintilla_prefix" >/dev/null

# Only what these tests need; not the window program itself, whose tests under
# X run in the ordinary build. The database tests bring their own fixture
# (tests/db/odbc-fixture.sh): ctest starts it, and it reads the sample database.
mapfile -t gui_tests < <(ninja -C "$build_dir" -t targets all |
	sed -n 's/^\(gui_[A-Za-z0-9_]*Test\): .*/\1/p' | sort -u)
cmake --build "$build_dir" -j"$(nproc)" --target quorrel_tests quorrel_db_tests quorrel-cli \
	quorrel-test-httpd quorrel-sample-db quorrel_no_tmpfile "${gui_tests[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0:strict_string_checks=1
# The system corpus test takes every 8th file here: the sanitizers make it slow.
export QUORREL_CORPUS_EVERY=8
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$script_dir/sanitizers/lsan.supp:print_suppressions=0

exec ctest --test-dir "$build_dir" --output-on-failure -j2 \
	-E '^qscintilla-is-ours$|^x11\.window$|^cli\.window-options$|_NOT_BUILT$'
