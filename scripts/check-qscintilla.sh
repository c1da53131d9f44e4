#!/usr/bin/env bash
# Usage: scripts/check-qscintilla.sh BINARY [PREFIX]
# Fails unless BINARY loads libqscintilla2_qt6 from Quorrel's own QScintilla
# prefix (default: scripts/build-qscintilla.sh --prefix) and that library is
# the patched one. Debian's runtime package has the same SONAME, so a missing
# RUNPATH or an LD_LIBRARY_PATH would silently load the stock, slow copy.
set -euo pipefail

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)

if (($# < 1 || $# > 2)); then
	echo "usage: $0 BINARY [PREFIX]" >&2
	exit 2
fi
binary=$1
prefix=${2:-$("$script_dir/build-qscintilla.sh" --prefix)}

fail() {
	echo "check-qscintilla: $*" >&2
	exit 1
}

[[ -f $binary ]] || fail "no such file: $binary"
[[ -d $prefix/lib ]] || fail "no QScintilla prefix at $prefix; run scripts/build-qscintilla.sh"

ldd_out=$(ldd "$binary") || fail "ldd failed on $binary"
# Line form: "libqscintilla2_qt6.so.15 => /path/libqscintilla2_qt6.so.15 (0x...)"
lib=$(awk '$1 ~ /^libqscintilla2_qt6\.so/ { print $3; exit }' <<<"$ldd_out")
[[ -n $lib ]] || fail "$binary does not link libqscintilla2_qt6"
[[ $lib == /* ]] || fail "$binary: libqscintilla2_qt6 not found at run time ($lib)"

lib_real=$(realpath -- "$lib")
prefix_lib_real=$(realpath -- "$prefix/lib")
[[ $lib_real == "$prefix_lib_real"/* ]] ||
	fail "$binary loads $lib, not the copy in $prefix/lib"

# Only the patched library imports QAccessible::isActive. (No pipe into
# grep -q: with pipefail, nm's SIGPIPE would fail the check.)
imports=$(nm -D --undefined-only "$lib_real")
[[ $imports == *_ZN11QAccessible8isActiveEv* ]] ||
	fail "$lib_real does not import QAccessible::isActive: not the patched build"

echo "check-qscintilla: $binary loads $lib_real (patched)"
