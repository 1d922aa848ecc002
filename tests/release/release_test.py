#!/usr/bin/env python3
"""The release command (tools/release.sh) run on two fresh clones of one
commit, in folders of different paths, by different users, with another
umask, locale, time zone and number of processors: both give the same exe,
the record says what was built, the exe is signed with the committed TEST
keys (PKCS#12 in one clone, PEM files and a time stamp from a local RFC 3161
server in the other), the signature verifies with osslsigncode and with the
loader's own check under Wine, removing it gives back the unsigned exe, and
the key leaves no trace in the build folders, the output or the record.

  release_test.py <source folder>
"""

import hashlib
import http.server
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SOURCE = os.path.abspath(sys.argv[1])
del sys.argv[1:2]
sys.path.insert(0, os.path.join(SOURCE, "tests", "trust"))

import signature_test  # noqa: E402  (the loader's own check, run under Wine)
import test_signing as signing  # noqa: E402

DOWNLOAD_HOST = "dl.release-test.example"
STATS_HOST = "stat.release-test.example"
PIN = signing.committed_pin("publisher")
COMMIT_TIME = 1764000000  # the snapshot's commit time: 2025-11-24
PASSWORD = "release-test-password-9c1f"
NOBODY = 65534


def git(folder, *args, **env):
    full = dict(os.environ, GIT_AUTHOR_NAME="Release Test", GIT_AUTHOR_EMAIL="release@test.example",
                GIT_COMMITTER_NAME="Release Test", GIT_COMMITTER_EMAIL="release@test.example",
                GIT_AUTHOR_DATE="@%d +0000" % COMMIT_TIME, GIT_COMMITTER_DATE="@%d +0000" % COMMIT_TIME)
    full.update(env)
    return subprocess.run(["git", "-C", folder] + list(args), env=full, check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120).stdout.decode().strip()


def snapshot(folder):
    """A repository whose one commit holds the source's files as they are now
    (tracked and new ones, changes included)."""
    listed = subprocess.run(["git", "-C", SOURCE, "ls-files", "-z", "-co", "--exclude-standard"], check=True,
                            stdout=subprocess.PIPE).stdout.decode().split("\0")
    for name in filter(None, listed):
        source = os.path.join(SOURCE, name)
        if not os.path.lexists(source):
            continue  # deleted in the working tree
        target = os.path.join(folder, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target, follow_symlinks=False)
    git(folder, "init", "-q")
    git(folder, "add", "-A")
    git(folder, "commit", "-q", "-m", "release test")
    return git(folder, "rev-parse", "HEAD")


def project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        return re.search(r"project\(KovraLoader VERSION ([0-9.]+)", f.read()).group(1)


def read_record(text):
    values = {}
    for line in text.splitlines()[1:]:
        name, _, value = line.partition(": ")
        values[name] = value
    return values


def package_version(name):
    return subprocess.run(["dpkg-query", "-W", "-f", "${Version}", name], check=True,
                          stdout=subprocess.PIPE).stdout.decode()


def pe_time_stamp(data):
    pe = struct.unpack_from("<I", data, 0x3c)[0]
    return struct.unpack_from("<I", data, pe + 8)[0]


def utf16(text):
    return text.encode("utf-16-le")


class TimeStampServer(http.server.BaseHTTPRequestHandler):
    """RFC 3161 over HTTP: openssl ts answers each query with the TEST CA's
    time-stamping key."""
    config = None
    queries = 0

    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        folder = os.path.dirname(self.config)
        with open(os.path.join(folder, "query.tsq"), "wb") as f:
            f.write(query)
        subprocess.run(["openssl", "ts", "-reply", "-config", self.config, "-queryfile",
                        os.path.join(folder, "query.tsq"), "-out", os.path.join(folder, "reply.tsr")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        with open(os.path.join(folder, "reply.tsr"), "rb") as f:
            reply = f.read()
        TimeStampServer.queries += 1
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def make_time_stamp_authority(folder):
    """A TEST time-stamping certificate under the TEST CA and the openssl ts
    configuration that signs with it."""
    conf = os.path.join(folder, "tsa.conf")
    with open(conf, "w") as f:
        f.write("[tsa_cert]\nbasicConstraints = critical, CA:false\nkeyUsage = critical, digitalSignature\n"
                "extendedKeyUsage = critical, timeStamping\n"
                "[tsa]\ndefault_tsa = test_tsa\n"
                "[test_tsa]\nserial = {0}/serial\nsigner_cert = {0}/tsa.crt\nsigner_key = {0}/tsa.key\n"
                "certs = {1}\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
                "ess_cert_id_alg = sha256\n".format(folder, signing.certificate("ca")))
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("01\n")
    quiet = dict(check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj",
                    "/O=Kovra TEST ONLY/CN=Kovra Test Time Stamps (test only)", "-keyout",
                    os.path.join(folder, "tsa.key"), "-out", os.path.join(folder, "tsa.csr")], **quiet)
    subprocess.run(["openssl", "x509", "-req", "-in", os.path.join(folder, "tsa.csr"), "-CA",
                    signing.certificate("ca"), "-CAkey", os.path.join(signing.KEYS, "test-ca.key"),
                    "-set_serial", "7", "-days", "30", "-extfile", conf, "-extensions", "tsa_cert",
                    "-out", os.path.join(folder, "tsa.crt")], **quiet)
    return conf


class ReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.as_nobody = os.getuid() == 0
        # ld orders import sections by the paths of their libraries: one
        # build sorts before the system's /usr and one after it.
        cls.top_a = tempfile.mkdtemp(prefix="kovra-release-", dir="/tmp")
        cls.top_b = tempfile.mkdtemp(prefix="kovra-release-", dir="/var/tmp")
        cls.keys = tempfile.mkdtemp(prefix="kovra-release-keys-", dir="/tmp")
        cls.addClassCleanup(shutil.rmtree, cls.top_a, ignore_errors=True)
        cls.addClassCleanup(shutil.rmtree, cls.top_b, ignore_errors=True)
        cls.addClassCleanup(shutil.rmtree, cls.keys, ignore_errors=True)

        origin = os.path.join(cls.top_a, "origin")
        os.makedirs(origin)
        cls.commit = snapshot(origin)
        cls.clone_a = os.path.join(cls.top_a, "a")
        cls.clone_b = os.path.join(cls.top_b, "a", "much", "longer", "folder", "for", "the", "second", "clone")
        for clone in (cls.clone_a, cls.clone_b):
            subprocess.run(["git", "clone", "-q", origin, clone], check=True, timeout=120)

        # The signing material, outside both clones and build folders.
        os.chmod(cls.keys, 0o755)
        cls.pass_file = os.path.join(cls.keys, "password")
        with open(cls.pass_file, "w") as f:
            f.write(PASSWORD + "\n")
        cls.pkcs12 = os.path.join(cls.keys, "publisher.p12")
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", os.path.join(signing.KEYS, "test-publisher.key"),
                        "-in", os.path.join(signing.KEYS, "test-publisher-chain.crt"), "-passout",
                        "pass:" + PASSWORD, "-out", cls.pkcs12], check=True, timeout=60)
        cls.pem_key = os.path.join(cls.keys, "publisher.key")
        cls.pem_chain = os.path.join(cls.keys, "publisher-chain.crt")
        shutil.copy(os.path.join(signing.KEYS, "test-publisher.key"), cls.pem_key)
        shutil.copy(os.path.join(signing.KEYS, "test-publisher-chain.crt"), cls.pem_chain)
        cls.ca = os.path.join(cls.keys, "ca.crt")
        shutil.copy(signing.certificate("ca"), cls.ca)
        for name in os.listdir(cls.keys):
            os.chmod(os.path.join(cls.keys, name), 0o644)

        tsa = os.path.join(cls.keys, "tsa")
        os.makedirs(tsa)
        TimeStampServer.config = make_time_stamp_authority(tsa)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), TimeStampServer)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        cls.addClassCleanup(server.server_close)
        cls.addClassCleanup(server.shutdown)
        cls.tsa_url = "http://127.0.0.1:%d/" % server.server_address[1]

        settings = ["--download-host", DOWNLOAD_HOST, "--stats-host", STATS_HOST, "--pin", PIN,
                    "--ca-file", cls.ca]
        cls.a = cls.release(cls.clone_a, settings + ["--pkcs12", cls.pkcs12, "--pass-file", cls.pass_file],
                            env={"LC_ALL": "C.UTF-8", "TZ": "UTC"}, umask=0o022)
        if cls.as_nobody:
            subprocess.run(["chown", "-R", "%d:%d" % (NOBODY, NOBODY), cls.top_b], check=True, timeout=120)
        # One processor (nproc, and so the build's jobs), another user, locale
        # and time zone, and files readable by their owner only.
        cls.b = cls.release(cls.clone_b, settings + ["--cert", cls.pem_chain, "--key", cls.pem_key,
                                                     "--timestamp", cls.tsa_url],
                            env={"LC_ALL": "C", "TZ": "Asia/Tokyo"}, umask=0o077,
                            prefix=["taskset", "-c", "0"], user=NOBODY if cls.as_nobody else None)
        for build in (cls.a, cls.b):
            build["unsigned"] = cls.read(build["dir"], "bin", "KovraLoader.exe")
            build["signed"] = cls.read(build["dir"], "dist", "KovraLoader.exe")
            with open(os.path.join(build["dir"], "dist", "KovraLoader.release.txt")) as f:
                build["record text"] = f.read()
            build["record"] = read_record(build["record text"])

    @classmethod
    def release(cls, clone, args, env, umask, prefix=(), user=None, check=True):
        command = list(prefix) + [os.path.join(clone, "tools", "release.sh")] + args
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": os.path.dirname(clone),
                       "no_proxy": "127.0.0.1,localhost"}
        environment.update(env)

        def become():
            os.umask(umask)
            if user is not None:
                os.setgroups([])
                os.setgid(user)
                os.setuid(user)
        started = time.monotonic()
        result = subprocess.run(command, cwd=clone, env=environment, preexec_fn=become, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=900)
        seconds = time.monotonic() - started
        out = result.stdout.decode("utf-8", "replace")
        err = result.stderr.decode("utf-8", "replace")
        if check:
            assert result.returncode == 0, "release in %s failed (%d):\n%s\n%s" % (clone, result.returncode,
                                                                                  out[-4000:], err[-4000:])
            print("release in %s: %.0f s" % (clone, seconds), file=sys.stderr)
        return {"dir": os.path.join(clone, "build", "release"), "clone": clone, "out": out, "err": err,
                "code": result.returncode}

    @staticmethod
    def read(*path):
        with open(os.path.join(*path), "rb") as f:
            return f.read()

    def test_two_builds_in_different_folders_give_the_same_exe(self):
        a, b = (hashlib.sha256(build["unsigned"]).hexdigest() for build in (self.a, self.b))
        print("\n  %s  %s\n  %s  %s" % (a, self.clone_a, b, self.clone_b), file=sys.stderr)
        self.assertEqual(a, b)
        self.assertEqual(self.a["unsigned"], self.b["unsigned"])
        if not self.as_nobody:
            print("  (not root: both built by the same user)", file=sys.stderr)

    def test_the_record_and_the_output_say_what_was_built(self):
        for build in (self.a, self.b):
            record, exe = build["record"], build["unsigned"]
            digest = hashlib.sha256(exe).hexdigest()
            self.assertEqual(record["version"], project_version())
            self.assertEqual(record["commit"], self.commit)
            self.assertTrue(record["commit time"].startswith("%d (2025-11-24 " % COMMIT_TIME), record)
            self.assertEqual(record["unsigned SHA-256"], digest)
            self.assertEqual(record["unsigned size"], "%d bytes" % len(exe))
            self.assertEqual(record["download host"], DOWNLOAD_HOST)
            self.assertEqual(record["statistics host"], STATS_HOST)
            self.assertEqual(record["publisher pin"], "set, " + PIN)
            self.assertEqual(record["signed SHA-256"], hashlib.sha256(build["signed"]).hexdigest())
            self.assertEqual(record["signed size"], "%d bytes" % len(build["signed"]))
            self.assertEqual(record["signer key SHA-256"], PIN)
            for package in ("g++-mingw-w64-i686-posix", "binutils-mingw-w64-i686", "mingw-w64-i686-dev"):
                self.assertIn("\nbuilt with: %s %s\n" % (package, package_version(package)), build["record text"])
            # The toolchain by its own version lines, in the record and the output.
            compiler = subprocess.run(["i686-w64-mingw32-g++-posix", "--version"], check=True,
                                      stdout=subprocess.PIPE).stdout.decode().splitlines()[0]
            self.assertEqual(record["compiler"], compiler)
            self.assertTrue(record["linker"].startswith("GNU ld"), record["linker"])
            self.assertIn("  compiler: %s\n" % compiler, build["out"])
            self.assertIn("unsigned SHA-256: " + digest, build["out"])
            self.assertIn("unsigned size: %d bytes" % len(exe), build["out"])
        self.assertEqual(self.a["record"]["time stamp"], "none")
        self.assertEqual(self.b["record"]["time stamp"], self.tsa_url)

    def test_the_exe_carries_the_settings_and_the_commit_time_and_no_folder(self):
        exe = self.a["unsigned"]
        self.assertEqual(pe_time_stamp(exe), COMMIT_TIME)
        self.assertIn(utf16(DOWNLOAD_HOST), exe)
        self.assertIn(utf16(STATS_HOST), exe)
        self.assertNotIn(utf16("kovra.example"), exe)
        self.assertIn(PIN.encode("ascii"), exe)
        self.assertRegex(exe, re.escape(utf16("FileVersion")) + b"(\0\0)+" + re.escape(utf16(project_version())))
        for folder in (self.top_a, self.top_b, os.path.basename(self.top_a), os.path.basename(self.top_b)):
            self.assertNotIn(folder.encode(), exe)
            self.assertNotIn(utf16(folder), exe)

    def test_the_signed_exes_verify_with_osslsigncode_and_the_loaders_check(self):
        os.makedirs(signature_test.WORK, exist_ok=True)
        other = signing.committed_pin("other-publisher")
        for name, build in (("a", self.a), ("b", self.b)):
            self.assertNotEqual(build["signed"], build["unsigned"])
            path = os.path.join(build["dir"], "dist", "KovraLoader.exe")
            verify = subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", signing.certificate("ca"),
                                     "-TSA-CAfile", signing.certificate("ca")],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
            self.assertEqual(verify.returncode, 0, verify.stdout.decode("utf-8", "replace"))
            loader = "release-%s-KovraLoader.exe" % name
            for pin, expected in ((PIN, 0), (other, signing.SIGNED_BY_ANOTHER_PUBLISHER)):
                started = time.monotonic()
                code = signature_test.check(pin, build["signed"], loader)
                print("  check of %s: %.1f s" % (name, time.monotonic() - started), file=sys.stderr)
                self.assertEqual(code, expected, pin)
        self.assertIn(b"Kovra Test Time Stamps (test only)", self.b["signed"])
        self.assertNotIn(b"Kovra Test Time Stamps (test only)", self.a["signed"])
        self.assertGreaterEqual(TimeStampServer.queries, 1)

    def test_removing_the_signature_gives_back_the_unsigned_exe(self):
        for build in (self.a, self.b):
            unsigned = os.path.join(build["dir"], "removed.exe")
            if os.path.exists(unsigned):
                os.remove(unsigned)
            subprocess.run(["osslsigncode", "remove-signature", "-in",
                            os.path.join(build["dir"], "dist", "KovraLoader.exe"), "-out", unsigned],
                           check=True, stdout=subprocess.DEVNULL, timeout=120)
            self.assertEqual(self.read(unsigned), build["unsigned"])
            os.remove(unsigned)

    def test_the_key_stays_out_of_the_build_folders_the_output_and_the_record(self):
        with open(self.pem_key) as f:
            pem = "".join(f.read().split("\n")[1:-2])  # the base64 body
        # The private numbers (the modulus is public: the certificate in the
        # signature carries it).
        text = subprocess.run(["openssl", "rsa", "-in", self.pem_key, "-noout", "-text"], check=True,
                              stdout=subprocess.PIPE).stdout.decode()
        private = b""
        for name in ("privateExponent", "prime1", "prime2"):
            digits = re.search(name + r":\s*([0-9a-f:\s]+?)\n\S", text).group(1)
            private += bytes.fromhex(re.sub(r"[^0-9a-f]", "", digits)).lstrip(b"\0")
        self.assertGreater(len(private), 400)
        secrets = [pem[i:i + 48].encode() for i in range(0, len(pem) - 48, 200)]
        secrets += [private[i:i + 24] for i in range(0, len(private) - 24, 100)]
        secrets += [self.read(self.pkcs12)[100:140], PASSWORD.encode(), utf16(PASSWORD)]
        for build in (self.a, self.b):
            places = [("output", (build["out"] + build["err"]).encode())]
            for folder, _, names in os.walk(build["dir"]):
                places += [(os.path.join(folder, name), self.read(folder, name)) for name in names]
            self.assertIn(os.path.join(build["dir"], "dist", "KovraLoader.release.txt"), dict(places))
            for place, data in places:
                for secret in secrets:
                    self.assertFalse(secret in data, "part of the key in " + place)

    def test_a_working_tree_with_changes_is_not_released(self):
        stray = os.path.join(self.clone_a, "app", "Stray.cpp")
        with open(stray, "w") as f:
            f.write("// not in the commit\n")
        try:
            result = self.release(self.clone_a, [], env={}, umask=0o022, check=False)
        finally:
            os.remove(stray)
        self.assertNotEqual(result["code"], 0)
        self.assertIn("the working tree differs from commit " + self.commit, result["err"])
        self.assertIn("app/Stray.cpp", result["err"])
        # The previous release is still there.
        self.assertEqual(self.read(self.a["dir"], "bin", "KovraLoader.exe"), self.a["unsigned"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
