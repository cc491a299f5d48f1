#!/bin/bash
# The zip for Windows users, as they get it: packaging/folder-archive.sh of
# this tree (what scripts/package.sh --windows runs), unzipped into another
# folder, holds courier-pack.exe with the launcher
# beside it and the documents; that courier-pack.exe packs a folder under
# Wine with no --stub, puts the zip's own launcher in front, and its verify
# names that launcher and, with extract, accepts the result byte for byte.
# Usage (with WINEPREFIX set): windows_zip.sh FOLDER_ARCHIVE WINDOWS_BUILD_DIR ZIP_NAME WORK_DIR
set -u
archive="$1"
build="$2"
name="$3"
work="$4"

fail() {
    echo "FAIL: $*"
    exit 1
}

rm -rf "$work"
mkdir -p "$work/elsewhere" "$work/in"
cd "$work" || exit 1
timeout 300 "$archive" "$build" "$work/zip/$name" >archive.log 2>&1 ||
    { cat archive.log; fail "folder-archive.sh"; }
(cd elsewhere && cmake -E tar xf "../zip/$name") || fail "unzipping $name"
tree=$(basename "$name" .zip)
[ -d "elsewhere/$tree" ] || fail "the zip has no folder $tree: $(ls elsewhere)"
for file in courier-pack.exe launcher.exe README.md CHANGELOG.md copyright docs/format.md \
    docs/shipping.md docs/json.md docs/progress-window.png; do
    [ -f "elsewhere/$tree/$file" ] || fail "not in the zip: $tree/$file"
done
rm -rf zip

# The payload: a setup program stand-in, some text, an empty file.
printf 'MZ setup\r\n' >in/setup.exe
seq 1 5000 | sed 's/$/ lines of a readme/' >in/readme.txt
: >in/empty.dat

tool="elsewhere/$tree/courier-pack.exe"
timeout 300 wine "$tool" pack -o out.exe --launch setup.exe in >pack.log 2>&1 ||
    { cat pack.log; fail "courier-pack.exe from the zip could not pack without --stub"; }
launcher="elsewhere/$tree/launcher.exe"
cmp -s -n "$(stat -c %s "$launcher")" "$launcher" out.exe ||
    fail "the carrier does not start with the zip's launcher.exe"
timeout 300 wine "$tool" verify out.exe >verify.log 2>&1 ||
    { cat verify.log; fail "courier-pack.exe verify rejected its own carrier"; }
grep -q "launches 'setup.exe'" verify.log || fail "verify did not name the launch file: $(cat verify.log)"
grep -q "^launcher: Brisk Courier " verify.log || fail "verify did not name the launcher: $(cat verify.log)"
timeout 300 wine "$tool" extract out.exe -C unpacked >extract.log 2>&1 ||
    { cat extract.log; fail "courier-pack.exe extract"; }
for file in in/*; do
    cmp -s "$file" "unpacked/$(basename "$file")" || fail "$(basename "$file"): not extracted byte for byte"
done
echo "the zip unpacks elsewhere, and its courier-pack.exe packs, verifies and extracts with its launcher"
