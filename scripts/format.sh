#!/usr/bin/env bash
# Usage: scripts/format.sh [--check]
# Applies clang-format, with the repository's .clang-format, to the project's
# C++ files (tracked, or new and not ignored). --check changes nothing: it
# prints each file that would change with its diff and exits non-zero when
# there is one.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)
cd "$repo_root"

check=0
case ${1:-} in
--check) check=1 ;;
"") ;;
*)
	echo "usage: scripts/format.sh [--check]" >&2
	exit 64
	;;
esac

if ! command -v clang-format >/dev/null 2>&1; then
	echo "format: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
	exit 1
fi

# Outside a git checkout, every C++ file but the build folders'.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
	mapfile -d '' files < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h')
else
	mapfile -d '' files < <(find . -path './build*' -prune -o -path ./.cache -prune -o \
		-type f \( -name '*.cpp' -o -name '*.h' \) -print0)
fi

if ((check == 0)); then
	clang-format -i -- "${files[@]}"
	exit 0
fi

drifting=()
for file in "${files[@]}"; do
	[[ -f $file ]] || continue # listed, but deleted in the work tree
	if ! diff -u --label "$file" --label "$file (formatted)" -- "$file" <(clang-format -- "$file"); then
		drifting+=("$file")
	fi
done
if ((${#drifting[@]} > 0)); then
	echo "format: ${#drifting[@]} file(s) differ from clang-format: ${drifting[*]}" >&2
	echo "format: scripts/format.sh formats them" >&2
	exit 1
fi
echo "format: ${#files[@]} files as clang-format writes them"
