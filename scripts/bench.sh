#!/usr/bin/env bash
# Usage: scripts/bench.sh [BUILD_DIR]
# Builds in Release (BUILD_DIR, default build-release) and runs every
# benchmark on documents it generates (1, 10, 50 and 100 MB), printing one
# table: each row the median and min .. max of its runs, MB/s where the
# operation covers the whole document, the peak memory of the process that
# ran it, and the ratio to its reference timed in the same run. The window is
# also measured just below the typing check's size limit. Needs no
# network once the dependencies are installed. QUORREL_BENCH_SIZES overrides
# the sizes, QUORREL_BENCH_ROWS the database rows (default 100000).
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)
build_dir=${1:-"$repo_root/build-release"}
sizes=${QUORREL_BENCH_SIZES:-"1 10 50 100"}
rows=${QUORREL_BENCH_ROWS:-100000}

"$script_dir/install-deps.sh" >&2
qscintilla_prefix=$("$script_dir/build-qscintilla.sh" | tail -n 1)
cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
	-DQSCINTILLA_PREFIX="$qscintilla_prefix" -DBUILD_TESTING=OFF >&2
cmake --build "$build_dir" -j"$(nproc)" \
	--target quorrel-bench quorrel-gui-bench quorrel-stall-bench quorrel quorrel-cli \
	quorrel-sample-db >&2

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Each program prints its rows as they come (tab-separated, marked ROW);
# progress goes to standard error.
run() { # title command...
	echo "bench: $1" >&2
	"${@:2}" | tee -a "$out" | cut -f 2,3,4 | sed 's/^/  /' >&2
}
# shellcheck disable=SC2086
run "core: open, tree items, serialise" "$build_dir/bench/quorrel-bench" $sizes --commands 10
# The window also just below the typing check's size limit (16 MB), where it
# still checks; in ascending order, so each size's peak memory is its own.
window_sizes=$(printf '%s\n' $sizes 15.9 | sort -g -u | tr '\n' ' ')
# shellcheck disable=SC2086
run "window (offscreen)" "$build_dir/bench/quorrel-gui-bench" $window_sizes 2> >(grep -v propagateSizeHints >&2)
# The window as a user drives it, from outside (start-up, exit) and inside
# (each menu command and dialog), with the longest stall of its event loop;
# beside xmllint and xmlstarlet. On the sizes from 10 MB up.
stall_sizes=$(printf '%s\n' $sizes | awk '$1 >= 10' | tr '\n' ' ')
if [ -n "$stall_sizes" ]; then
	# shellcheck disable=SC2086
	run "window stalls (offscreen)" "$build_dir/bench/quorrel-stall-bench" --app "$build_dir/quorrel" \
		--cli "$build_dir/quorrel-cli" --rows "$rows" $stall_sizes 2> >(grep -v propagateSizeHints >&2)
fi
run "database generation" bash "$repo_root/bench/db2xml_bench.sh" "$build_dir" "$rows"

echo "Quorrel benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(git -C "$repo_root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
{
	printf 'operation\tsize\tmedian\tmin .. max\truns\tMB/s\tpeak memory\tratio to reference\n'
	grep '^ROW' "$out" | cut -f 2-
} | column -t -s $'\t'
