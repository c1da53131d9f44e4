#!/usr/bin/env bash
# Installs the Debian 12 packages that Quorrel needs to build, test and run.
# Does nothing (and takes a fraction of a second) when all are already there.
set -euo pipefail

# Extend this list when the project needs another package.
PACKAGES=(
	qt6-base-dev
	qt6-base-dev-tools
	dpkg-dev
	libxml2-dev
	zlib1g-dev
	libxml2-utils
	xmlstarlet
	xml-core
	w3c-sgml-lib
	docbook-xml
	polkitd
	libcurl4-openssl-dev
	unixodbc-dev
	unixodbc
	libsqliteodbc
	odbc-postgresql
	postgresql
	sqlite3
	libgtest-dev
	libbenchmark-dev
	cmake
	ninja-build
	xvfb
	openbox
	xdotool
	x11-utils
	imagemagick
	g++
	pkg-config
	clang-format
	clang
	libclang-rt-14-dev
	llvm
)

missing=()
for pkg in "${PACKAGES[@]}"; do
	status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
	if [[ "$status" != "install ok installed" ]]; then
		missing+=("$pkg")
	fi
done

if ((${#missing[@]} == 0)); then
	exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2

SUDO=()
if ((EUID != 0)); then
	if command -v sudo >/dev/null 2>&1; then
		SUDO=(sudo)
	else
		echo "install-deps: not root and no sudo; please install: ${missing[*]}" >&2
		exit 1
	fi
fi

export DEBIAN_FRONTEND=noninteractive
# Wait for another apt/dpkg process to let go of its locks instead of failing.
APT_OPTS=(-y -qq -o DPkg::Lock::Timeout=600 -o Dpkg::Use-Pty=0)

# Retries a command a few times: covers the window where another apt run holds
# a lock that the lock timeout does not cover (e.g. the package lists).
retry() {
	local tries=0
	until "$@"; do
		tries=$((tries + 1))
		if ((tries >= 5)); then
			return 1
		fi
		echo "install-deps: '$*' failed, retrying in 10 s ($tries/5)" >&2
		sleep 10
	done
}

retry "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTS[@]}" update >/dev/null
retry "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTS[@]}" install "${missing[@]}" >/dev/null
echo "install-deps: done" >&2
