#!/bin/bash
# Builds the release packages, each the same bytes from the same commit
# (scripts/reproduce.sh checks it; README, "Rebuilding a release"):
#   (no option)  build/package/brisk-courier_<version>_<arch>.deb: courier-pack
#                from a Release tree without sanitizers (the package preset),
#                by CPack, which works out its dependencies with dpkg-shlibdeps
#   --windows    build/windows/brisk-courier-<version>-win32.zip: courier-pack.exe
#                with launcher.exe beside it and the documents
#   --linux      build/package/brisk-courier-<version>-linux-<machine>.tar.gz: a
#                courier-pack that needs no shared library (the linux preset)
#                with the launcher beside it, the man page and the documents
#   --release    all three in build/release/, with launcher.exe and SHA256SUMS
# The launcher is built first, in the Windows tree: every package holds it.
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-deb}
case $what in deb | --windows | --linux | --release) ;; *)
    echo "usage: scripts/package.sh [--windows | --linux | --release]" >&2; exit 2 ;;
esac
# Files the packaging tools create take the umask (the .deb's own members).
umask 022

scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target launcher
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)

deb() {
    cmake --preset package >/dev/null
    cmake --build --preset package
    cpack --preset package
}
windows_zip() {
    cmake --build --preset windows --target courier-pack
    packaging/folder-archive.sh build/windows "build/windows/brisk-courier-$version-win32.zip"
}
linux_tarball() {
    cmake --preset linux >/dev/null
    cmake --build --preset linux
    packaging/folder-archive.sh build/linux "build/package/brisk-courier-$version-linux-$(uname -m).tar.gz"
}

case $what in
    deb) deb ;;
    --windows) windows_zip ;;
    --linux) linux_tarball ;;
    --release)
        deb && windows_zip && linux_tarball
        rm -rf build/release && mkdir -p build/release
        cp build/package/brisk-courier_"$version"_*.deb build/package/brisk-courier-"$version"-linux-*.tar.gz \
            "build/windows/brisk-courier-$version-win32.zip" build/windows/launcher.exe build/release/
        (cd build/release && sha256sum -- *.deb *.tar.gz *.zip launcher.exe >SHA256SUMS)
        echo "package: build/release/"
        cat build/release/SHA256SUMS ;;
esac
