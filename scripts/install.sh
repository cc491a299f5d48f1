#!/bin/bash
# Installs courier-pack for use: a stripped Release build (the package
# preset's tree, build/package, no sanitizers) with the launcher, the man
# page, bash completion, the documents and the CMake package, under PREFIX
# (default ~/.local, which needs no root; /usr/local asks for sudo).
# Works on a fresh checkout: it builds the Windows tree's launcher when that
# tree has none, or keeps it current when it has.
# Usage: scripts/install.sh [PREFIX]
set -euo pipefail
prefix=${1:-$HOME/.local}
case $prefix in /*) ;; *) prefix="$PWD/$prefix" ;; esac
cd "$(dirname "$0")/.."

scripts/install-deps.sh --tool
[ -f build/windows/CMakeCache.txt ] || cmake --preset windows >/dev/null
cmake --build --preset windows --target launcher
cmake --preset package >/dev/null
cmake --build --preset package

# Root only when the prefix cannot be written as we are.
as_needed=()
existing=$prefix
while [ ! -e "$existing" ]; do existing=$(dirname "$existing"); done
if [ ! -w "$existing" ] && [ "$(id -u)" != 0 ]; then as_needed=(sudo); fi
"${as_needed[@]}" cmake --install build/package --prefix "$prefix" --strip

echo "install: courier-pack $("$prefix/bin/courier-pack" --version | sed -n '1s/^courier-pack //p') in $prefix/bin"
case ":$PATH:" in
    *":$prefix/bin:"*) ;;
    *) echo "install: $prefix/bin is not on your PATH; add it, e.g. export PATH=\"$prefix/bin:\$PATH\"" ;;
esac
