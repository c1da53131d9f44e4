#!/usr/bin/env bash
# Usage: scripts/check-layers.sh
# Fails when a product file includes a header of a folder its layer may not
# use: every folder includes only its own headers and those of the layers
# below it (ARCHITECTURE.md draws them). Tests, fuzzers, benchmarks and
# tools may include anything.
set -euo pipefail

cd "$(dirname -- "${BASH_SOURCE[0]}")/.."

core="doc/core db/core views/source/core views/tree/core edit/core"
declare -A allowed=(
	[doc/core]=""
	[db/core]="doc/core"
	[views/source/core]="doc/core"
	[views/tree/core]="doc/core"
	[edit/core]="doc/core views/tree/core"
	[framework/ui]="doc/core"
	[edit/ui]="$core framework/ui"
	[db/ui]="$core framework/ui"
	[views/source/ui]="$core framework/ui"
	[views/tree/ui]="$core framework/ui edit/ui views/source/ui"
	[views/window/ui]="framework/ui"
	[views/xpath/ui]="$core framework/ui edit/ui views/source/ui views/tree/ui views/window/ui"
	[doc/ui]="$core framework/ui edit/ui db/ui views/source/ui views/tree/ui views/window/ui"
	[app/ui]="$core framework/ui edit/ui db/ui views/source/ui views/tree/ui views/window/ui views/xpath/ui doc/ui"
	[cli]="$core"
)

status=0
while IFS= read -r -d '' file; do
	folder=$(dirname -- "$file")
	if [[ ! -v allowed[$folder] ]]; then
		echo "check-layers: $file: folder $folder has no layer (add it to scripts/check-layers.sh and ARCHITECTURE.md)" >&2
		status=1
		continue
	fi
	while IFS= read -r included; do
		target=$(dirname -- "$included")
		[ "$target" = "$folder" ] && continue
		case " ${allowed[$folder]} " in
		*" $target "*) ;;
		*)
			echo "check-layers: $file includes $included: $folder may not use $target" >&2
			status=1
			;;
		esac
	done < <(sed -n -E 's/^#include "([a-z]+(\/[a-z]+)*\/[A-Za-z0-9_]+\.h)".*/\1/p' "$file")
done < <(git ls-files -z -- 'app/*' 'doc/*' 'db/*' 'edit/*' 'views/*' 'framework/*' 'cli/*' | grep -zE '\.(cpp|h)$')
exit "$status"
