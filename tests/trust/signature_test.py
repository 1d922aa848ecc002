#!/usr/bin/env python3
"""The installer check the loader makes before a launch (signature_check runs
the loader's own code under Wine) against files signed here with the
committed test keys: exact codes for each kind of file and pin."""

import os
import unittest

import test_signing as signing
from kovra_harness import harness

H = harness()
CHECK = H.program("signature_check.exe")
STANDIN = H.program("kovra-standin-installer.exe")
WORK = os.path.join(H.state, "trust-signature")

PUBLISHER = signing.committed_pin("publisher")


def check(pin, data, name="installer.exe"):
    path = os.path.join(WORK, name)
    with open(path, "wb") as f:
        f.write(data)
    result = H.run(CHECK, [pin, H.windows_path(path)], timeout=120)
    out = result.stdout.decode("utf-8", "replace")
    for line in out.splitlines():
        if line.startswith("code="):
            return int(line[5:], 16)
    raise AssertionError("signature_check said %r (exit %d)" % (out, result.returncode))


class SignatureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        with open(STANDIN, "rb") as f:
            cls.unsigned = f.read() + os.urandom(4096)  # extra data after the image is signed too
        cls.signed = signing.sign(cls.unsigned)
        cls.other = signing.sign(cls.unsigned, "other-publisher")

    def test_committed_pins_are_the_keys_of_the_committed_certificates(self):
        for who in ("publisher", "other-publisher"):
            self.assertEqual(signing.committed_pin(who), signing.key_pin(signing.certificate(who)), who)
        self.assertNotEqual(signing.committed_pin("publisher"), signing.committed_pin("other-publisher"))

    def test_the_pinned_publishers_signature_passes(self):
        self.assertEqual(check(PUBLISHER, self.signed), 0)
        self.assertEqual(check(PUBLISHER.upper(), self.signed), 0)
        self.assertEqual(check(signing.committed_pin("other-publisher"), self.other), 0)

    def test_another_publisher_under_the_same_authority_is_refused(self):
        self.assertEqual(check(PUBLISHER, self.other), signing.SIGNED_BY_ANOTHER_PUBLISHER)
        self.assertEqual(check(signing.committed_pin("other-publisher"), self.signed),
                         signing.SIGNED_BY_ANOTHER_PUBLISHER)

    def test_only_the_signer_counts_not_its_authority(self):
        # The CA's key is in the signature's chain, but it signed no file.
        ca = signing.key_pin(signing.certificate("ca"))
        self.assertEqual(check(ca, self.signed), signing.SIGNED_BY_ANOTHER_PUBLISHER)

    def test_an_unsigned_file_is_refused(self):
        self.assertEqual(check(PUBLISHER, self.unsigned), signing.TRUST_E_NOSIGNATURE)

    def test_one_byte_changed_after_signing_is_refused(self):
        code_byte = signing.text_section_offset(self.signed)
        self.assertEqual(check(PUBLISHER, signing.with_byte_flipped(self.signed, code_byte)),
                         signing.TRUST_E_BAD_DIGEST)
        # A byte of the data after the image, before the signature.
        extra_byte = len(self.unsigned) - 100
        # Past the headers (check sum, certificate table entry) the signed
        # file is the unsigned one with the signature appended.
        self.assertEqual(self.signed[4096:len(self.unsigned)], self.unsigned[4096:])
        self.assertEqual(check(PUBLISHER, signing.with_byte_flipped(self.signed, extra_byte)),
                         signing.TRUST_E_BAD_DIGEST)

    def test_a_malformed_pin_passes_nothing(self):
        for pin in (PUBLISHER[:63], PUBLISHER + "0", PUBLISHER[:62] + "zz"):
            self.assertEqual(check(pin, self.signed), signing.SIGNED_BY_ANOTHER_PUBLISHER, pin)


if __name__ == "__main__":
    unittest.main(verbosity=2)
