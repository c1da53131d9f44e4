#!/usr/bin/env bash
# Usage: scripts/run.sh [FILE]
# Installs the dependencies, builds, and starts Quorrel on FILE
# (default: the bundled sample res/samples/catalog.xml).
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)

file=${1:-"$repo_root/res/samples/catalog.xml"}

"$script_dir/build.sh" "$repo_root/build"

echo "The Quorrel window is not built yet; this shows the document's tree from the command line (quorrel-cli tree $file)."
exec "$repo_root/build/quorrel-cli" tree "$file"
