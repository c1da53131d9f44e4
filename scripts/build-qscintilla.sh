#!/usr/bin/env bash
# Usage: scripts/build-qscintilla.sh [--prefix]
# Builds Quorrel's own QScintilla (Debian's 2.13.3 source plus
# res/patches/qscintilla-accessibility.patch) into a cache outside the build
# tree and prints that prefix as the last line of stdout. With --prefix it
# only prints the prefix. When the prefix's stamp matches, it does nothing.
# The stock library recomputes character offsets on every edit (slow on large
# documents), hence our own build.
# Needs dpkg-dev and qt6-base-dev (scripts/install-deps.sh) and, for the
# first build only, network access to the Debian archive.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd -- "$script_dir/.." && pwd)

SRC_PACKAGE=qscintilla2
SRC_VERSION=2.13.3+dfsg-3
# The .dsc lists the tarballs' checksums, which dpkg-source verifies, so
# pinning it pins the whole source.
DSC_SHA256=17b1aa625eef7c860bb51c8fb579d4e64fca683bc93de05ff49803c782d5143d
PATCH_FILE=$repo_root/res/patches/qscintilla-accessibility.patch
LIB_NAME=libqscintilla2_qt6.so

cache_root=${QUORREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorrel}
[[ $cache_root == /* ]] || cache_root=$PWD/$cache_root
prefix=$cache_root/qscintilla
stamp_file=$prefix/quorrel-build.stamp

case ${1:-} in
--prefix)
	echo "$prefix"
	exit 0
	;;
-h | --help)
	sed -n '2,10s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
	exit 0
	;;
"") ;;
*)
	echo "build-qscintilla: unknown argument '$1' (try --help)" >&2
	exit 2
	;;
esac

die() {
	echo "build-qscintilla: $*" >&2
	exit 1
}

command -v qmake6 >/dev/null 2>&1 || die "qmake6 not found; run scripts/install-deps.sh (qt6-base-dev)"
[[ -f $PATCH_FILE ]] || die "missing $PATCH_FILE"

qt_version=$(qmake6 -query QT_VERSION)
patch_sha=$(sha256sum <"$PATCH_FILE")
expected_stamp="source=$SRC_VERSION
patch=${patch_sha%% *}
qt=$qt_version"

stamp_matches() {
	[[ -f $stamp_file && -e $prefix/lib/$LIB_NAME && $(<"$stamp_file") == "$expected_stamp" ]]
}

# Fast path, no lock: a finished prefix is only ever replaced whole (rename).
if stamp_matches; then
	echo "$prefix"
	exit 0
fi

for tool in apt-get dpkg-source patch make flock nm; do
	command -v "$tool" >/dev/null 2>&1 || die "$tool not found; run scripts/install-deps.sh"
done

mkdir -p "$cache_root"
exec 9>"$cache_root/qscintilla.lock"
if ! flock -n 9; then
	echo "build-qscintilla: waiting for another run to finish" >&2
	flock 9
fi
# The other run may have just built it.
if stamp_matches; then
	echo "$prefix"
	exit 0
fi

work=$cache_root/qscintilla-work
downloads=$cache_root/qscintilla-downloads
dsc=$downloads/${SRC_PACKAGE}_${SRC_VERSION}.dsc
log=$work/build.log

# Always a freshly extracted tree: re-extracted files keep their old
# timestamps, so an old build folder could skip recompiling changed sources.
rm -rf "$work"
mkdir -p "$work" "$downloads"
: >"$log"

# Runs a step with its output in the log; on failure shows the log's tail.
step() {
	if ! "$@" >>"$log" 2>&1; then
		echo "build-qscintilla: failed: $*" >&2
		tail -n 40 "$log" | sed 's/^/  | /' >&2
		die "full log: $log"
	fi
}

dsc_ok() {
	[[ -f $dsc ]] && [[ $(sha256sum <"$dsc") == "$DSC_SHA256 "* ]]
}

start=$SECONDS
echo "build-qscintilla: building QScintilla $SRC_VERSION into $prefix (a few minutes, once)" >&2

if ! dsc_ok; then
	# Private apt state, so nothing under /etc/apt, /var/lib/apt or
	# /var/cache/apt changes and the system's package lists stay as they are.
	apt_dir=$work/apt
	mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
	if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
		src_list=$apt_dir/deb-src.sources # apt wants the .sources suffix for deb822
		sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$src_list"
	elif [[ -f /etc/apt/sources.list ]]; then
		src_list=$apt_dir/deb-src.list
		sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$src_list"
	else
		die "no Debian source list found under /etc/apt"
	fi
	apt_opts=(-q
		-o "Dir::Etc::SourceList=$src_list"
		-o "Dir::Etc::SourceParts=$apt_dir/parts"
		-o "Dir::State::Lists=$apt_dir/lists"
		-o "Dir::Cache=$apt_dir/cache"
		# As root apt downloads as _apt, which cannot write into our cache.
		-o "APT::Sandbox::User=root")
	# Without --error-on=any a failed fetch still exits 0.
	step apt-get "${apt_opts[@]}" update --error-on=any
	rm -f "$downloads"/*
	step env -C "$downloads" apt-get "${apt_opts[@]}" source --download-only "$SRC_PACKAGE=$SRC_VERSION"
	dsc_ok || die "downloaded $dsc does not have the expected sha256"
fi

src=$work/src
step dpkg-source --no-copy -x "$dsc" "$src"
step patch -d "$src" -p1 --forward --batch --fuzz=0 -i "$PATCH_FILE"

stage=$work/stage
mkdir -p "$work/build"
# INSTALLS limited to the library and headers: otherwise make install writes
# translations and a .prf into the system's Qt folders.
step env -C "$work/build" qmake6 "$src/src/qscintilla.pro" CONFIG+=release CONFIG-=debug \
	-after "INSTALLS=target header" "target.path=$stage/lib" "header.path=$stage/include"
step make -C "$work/build" -s -j"$(nproc)"
step make -C "$work/build" -s install

[[ -e $stage/lib/$LIB_NAME && -f $stage/include/Qsci/qsciscintilla.h ]] ||
	die "install did not produce $LIB_NAME and the headers; see $log"
# Only the patched library imports QAccessible::isActive. (No pipe into
# grep -q: with pipefail, nm's SIGPIPE would fail the check.)
imports=$(nm -D --undefined-only "$stage/lib/$LIB_NAME")
[[ $imports == *_ZN11QAccessible8isActiveEv* ]] ||
	die "$LIB_NAME does not import QAccessible::isActive: the patch did not take effect"

printf '%s\n' "$expected_stamp" >"$stage/quorrel-build.stamp"
# Swap in the new prefix whole, so readers never see a half-built one.
if [[ -e $prefix ]]; then
	mv "$prefix" "$work/old-prefix"
fi
mv "$stage" "$prefix"
rm -rf "$work"

echo "build-qscintilla: done in $((SECONDS - start)) s" >&2
echo "$prefix"
