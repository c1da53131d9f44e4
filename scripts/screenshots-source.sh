#!/usr/bin/env bash
# Usage: scripts/screenshots-source.sh [BUILD_DIR] [OUT_DIR]
# Takes the source pane's screenshots on a real X server (Xvfb with openbox),
# driving the window with xdotool as a user does: the sample catalogue with its
# DOCTYPE and three books folded (source-folding.png), then a closing tag
# mistyped, marked once typing pauses (source-typing-error.png). BUILD_DIR
# defaults to build, OUT_DIR to res/screenshots. The clicks assume the
# 1200x760 window the script sets and the fixed font's 21-pixel lines under
# Xvfb.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)
build_dir=$(realpath -- "${1:-"$repo_root/build"}")
out_dir=$(realpath -m -- "${2:-"$repo_root/res/screenshots"}")
"$script_dir/install-deps.sh" >&2

work=$(mktemp -d)
pids=()
cleanup() {
	for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
		kill "${pids[i]}" 2>/dev/null || true
		wait "${pids[i]}" 2>/dev/null || true
	done
	rm -rf "$work"
}
trap cleanup EXIT

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do
	xdotool getdisplaygeometry >/dev/null 2>&1 && break
	sleep 0.1
done
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
sleep 1

cp "$repo_root/res/samples/catalog.xml" "$work/catalog.xml"
(cd "$work" && XDG_CONFIG_HOME="$work/config" exec "$build_dir/quorrel" catalog.xml) \
	>"$work/quorrel.log" 2>&1 &
pids+=($!)
window=""
for _ in $(seq 100); do
	window=$(xdotool search --name '^catalog.xml - Quorrel$' 2>/dev/null | head -n 1 || true)
	[[ -n "$window" ]] && break
	sleep 0.1
done
if [[ -z "$window" ]]; then
	echo "screenshots: the window did not appear" >&2
	exit 1
fi
xdotool windowmove "$window" 0 0 windowsize "$window" 1200 760
sleep 1

# The vertical middle of the row'th line on the screen, the fold margin's middle.
row() { echo $((60 + ($1 - 1) * 21)); }
fold_x=66
click() { # x y
	xdotool mousemove "$1" "$2" click 1
	sleep 0.3
}
shot() { # file
	xdotool mousemove 900 790
	sleep 0.5
	import -window root -crop 1200x760+0+0 +repage "$1"
	echo "screenshots: $1" >&2
}

mkdir -p "$out_dir"
# The DOCTYPE (line 2), then the books from the bottom up (lines 48, 43, 37).
click $fold_x "$(row 2)"
for r in 21 16 10; do
	click $fold_x "$(row "$r")"
done
shot "$out_dir/source-folding.png"

# The first book open again; its price's end tag mistyped as </prise>.
click $fold_x "$(row 10)"
click 300 "$(row 13)"
xdotool key End BackSpace BackSpace BackSpace
xdotool type --delay 80 "se>"
sleep 1.5
shot "$out_dir/source-typing-error.png"
