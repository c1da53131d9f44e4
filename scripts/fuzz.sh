#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [seconds-per-target] [build-dir]
# Builds the libFuzzer targets of fuzz/ with clang (default build dir
# build-fuzz) and runs each for a bounded time (default 60 s), two at a time,
# on a scratch copy of its seed corpus fuzz/corpus/<target> and the inputs
# of fuzz/regressions/<target>. A failing input is printed in base64: save it
# under fuzz/regressions/<target>/ so that the tests replay it from then on.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)
seconds=${1:-60}
build_dir=${2:-"$repo_root/build-fuzz"}
targets=(load codec colorize commands)

"$script_dir/install-deps.sh"
qscintilla_prefix=$("$script_dir/build-qscintilla.sh" | tail -n 1)

cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DCMAKE_CXX_COMPILER=clang++ -DQUORREL_FUZZ=ON -DQUORREL_BENCH=OFF -DBUILD_TESTING=OFF \
	-DQSCINTILLA_PREFIX="$qscintilla_prefix" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target "${targets[@]/#/fuzz-}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]]; then
	export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi
export LSAN_OPTIONS=suppressions=$script_dir/sanitizers/lsan.supp:print_suppressions=0

run_target() {
	local name=$1 dir=$work/$1
	mkdir -p "$dir/corpus" "$dir/artifacts"
	local inputs=("$dir/corpus" "$repo_root/fuzz/corpus/$name")
	[[ -d $repo_root/fuzz/regressions/$name ]] && inputs+=("$repo_root/fuzz/regressions/$name")
	# -timeout: one input running this long counts as a hang.
	"$build_dir/fuzz/fuzz-$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
		-artifact_prefix="$dir/artifacts/" "${inputs[@]}" >"$dir/log" 2>&1
}

report() {
	local name=$1 status=$2 dir=$work/$1
	if ((status == 0)); then
		echo "fuzz-$name: $(grep -E '^Done [0-9]+ runs' "$dir/log" | tail -n 1 || echo done), no failure"
		return 0
	fi
	echo "fuzz-$name: FAILED (exit status $status); the end of its log:"
	tail -n 60 "$dir/log"
	local input
	for input in "$dir"/artifacts/*; do
		[[ -f $input ]] || continue
		echo "failing input $(basename "$input"), base64 (save it as fuzz/regressions/$name/<what-it-shows>):"
		base64 -w 0 "$input"
		echo
	done
	return 1
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
	pair=("${targets[@]:i:2}")
	pids=()
	for name in "${pair[@]}"; do
		run_target "$name" &
		pids+=($!)
	done
	for k in "${!pair[@]}"; do
		status=0
		wait "${pids[k]}" || status=$?
		report "${pair[k]}" "$status" || failed=1
	done
done
exit "$failed"
