"""A real forward proxy and a TLS origin for the harness.

squid (Debian's package) stands between the program and the servers as a
user's proxy does: plain requests go on to an origin of the harness (nginx or
the scripted server, given as its parent), https goes through CONNECT to the
host and port the URL names, and it can ask for a password (Basic, checked by
its basic_ncsa_auth helper against a file the test writes). The fixed hosts
and the CDN host resolve to loopback through squid's own hosts file, so the
machine's resolver is never asked.

The TLS origin is nginx with server certificates made here: one signed by a
test CA that only the Wine prefix's root store trusts (its user's Root
certificates, which Wine's crypt32 reads), one self-signed that nobody
trusts. The machine's own certificate store is never touched.
"""

import hashlib
import os
import shutil
import socket
import struct
import subprocess

CDN_HOST = "cdn.kovra.example"
SQUID = shutil.which("squid") or "/usr/sbin/squid"
BASIC_HELPER = "/usr/lib/squid/basic_ncsa_auth"
REALM = "Kovra test proxy"


def _openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(folder):
    """The test CA, a certificate it signs for the CDN host, and a stray
    self-signed one for the same host. Returns their paths by name."""
    os.makedirs(folder, exist_ok=True)
    path = {name: os.path.join(folder, name) for name in
            ("ca.crt", "ca.key", "ca.der", "cdn.crt", "cdn.key", "cdn.csr", "cdn.ext", "stray.crt", "stray.key")}
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj", "/CN=Kovra Test CA",
             "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
             "-keyout", path["ca.key"], "-out", path["ca.crt"])
    _openssl("x509", "-in", path["ca.crt"], "-outform", "DER", "-out", path["ca.der"])
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + CDN_HOST,
             "-keyout", path["cdn.key"], "-out", path["cdn.csr"])
    with open(path["cdn.ext"], "w") as f:
        f.write("subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n" % CDN_HOST)
    _openssl("x509", "-req", "-in", path["cdn.csr"], "-CA", path["ca.crt"], "-CAkey", path["ca.key"],
             "-set_serial", "1", "-days", "3650", "-extfile", path["cdn.ext"], "-out", path["cdn.crt"])
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj", "/CN=" + CDN_HOST,
             "-addext", "subjectAltName=DNS:" + CDN_HOST, "-keyout", path["stray.key"], "-out", path["stray.crt"])
    return path


def root_store_registry_file(ca_der, reg_path):
    """A .reg file that puts the CA into the Wine prefix's root store of the
    current user, as CertAddEncodedCertificateToStore would: the key is the
    certificate's SHA-1, its Blob one property entry (CERT_CERT_PROP_ID) with
    the DER. The user's store, not the machine's: Wine 10's crypt32 rewrites
    the machine's root certificates from the host's whenever it starts
    (measured: an imported one was gone after the first program that used
    crypt32), and keeps the user's. The user's Root store is one the chain
    engine of a user's program trusts, on Windows as under Wine 8 and 10."""
    with open(ca_der, "rb") as f:
        der = f.read()
    blob = struct.pack("<III", 0x20, 1, len(der)) + der
    key = r"HKEY_CURRENT_USER\Software\Microsoft\SystemCertificates\Root\Certificates\%s" % (
        hashlib.sha1(der).hexdigest().upper())
    with open(reg_path, "w", encoding="utf-16") as f:
        f.write('Windows Registry Editor Version 5.00\n\n[%s]\n"Blob"=hex:%s\n\n'
                % (key, ",".join("%02x" % b for b in blob)))
    return reg_path


def write_password_file(path, user, password):
    """squid's basic_ncsa_auth reads "user:hash" lines (apr1 hashes)."""
    hashed = subprocess.run(["openssl", "passwd", "-apr1", password], check=True, stdout=subprocess.PIPE,
                            stdin=subprocess.DEVNULL).stdout.decode().strip()
    with open(path, "w") as f:
        f.write("%s:%s\n" % (user, hashed))


class Squid:
    """The configuration of one squid in a folder of its own.

    origin_port: the server plain requests go to (it gets them as an origin
    would, with the host in Host). hosts: names that resolve to loopback
    for CONNECT. ports: the two it listens on, the second named "second".
    free: access rules ("!second", "second HEAD") under which a request
    needs no password; every other one needs Basic credentials found in
    password_file. The log has one line per request: the time its header
    was complete, status, method, URL (with its query), the user name given
    ("-" for none), bytes sent."""

    def __init__(self, folder, origin_port, hosts, ports, password_file, free):
        self.ports = ports
        os.makedirs(folder, exist_ok=True)
        open(os.path.join(folder, "access.log"), "a").close()
        with open(os.path.join(folder, "hosts"), "w") as f:
            f.write("127.0.0.1 %s\n" % " ".join(hosts))
        self.config = os.path.join(folder, "squid.conf")
        with open(self.config, "w") as f:
            f.write("""http_port 127.0.0.1:{port}
http_port 127.0.0.1:{second} name=second
pid_filename {dir}/squid.pid
cache_log {dir}/cache.log
coredump_dir {dir}
logformat kovra %tS %>Hs %rm %ru %un %<st
access_log stdio:{dir}/access.log kovra
logfile_rotate 0
strip_query_terms off
cache deny all
pinger_enable off
shutdown_lifetime 0 seconds
hosts_file {dir}/hosts
dns_nameservers 127.0.0.1
# No netdb exchange: squid would fetch /squid-internal-dynamic/netdb from
# the origin itself, a request in the log that no loader sent.
cache_peer 127.0.0.1 parent {origin} 0 no-query no-digest no-netdb-exchange originserver name=origin
acl CONNECT method CONNECT
acl HEAD method HEAD
acl second myportname second
cache_peer_access origin allow !CONNECT
never_direct allow !CONNECT
always_direct allow CONNECT
{free}auth_param basic program {helper} {passwords}
auth_param basic realm {realm}
acl authed proxy_auth REQUIRED
http_access allow authed
http_access deny all
""".format(port=ports[0], second=ports[1], dir=folder, origin=origin_port, helper=BASIC_HELPER,
           passwords=password_file, realm=REALM, free="".join("http_access allow %s\n" % rule for rule in free)))
        # Started as root, squid works as the user "proxy": it reads and
        # writes here.
        if os.geteuid() == 0:
            for name in [""] + os.listdir(folder):
                shutil.chown(os.path.join(folder, name), "proxy", "proxy")

    def command(self):
        return [SQUID, "-N", "-f", self.config]

    def ready(self):
        """Whether it takes connections on both ports."""
        try:
            for port in self.ports:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            return False


def squid_log(path, since=0):
    """(status, method, url, user, bytes) of every request a squid logged
    whose header was complete at the time since or later."""
    rows = []
    if os.path.exists(path):
        with open(path, encoding="latin-1") as f:
            for line in f:
                words = line.split()
                # A connection closed before any request (a readiness probe)
                # is logged too, as "error:...".
                if len(words) >= 6 and not words[3].startswith("error:") and float(words[0]) >= since:
                    rows.append((int(words[1]) if words[1].isdigit() else 0, words[2], words[3], words[4],
                                 int(words[5]) if words[5].isdigit() else 0))
    return rows
