#!/bin/bash
# The release: builds the shipping 32-bit loader from the checked-out commit
# with the vendor's settings, prints its SHA-256 and size, writes the release
# record beside it and, given a code-signing key, signs it (Authenticode,
# SHA-256). Anyone who builds the same commit with the same settings and the
# same Debian packages gets the same unsigned bytes.
#
#   tools/release.sh [--download-host HOST] [--stats-host HOST] [--pin SHA256]
#                    [--pkcs12 FILE | --cert FILE --key FILE] [--pass-file FILE]
#                    [--timestamp URL] [--ca-file FILE] [--build-dir DIR]
#
# --pin          the publisher pin (KOVRA_PUBLISHER_KEY_SHA256)
# --pkcs12       the signing key and certificate in one PKCS#12 file, or
# --cert --key   PEM files: the certificate chain (signer first) and its key
# --pass-file    a file holding the key's password (never on the command line)
# --timestamp    an RFC 3161 time-stamp server to counter-sign with (off by default)
# --ca-file      the certificates the signature check trusts (default: the system's)
# --build-dir    where to build (default build/release); it is emptied first
#
# Output: <build dir>/dist/KovraLoader.exe (signed when a key was given) and
# <build dir>/dist/KovraLoader.release.txt; the unsigned exe stays in
# <build dir>/bin.
set -euo pipefail

fail() {
    echo "release: $*" >&2
    exit 1
}

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_dir/build/release
download_host="" stats_host="" pin="" pkcs12="" cert="" key="" pass_file="" timestamp="" ca_file=""
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || fail "$1 needs a value"
    case $1 in
        --download-host) download_host=$2 ;;
        --stats-host) stats_host=$2 ;;
        --pin) pin=$2 ;;
        --pkcs12) pkcs12=$2 ;;
        --cert) cert=$2 ;;
        --key) key=$2 ;;
        --pass-file) pass_file=$2 ;;
        --timestamp) timestamp=$2 ;;
        --ca-file) ca_file=$2 ;;
        --build-dir) build_dir=$2 ;;
        *) fail "unknown option $1 (see the top of $0)" ;;
    esac
    shift 2
done

signing=no
if [ -n "$pkcs12" ]; then
    [ -z "$cert$key" ] || fail "give --pkcs12 or --cert with --key, not both"
    signing=yes
elif [ -n "$cert$key" ]; then
    [ -n "$cert" ] && [ -n "$key" ] || fail "--cert and --key go together"
    signing=yes
fi
[ -n "$timestamp" ] && [ $signing = no ] && fail "--timestamp needs a signing key"
for file in "$pkcs12" "$cert" "$key" "$pass_file" "$ca_file"; do
    [ -z "$file" ] || [ -r "$file" ] || fail "cannot read $file"
done

# The build starts from an empty folder, and nothing of the key may land in
# it: refuse a folder that is not a build of ours, or that holds the key.
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
if [ -n "$(ls -A "$build_dir")" ] && [ ! -f "$build_dir/CMakeCache.txt" ]; then
    fail "$build_dir is not empty and is no build folder: not emptying it"
fi
for file in "$pkcs12" "$key" "$pass_file"; do
    [ -n "$file" ] || continue
    case $(realpath "$file") in
        "$build_dir"/*) fail "$file is inside the build folder $build_dir" ;;
    esac
done

# What is released is a commit: its files, its time.
cd "$source_dir"
commit=$(git rev-parse --verify HEAD) || fail "$source_dir is not a git checkout with a commit"
changes=$(git status --porcelain --untracked-files=normal)
[ -z "$changes" ] || fail "the working tree differs from commit $commit; commit or remove:
$changes"
epoch=$(git log -1 --format=%ct "$commit")

"$source_dir/tools/setup-debian.sh" || fail "cannot install what the build needs"
find "$build_dir" -mindepth 1 -delete
settings=(-DKOVRA_SOURCE_DATE_EPOCH="$epoch")
[ -z "$download_host" ] || settings+=(-DKOVRA_DOWNLOAD_HOST="$download_host")
[ -z "$stats_host" ] || settings+=(-DKOVRA_STATS_HOST="$stats_host")
[ -z "$pin" ] || settings+=(-DKOVRA_PUBLISHER_KEY_SHA256="$pin")
cmake --preset i686 -B "$build_dir" "${settings[@]}"
cmake --build "$build_dir" --target KovraLoader --parallel "$(nproc)"

# Every value of the record is read back from the build.
unsigned=$build_dir/bin/KovraLoader.exe
cached() {
    sed -n "s/^$1:[A-Z]*=//p" "$build_dir/CMakeCache.txt"
}
version=$(sed -n 's/^#define KOVRA_VERSION_STRING "\(.*\)"$/\1/p' "$build_dir/generated/KovraVersion.h")
[ -n "$version" ] || fail "no version in $build_dir/generated/KovraVersion.h"
pinned=$(cached KOVRA_PUBLISHER_KEY_SHA256)
sha256() {
    sha256sum "$1" | cut -d' ' -f1
}

toolchain="g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix gcc-mingw-w64-i686-posix-runtime
binutils-mingw-w64-i686 mingw-w64-i686-dev mingw-w64-common cmake"
# The tools that made the bytes, by their own version lines: what a rebuild
# that is to give the same bytes must run.
toolchain_versions() {
    # A toolchain file's compiler is not in the cache; CMake writes what it found here.
    compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$build_dir"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1)
    echo "compiler: $("$compiler" --version | head -n 1)"
    echo "linker: $("$(cached CMAKE_LINKER)" --version | head -n 1)"
    echo "cmake: $(cmake --version | head -n 1)"
    echo "system: $(. /etc/os-release && echo "$PRETTY_NAME") ($(cat /etc/debian_version 2>/dev/null))"
}

dist=$build_dir/dist
mkdir -p "$dist"
shipped=$dist/KovraLoader.exe
record=$dist/KovraLoader.release.txt
{
    echo "Kovra loader release"
    echo "version: $version"
    echo "commit: $commit"
    echo "commit time: $epoch ($(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC'))"
    echo "unsigned SHA-256: $(sha256 "$unsigned")"
    echo "unsigned size: $(stat -c %s "$unsigned") bytes"
    echo "download host: $(cached KOVRA_DOWNLOAD_HOST)"
    echo "statistics host: $(cached KOVRA_STATS_HOST)"
    # The packages whose files make the exe's bytes: a rebuild needs the same.
    dpkg-query -W -f '${Package} ${Version}\n' $toolchain 2>/dev/null | sed 's/^/built with: /'
    toolchain_versions
    if [ -n "$pinned" ]; then
        echo "publisher pin: set, $pinned"
    else
        echo "publisher pin: none (the loader runs any installer it downloads)"
    fi
} > "$record.new"

if [ $signing = no ]; then
    cp "$unsigned" "$shipped"
    echo "signed: no" >> "$record.new"
else
    # The signer's key pin, from the certificate (the key is only read by
    # osslsigncode and openssl, in place).
    pass=(-passin pass:)
    [ -z "$pass_file" ] || pass=(-passin "file:$pass_file")
    if [ -n "$pkcs12" ]; then
        signer=$(openssl pkcs12 -in "$pkcs12" -nokeys -clcerts "${pass[@]}")
    else
        signer=$(openssl x509 -in "$cert")
    fi
    signer_pin=$(printf '%s\n' "$signer" | openssl x509 -noout -pubkey | openssl pkey -pubin -outform DER |
        sha256sum | cut -d' ' -f1)
    signer_name=$(printf '%s\n' "$signer" | openssl x509 -noout -subject -nameopt RFC2253 | sed 's/^subject=//')

    sign=(osslsigncode sign -h sha256)
    if [ -n "$pkcs12" ]; then
        sign+=(-pkcs12 "$pkcs12")
    else
        sign+=(-certs "$cert" -key "$key")
    fi
    [ -z "$pass_file" ] || sign+=(-readpass "$pass_file")
    [ -z "$timestamp" ] || sign+=(-ts "$timestamp")
    rm -f "$shipped"
    "${sign[@]}" -in "$unsigned" -out "$shipped"

    verify=(osslsigncode verify -in "$shipped")
    [ -z "$ca_file" ] || verify+=(-CAfile "$ca_file" -TSA-CAfile "$ca_file")
    verified=$("${verify[@]}" 2>&1) || {
        printf '%s\n' "$verified" >&2
        fail "the signed exe does not verify"
    }
    # The signature is all that signing added.
    osslsigncode remove-signature -in "$shipped" -out "$dist/unsigned-again.exe" >/dev/null
    cmp -s "$dist/unsigned-again.exe" "$unsigned" ||
        fail "the signed exe without its signature is not the exe that was built"
    rm -f "$dist/unsigned-again.exe"
    {
        echo "signed: yes, Authenticode SHA-256"
        echo "signer: $signer_name"
        echo "signer key SHA-256: $signer_pin"
        echo "time stamp: ${timestamp:-none}"
        echo "signed SHA-256: $(sha256 "$shipped")"
        echo "signed size: $(stat -c %s "$shipped") bytes"
    } >> "$record.new"
fi
mv "$record.new" "$record"

echo
echo "Kovra loader $version, commit $commit"
sed -n 's/^\(unsigned\|signed\) \(SHA-256\|size\): /  \1 \2: /p' "$record"
sed -n 's/^\(compiler\|linker\|cmake\|system\): /  \1: /p' "$record"
echo "  exe: $shipped"
echo "  record: $record"
