#!/usr/bin/env bash
# Usage: scripts/build.sh [build-dir] [build-type]
# Installs the dependencies, configures with CMake + Ninja and builds.
# build-dir defaults to "build" under the repository, build-type to RelWithDebInfo.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)

build_dir=${1:-"$repo_root/build"}
build_type=${2:-RelWithDebInfo}

"$script_dir/install-deps.sh"

cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type"
cmake --build "$build_dir" -j"$(nproc)"
