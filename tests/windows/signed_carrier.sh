#!/bin/bash
# A carrier signed after packing, with real tools: courier-pack (the host
# build) packs it, osslsigncode signs it with a throwaway self-signed
# certificate, osslsigncode and courier-pack verify both accept it (verify
# naming the launcher it was built with), and the launcher under Wine
# unpacks every file byte for byte and opens the launch file. A signed
# carrier cut by a few bytes must fail both verifications.
# All of it twice: a plain carrier, and one with an icon, version
# information and a manifest, whose resources wrestool still reads once it
# is signed.
# Usage (inside xvfb-run, with WINEPREFIX set):
#   signed_carrier.sh HOST_BUILD_DIR LAUNCHER PROBE WORK_DIR
# Exit 77 (skipped) when the host courier-pack or osslsigncode is missing.
set -u
host_build="$1"
launcher="$2"
probe="$3"
work="$4"
courier="$host_build/courier-pack"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
skip() {
    echo "SKIPPED: $*"
    exit 77
}

for tool in openssl osslsigncode wine winepath wineserver convert wrestool; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
# Bring the host tool up to date when its tree is configured.
if [ -f "$host_build/CMakeCache.txt" ]; then
    timeout 900 cmake --build "$host_build" --target courier-pack >/dev/null ||
        skip "cannot build courier-pack in $host_build"
fi
[ -x "$courier" ] || skip "no host courier-pack at $courier: build the host tree first" \
    "(cmake --preset host && cmake --build --preset host)"

trap 'timeout 60 wineserver -k >/dev/null 2>&1' EXIT

rm -rf "$work"
mkdir -p "$work/in"
cd "$work" || exit 1

# The payload: the probe as the setup program, some text, some noise, nothing.
cp "$probe" in/Install.exe
seq 1 20000 | sed 's/$/ setup files and a readme/' >in/readme.txt
head -c 70000 /dev/zero | openssl enc -aes-128-ctr -nosalt \
    -K 000102030405060708090a0b0c0d0e0f -iv 00000000000000000000000000000000 >in/noise.bin
: >in/empty.dat

timeout 120 openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Brisk Courier test signer" \
    -keyout key.pem -out cert.pem 2>openssl.log || { cat openssl.log; exit 1; }

# ImageMagick's icon: bitmap images, and PNG for 256 pixels.
timeout 120 convert -size 16x16 xc:red -size 32x32 xc:blue -size 256x256 gradient:green-white \
    app.ico || { echo "FAIL: making the icon"; exit 1; }

temp_windows=$(timeout 120 wine cmd /c echo %TEMP% | tr -d '\r\n')
temp=$(winepath -u "$temp_windows" 2>/dev/null)
[ -n "$temp" ] && [ -d "$temp" ] || { echo "FAIL: no %TEMP% in the prefix ('$temp_windows')"; exit 1; }
extracted="$temp/BriskCourierTmp"

# check_carrier NAME PACK_OPTION...: packs, signs, verifies, cuts and runs one carrier.
check_carrier() {
    local name="$1"
    shift
    mkdir -p "$name"
    cd "$name" || exit 1
    timeout 300 "$courier" pack -o carrier.exe --launch install.exe --stub "$launcher" "$@" \
        ../in/Install.exe ../in/readme.txt ../in/noise.bin ../in/empty.dat ||
        { echo "FAIL: $name: pack"; exit 1; }
    timeout 120 osslsigncode sign -certs ../cert.pem -key ../key.pem -n "Brisk Courier test" \
        -in carrier.exe -out signed.exe >sign.log 2>&1 || { cat sign.log; echo "FAIL: $name: sign"; exit 1; }

    # The signature checks out against the certificate it was made with.
    if ! timeout 120 osslsigncode verify -CAfile ../cert.pem -in signed.exe >verify.log 2>&1; then
        fail "$name: osslsigncode verify rejected the signed carrier"
        cat verify.log
    elif ! grep -q '^Signature verification: ok' verify.log; then
        fail "$name: osslsigncode verify did not report 'Signature verification: ok'"
        cat verify.log
    fi

    unsigned_size=$(stat -c %s carrier.exe)
    timeout 300 "$courier" verify signed.exe >courier-verify.log 2>&1 ||
        fail "$name: courier-pack verify rejected the signed carrier: $(cat courier-verify.log)"
    grep -qx "signed: certificate table at offset $unsigned_size, signature not checked (osslsigncode verify or signtool verify /pa checks it)" courier-verify.log ||
        fail "$name: courier-pack verify did not report the certificate table at $unsigned_size:" \
            "$(cat courier-verify.log)"
    # Neither the resources nor the signature are the launcher.
    grep -q "^launcher: Brisk Courier " courier-verify.log ||
        fail "$name: courier-pack verify did not name the launcher: $(cat courier-verify.log)"

    # Cut by a few bytes: both verifications fail.
    signed_size=$(stat -c %s signed.exe)
    head -c $((signed_size - 5)) signed.exe >cut.exe
    if timeout 300 "$courier" verify cut.exe >cut-verify.log 2>&1; then
        fail "$name: courier-pack verify accepted a signed carrier cut by 5 bytes"
    fi
    grep -q "truncated: expected $signed_size bytes, found $((signed_size - 5))" cut-verify.log ||
        fail "$name: courier-pack verify did not name the cut: $(cat cut-verify.log)"
    if timeout 120 osslsigncode verify -CAfile ../cert.pem -in cut.exe >cut-ossl.log 2>&1; then
        fail "$name: osslsigncode verify accepted a signed carrier cut by 5 bytes"
    fi

    # Run the signed carrier under Wine.
    rm -rf "$extracted" "$temp/brisk-probe.txt"

    timeout 120 wine signed.exe
    code=$?
    [ "$code" -eq 1 ] || fail "$name: the signed carrier exited with $code, not 1"
    for file in ../in/*; do
        entry=$(basename "$file")
        cmp -s "$file" "$extracted/$entry" || fail "$name: $entry: not extracted byte for byte"
    done
    [ "$(ls "$extracted" 2>/dev/null | wc -l)" -eq 4 ] ||
        fail "$name: extraction folder holds: $(ls "$extracted" 2>/dev/null)"
    for _ in $(seq 1 600); do
        [ -s "$temp/brisk-probe.txt" ] && break
        sleep 0.1
    done
    [ -s "$temp/brisk-probe.txt" ] || fail "$name: the launch file was not opened"

    # Signing keeps the resources readable.
    if [ "$name" = resources ]; then
        timeout 120 wrestool -l signed.exe >wrestool.log 2>&1
        for type in 3 14 16 24; do
            grep -q -- "--type=$type --name=1 " wrestool.log ||
                fail "$name: wrestool finds no resource of type $type in the signed carrier:" \
                    "$(cat wrestool.log)"
        done
        grep -qx "execution level: asInvoker" courier-verify.log ||
            fail "$name: courier-pack verify did not report the execution level: $(cat courier-verify.log)"
    fi
    cd ..
}

check_carrier plain
check_carrier resources --icon ../app.ico --file-version 1.2.3.4 --product-version 1.2.0.0 \
    --version-string "CompanyName=Brisk Courier Ltd" --version-string "ProductName=Brisk test" \
    --execution-level asInvoker

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s); files in $work"
    exit 1
fi
echo "signed carriers, plain and with resources: signature, verify and Wine run ok"
