#!/usr/bin/env bash
# Usage: scripts/build.sh [build-dir] [build-type] [cmake-option...]
# Installs the dependencies, configures with CMake + Ninja and builds.
# build-dir defaults to "build" under the repository, build-type to
# RelWithDebInfo; further arguments go to CMake (-DQUORREL_WERROR=ON).
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)

build_dir=${1:-"$repo_root/build"}
build_type=${2:-RelWithDebInfo}
cmake_options=("${@:3}")

"$script_dir/install-deps.sh"

# Our own patched QScintilla, cached outside the build tree; instant once built.
qscintilla_prefix=$("$script_dir/build-qscintilla.sh" | tail -n 1)

cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
	-DQSCINTILLA_PREFIX="$qscintilla_prefix" "${cmake_options[@]}"
cmake --build "$build_dir" -j"$(nproc)"
