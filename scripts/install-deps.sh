#!/bin/bash
# Installs what a fresh Debian 12 machine lacks for building and testing,
# skipping what is already there. Also makes 32-bit Windows programs run
# under Wine on kernels that cannot run 32-bit code natively (through
# qemu-user; Debian 12's own qemu is too slow for Wine, so backports').
# Packages named as arguments are installed too (scripts/reproduce.sh's).
#   --tool   only what building and installing courier-pack needs
#            (scripts/install.sh): no Wine, no i386 packages, no test tools
set -euo pipefail

tool_only=0
[ "${1:-}" = --tool ] && { tool_only=1; shift; }

# The Windows tree configures its tests too (GoogleTest from source).
packages=(cmake g++ make libcli11-dev nlohmann-json3-dev g++-mingw-w64-i686 googletest help2man "$@")
[ $tool_only = 1 ] ||
    packages+=(libgtest-dev libbenchmark-dev zlib1g-dev clang libfuzzer-14-dev libclang-rt-14-dev
               wine wine64 wine32:i386 xvfb xauth xdotool imagemagick osslsigncode openssl
               dpkg-dev file icoutils ninja-build zip faketime)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
native=$(dpkg --print-architecture)
for p in "${packages[@]}"; do
    # Qualified too: with a second architecture's copy installed, the bare
    # name is ambiguous to dpkg.
    dpkg -s "$p" >/dev/null 2>&1 || dpkg -s "$p:$native" >/dev/null 2>&1 || missing+=("$p")
done
if [ $tool_only = 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    missing+=(wine32:i386)
fi

can_run_32bit() { [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

need_qemu=0
if [ $tool_only = 0 ] && ! can_run_32bit 2>/dev/null; then
    need_qemu=1
    qemu_version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
    case "$qemu_version" in
        1:1[0-9].*) ;;
        *) missing+=(qemu-user-static) ;;
    esac
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    if [ $need_qemu = 1 ] && [ ! -f /etc/apt/sources.list.d/bookworm-backports.sources ]; then
        as_root tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    fi
    # A mirror caught mid-sync fails the update for a minute or so: try again
    # before going on with the lists there are.
    lists_whole=0
    for try in 1 2 3; do
        as_root apt-get update -q && { lists_whole=1; break; }
        [ $try = 3 ] && { echo "install-deps: apt-get update failed 3 times; going on with the lists there are" >&2; break; }
        echo "install-deps: apt-get update failed (try $try of 3), trying again in 20 s" >&2
        sleep 20
    done
    export DEBIAN_FRONTEND=noninteractive
    rest=()
    for p in "${missing[@]}"; do [ "$p" = qemu-user-static ] || rest+=("$p"); done
    if [ ${#rest[@]} -gt 0 ] && ! as_root apt-get install -y -q --no-install-recommends "${rest[@]}"; then
        # One architecture's security list missing (a stale mirror) leaves
        # i386 copies older than their amd64 twins, which must match: the
        # release's own versions exist for both.
        [ $lists_whole = 0 ] || exit 1
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        echo "install-deps: retrying with $codename's own versions, ahead of its updates, since a list was missing" >&2
        as_root apt-get install -y -q --no-install-recommends -t "$codename" "${rest[@]}"
    fi
    if [[ " ${missing[*]} " == *" qemu-user-static "* ]]; then
        as_root apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user-static
    fi
fi

# 32-bit ELF (Wine's own loader) through qemu, when the kernel refuses it.
if [ $need_qemu = 1 ] && ! can_run_32bit 2>/dev/null; then
    [ -d /proc/sys/fs/binfmt_misc ] && [ -f /proc/sys/fs/binfmt_misc/register ] ||
        as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo -1 | as_root tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null
    qemu=/usr/bin/qemu-i386
    [ -x "$qemu" ] || qemu=/usr/bin/qemu-i386-static
    printf '%s' ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" |
        as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null
    can_run_32bit || { echo "install-deps: 32-bit programs still cannot run" >&2; exit 1; }
fi
