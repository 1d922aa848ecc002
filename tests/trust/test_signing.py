"""Signing with the committed TEST keys (keys/, made by make_test_keys.sh).

The keys sign test files only; the test build of the loader pins the test
publisher's key (keys/test-publisher.pin).
"""

import hashlib
import os
import subprocess

KEYS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "keys")

# WinVerifyTrust's codes, and the loader's own for another publisher.
TRUST_E_NOSIGNATURE = 0x800B0100
TRUST_E_BAD_DIGEST = 0x80096010
SIGNED_BY_ANOTHER_PUBLISHER = 0x800B0004  # TRUST_E_SUBJECT_NOT_TRUSTED


def signed_decimal(code):
    """A code as the finished event carries it (a signed 32-bit decimal)."""
    return str(code - (1 << 32) if code >= 1 << 31 else code)


def sign(data, who="publisher"):
    """data signed (Authenticode, SHA-256) by the test publisher or by
    'other-publisher'; the signature carries the chain up to the test CA."""
    work = os.path.join(os.environ.get("KOVRA_HARNESS_DIR", "/tmp"), "trust-signing")
    os.makedirs(work, exist_ok=True)
    unsigned = os.path.join(work, "unsigned-%d.exe" % os.getpid())
    signed = os.path.join(work, "signed-%d.exe" % os.getpid())
    with open(unsigned, "wb") as f:
        f.write(data)
    if os.path.exists(signed):
        os.remove(signed)
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(KEYS, "test-%s-chain.crt" % who),
                    "-key", os.path.join(KEYS, "test-%s.key" % who), "-h", "sha256",
                    "-in", unsigned, "-out", signed],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120)
    with open(signed, "rb") as f:
        out = f.read()
    os.remove(unsigned)
    os.remove(signed)
    return out


def key_pin(certificate):
    """SHA-256 of a certificate's SubjectPublicKeyInfo (DER), in hex."""
    public = subprocess.run(["openssl", "x509", "-in", certificate, "-noout", "-pubkey"],
                            check=True, stdout=subprocess.PIPE).stdout
    der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=public,
                         check=True, stdout=subprocess.PIPE).stdout
    return hashlib.sha256(der).hexdigest()


def committed_pin(who="publisher"):
    with open(os.path.join(KEYS, "test-%s.pin" % who)) as f:
        return f.read().strip()


def certificate(who):
    return os.path.join(KEYS, "test-%s.crt" % who)


def with_byte_flipped(data, offset):
    out = bytearray(data)
    out[offset] ^= 0x01
    return bytes(out)


def text_section_offset(data):
    """File offset of the middle of the first code section of a PE file."""
    pe = int.from_bytes(data[0x3c:0x40], "little")
    sections = int.from_bytes(data[pe + 6:pe + 8], "little")
    optional = int.from_bytes(data[pe + 20:pe + 22], "little")
    table = pe + 24 + optional
    for i in range(sections):
        entry = table + 40 * i
        raw_size = int.from_bytes(data[entry + 16:entry + 20], "little")
        raw_offset = int.from_bytes(data[entry + 20:entry + 24], "little")
        flags = int.from_bytes(data[entry + 36:entry + 40], "little")
        if flags & 0x20 and raw_size:  # IMAGE_SCN_CNT_CODE
            return raw_offset + raw_size // 2
    raise ValueError("no code section")
