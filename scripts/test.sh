#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)

"$script_dir/build.sh" "$repo_root/build"

# Run ctest directly so its closing "N% tests passed, ..." line stays visible;
# exec hands back ctest's own exit status.
exec ctest --test-dir "$repo_root/build" --output-on-failure -j2
