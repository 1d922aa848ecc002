#!/bin/sh
# Makes the TEST-ONLY signing material the signature tests use: a test CA, a
# test publisher (the one the test build pins) and a second publisher under
# the same CA (valid chain, wrong key). Run once; the outputs are committed so
# that the pin compiled into the test build stays the same. These keys sign
# nothing but test files: never use them, or anything made with them, for a
# real release.
#
#   tests/trust/make_test_keys.sh [folder]   (default: tests/trust/keys)
set -eu
out=${1:-$(dirname "$0")/keys}
mkdir -p "$out"
cd "$out"

conf=$(mktemp)
trap 'rm -f "$conf" *.csr *.srl' EXIT
cat > "$conf" <<'CONF'
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[publisher]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CONF

# UTCTime ends in 2049; about 22 years keeps every date in that form.
days=8000

openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days $days \
    -subj "/O=Kovra TEST ONLY/CN=Kovra Test CA (test only)" \
    -keyout test-ca.key -out test-ca.crt -config "$conf" -extensions ca

for who in publisher other-publisher; do
    case $who in
        publisher) name="Kovra Test Publisher (test only)" ;;
        *) name="Kovra Other Test Publisher (test only)" ;;
    esac
    openssl req -new -newkey rsa:2048 -nodes -sha256 -subj "/O=Kovra TEST ONLY/CN=$name" \
        -keyout test-$who.key -out test-$who.csr
    openssl x509 -req -in test-$who.csr -CA test-ca.crt -CAkey test-ca.key -CAcreateserial \
        -sha256 -days $days -extfile "$conf" -extensions publisher -out test-$who.crt
    # What a signature carries: the publisher, then the CA.
    cat test-$who.crt test-ca.crt > test-$who-chain.crt
    # The pin: SHA-256 of the certificate's SubjectPublicKeyInfo (DER).
    openssl x509 -in test-$who.crt -noout -pubkey | openssl pkey -pubin -outform DER |
        openssl dgst -sha256 -r | cut -c1-64 > test-$who.pin
done
