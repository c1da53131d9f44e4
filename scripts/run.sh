#!/usr/bin/env bash
# Usage: scripts/run.sh [FILE]
# Installs the dependencies, builds, registers the sample ODBC data source
# when there is one, and starts Quorrel on FILE (default: the bundled sample
# res/samples/catalog.xml).
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)

file=${1:-"$repo_root/res/samples/catalog.xml"}

"$script_dir/build.sh" "$repo_root/build"

if [[ -x "$script_dir/register-sample-dsn.sh" ]]; then
	"$script_dir/register-sample-dsn.sh" "$repo_root/build"
fi

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
	echo "No display to show the Quorrel window on; here is the document's tree from the command line (quorrel-cli tree $file)."
	exec "$repo_root/build/quorrel-cli" tree "$file"
fi
exec "$repo_root/build/quorrel" "$file"
