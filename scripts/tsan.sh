#!/usr/bin/env bash
# Usage: scripts/tsan.sh [build-dir]
# Builds the core's GoogleTest tests and the window tests of long work once
# more with ThreadSanitizer, in a build directory of their own (default
# build-tsan), and runs them there. Any data race fails its test; exits
# non-zero then. Only these binaries are built: the pass must stay short.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)
build_dir=${1:-"$repo_root/build-tsan"}

"$script_dir/install-deps.sh"
qscintilla_prefix=$("$script_dir/build-qscintilla.sh" | tail -n 1)

cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DQUORREL_TSAN=ON -DQUORREL_BENCH=OFF -DQSCINTILLA_PREFIX="$qscintilla_prefix" >/dev/null

# The window tests whose work runs apart: the runner, long commands, the
# file open, the URL fetch, the check as it is typed and the XPath panel.
gui_tests=(gui_BackgroundWorkTest gui_LongWorkTest gui_SourceFoldingAndCheckTest gui_OpenUrlTest gui_FrameTest
	gui_XPathPanelTest)
cmake --build "$build_dir" -j"$(nproc)" --target quorrel_tests quorrel-test-httpd "${gui_tests[@]}"

# Races in the libraries we do not build (Qt's own threads) are listed,
# narrowly, in the suppressions file; ours are fatal.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$script_dir/sanitizers/tsan.supp"
export QUORREL_CORPUS_EVERY=8

status=0
# The core's tests (GoogleTest: Suite.Case), then the window's.
ctest --test-dir "$build_dir" --output-on-failure -j2 \
	-E '^gui\.|^cli|^x11\.|^odbc\.|^qscintilla-is-ours$|_NOT_BUILT$' || status=1
ctest --test-dir "$build_dir" --output-on-failure -j2 \
	-R "^gui\\.($(IFS='|'; echo "${gui_tests[*]#gui_}"))\$" || status=1
exit "$status"
