#!/usr/bin/env python3
"""A small scripted HTTP server for the behaviours nginx cannot produce.

It answers origin-form requests ("GET /path") and absolute-form requests
("GET http://host/path", as a client sends them to a proxy), so it can stand
for any host through the proxy route as well as be reached directly.

How a response is made, first match wins:
  1. a script registered for the path (POST /__control/script): a queue of
     steps taken one per request, then a default (a step may name its
     "method");
  2. options written into the path: /x/<options>/<file>, options separated by
     ';', each "name" or "name=value" (values percent-decoded);
  3. a plain static answer for the file under --root, honouring Range; the
     statistics endpoint (/update/...) answers 200 "ok" when nothing else does.

Options:
  status=N      answer with this status (no body unless body= is given)
  location=URL  Location header
  redirect=N    302 to the same path with redirect=N-1 (a chain of N redirects)
  ctype=TYPE    Content-Type (default application/octet-stream)
  length=TEXT   Content-Length text as given; "none" leaves the header out
  unsized       no size anywhere: no Content-Length in any answer, a 206's
                Content-Range names "*" as the size; bodies end with the
                connection
  chunked       bodies in chunks (Transfer-Encoding: chunked), no
                Content-Length; a cut, reset or stall leaves out the last chunk
  lm=TEXT       Last-Modified text; "none" leaves it out (default: file mtime)
  etag=TEXT     ETag header (none by default); an If-Range naming an entity
                tag gets the range only when it is this tag and strong
  refusehead=N  answer every HEAD with status N (as servers of signed URLs
                refuse every method but the one signed); GETs as usual
  norange       ignore Range, answer 200 with the whole file
  force206      answer 206 with Content-Range even without Range
  noifrange     honour Range even when If-Range does not match Last-Modified
  crange=TEXT   Content-Range text as given
  cut=N         close the connection after N body bytes of this answer (a
                normal close: every byte written reaches the client)
  reset=N       abort the connection (TCP RST) after N body bytes, once the
                client has read what reached it: what the kernel still held
                unacknowledged is lost in flight; the amount is reported by
                /__control/state
  stall=N       after N body bytes stop sending and hold the connection
  silent        accept the request and never answer (hold the connection)
  keepopen      after the whole body, hold the connection open without
                closing it (with a Content-Length above the body, the client
                waits for bytes that never come)
  hold=SECONDS  how long stall/silent/keepopen hold the connection (default 60)
  file=NAME     serve this file of --root instead of the one the path names
  until=NAME    rate= lasts only until the test opens the gate NAME
                (POST /__control/open with the name): a test slows an answer
                down only as long as it needs
  rate=BYTES    limit the body to this many bytes a second
  pace=BYTES    send the body in pieces of this size, each once the test has
                opened the gate "<until> <k>" for it (k = 1, 2, ...)
  body=TEXT     literal body instead of the file
  padheaders=N  add junk header lines of about N bytes in all
  header=LINE   one extra raw header line (may repeat in scripts as "headers")

Every request is appended to --log as one line, written when its answer is
done, in the same layout as the nginx access log of the harness:
  server TAB time TAB request-line TAB status TAB body-bytes-sent TAB Header: value ...
Values are escaped the way nginx escapes them (\\xHH for '"', '\\', and bytes
outside 0x20..0x7e).
A connection that opens with a TLS handshake (an https client) is logged with
the request line "TLS-HANDSHAKE" and closed at once.

POST /__control/open opens the gate named in the body; /__control/reset
closes every gate. GET or POST /__control/state answers JSON: "pending", the request lines being
answered right now (not yet in the log), and "resets", one record per answer
ended by reset= ({"request", "range", "written", "unacked"}), oldest first.
POST /__control/log with "<nginx|scripted> <offset> <match>" answers the
entries of that log from the offset on, once every answer given so far to a
request line containing match is written (kovra_harness.ServerLog.netstrings).
"""

import argparse
import email.utils
import fcntl
import json
import os
import select
import socket
import socketserver
import struct
import termios
import threading
import time
import urllib.parse

import kovra_harness

SCRIPTS = {}
SCRIPTS_LOCK = threading.Lock()
LOG_LOCK = threading.Lock()
# Answers in progress (id -> request line) and the record of aborted ones.
STATE_LOCK = threading.Lock()
PENDING = {}
# Gates the test has opened (until=).
OPENED = set()
RESETS = []
ARGS = None


def escape(text):
    out = []
    for b in text.encode("latin-1", "replace"):
        if b < 0x20 or b > 0x7E or b in (0x22, 0x5C):
            out.append("\\x%02X" % b)
        else:
            out.append(chr(b))
    return "".join(out)


def write_log(request_line, headers, status, sent):
    fields = ["scripted", "%.3f" % time.time(), escape(request_line), str(status), str(sent)]
    fields += [escape("%s: %s" % (k, v)) for k, v in headers]
    with LOG_LOCK:
        with open(ARGS.log, "a", encoding="latin-1") as f:
            f.write("\t".join(fields) + "\n")


def parse_options(text):
    opts = {}
    for part in text.split(";"):
        if not part:
            continue
        name, eq, value = part.partition("=")
        opts[name] = urllib.parse.unquote(value) if eq else True
    return opts


def take_script_step(path, method):
    with SCRIPTS_LOCK:
        script = SCRIPTS.get(path)
        if script is None:
            return None
        for i, step in enumerate(script["steps"]):
            if step.get("method") in (None, method):
                script["steps"].pop(i)
                merged = dict(script.get("default", {}))
                merged.update(step)
                return merged
        return dict(script.get("default", {}))


def server_log(which, offset):
    """The instance's nginx log, or this server's, read from offset."""
    folder = os.path.dirname(os.path.abspath(ARGS.log))
    if which == "nginx":
        with open(os.path.join(folder, "env.json")) as f:
            values = json.load(f)
        return kovra_harness.ServerLog(os.path.join(folder, "nginx", "access.log"), lambda match: (
            kovra_harness.nginx_idle(int(values["KOVRA_NGINX_PORT"]), values["KOVRA_DOWNLOAD_HOST"])), offset)

    def settled(match):
        with STATE_LOCK:
            return not [line for line in PENDING.values() if match in line]
    return kovra_harness.ServerLog(ARGS.log, settled, offset)


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.settimeout(120)
        self.reader = self.request.makefile("rb")

    def handle(self):
        while True:
            try:
                keep = self.handle_one()
            except (ConnectionError, socket.timeout, OSError):
                return
            if not keep:
                return

    def read_head(self):
        line = self.reader.readline(65537)
        if not line:
            return None, None
        request_line = line.decode("latin-1").rstrip("\r\n")
        headers = []
        while True:
            h = self.reader.readline(65537)
            if not h or h in (b"\r\n", b"\n"):
                break
            name, _, value = h.decode("latin-1").rstrip("\r\n").partition(":")
            headers.append((name.strip(), value.strip()))
        return request_line, headers

    def handle_one(self):
        # A TLS handshake where plain HTTP was expected: log it and hang up.
        if self.reader.peek(1)[:1] == b"\x16":
            write_log("TLS-HANDSHAKE", [], 0, 0)
            return False
        request_line, headers = self.read_head()
        if request_line is None:
            return False
        self.request_line = request_line
        parts = request_line.split(" ")
        method = parts[0] if parts else ""
        target = parts[1] if len(parts) > 1 else "/"
        header_map = {k.lower(): v for k, v in reversed(headers)}
        length = int(header_map.get("content-length", "0") or 0)
        body_in = self.reader.read(length) if length > 0 else b""

        if target.startswith("http://") or target.startswith("https://"):
            split = urllib.parse.urlsplit(target)
            path, query = split.path or "/", split.query
        else:
            path, _, query = target.partition("?")

        if path.startswith("/__control/"):
            return self.control(path, body_in)

        # The status that went out and the body bytes written, as nginx logs
        # them, also when the client hangs up in the middle of the body.
        self.answer = (0, 0)
        with STATE_LOCK:
            PENDING[id(self)] = request_line
        try:
            status, sent, keep = self.respond(method, path, header_map)
            self.answer = (status, sent)
        finally:
            write_log(request_line, headers, *self.answer)
            with STATE_LOCK:
                PENDING.pop(id(self), None)
        return keep

    # --- control -----------------------------------------------------------
    def control(self, path, body):
        reply = b"ok\n"
        if path == "/__control/script":
            script = json.loads(body.decode("utf-8"))
            with SCRIPTS_LOCK:
                SCRIPTS[script["path"]] = {"steps": list(script.get("steps", [])),
                                           "default": script.get("default", {})}
        elif path == "/__control/reset":
            with SCRIPTS_LOCK:
                SCRIPTS.clear()
            with STATE_LOCK:
                del RESETS[:]
                OPENED.clear()
        elif path == "/__control/open":
            with STATE_LOCK:
                OPENED.add(body.decode("utf-8"))
        elif path == "/__control/state":
            with STATE_LOCK:
                state = {"pending": sorted(PENDING.values()), "resets": list(RESETS)}
            reply = json.dumps(state).encode("utf-8")
        elif path == "/__control/log":
            which, offset, match = body.decode("latin-1").split(" ", 2)
            reply = server_log(which, int(offset)).netstrings(match)
        elif path == "/__control/ping":
            pass
        else:
            self.send_raw(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
            return True
        self.send_raw(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(reply) + reply)
        return True

    def send_raw(self, data):
        self.request.sendall(data)

    def wait_gate(self, gate, seconds):
        """Waits until the test opens the gate, seconds pass or the client
        hangs up (a killed client's answer is logged at once); whether the
        gate is open."""
        deadline = time.time() + seconds
        while gate not in OPENED and time.time() < deadline:
            try:
                if select.select([self.request], [], [], 0)[0] and not self.request.recv(1, socket.MSG_PEEK):
                    break
            except OSError:
                break
            time.sleep(0.02)
        return gate in OPENED

    def hold(self, opts):
        deadline = time.time() + float(opts.get("hold", 60))
        self.request.settimeout(0.5)
        while time.time() < deadline:
            try:
                if not self.request.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    # --- answers -----------------------------------------------------------
    def respond(self, method, path, header_map):
        opts = take_script_step(path, method)
        file_part = path
        if opts is None:
            opts = {}
            if path.startswith("/x/"):
                _, _, rest = path.partition("/x/")
                encoded, _, file_rest = rest.partition("/")
                opts = parse_options(encoded)
                file_part = "/" + file_rest

        if opts.get("silent"):
            self.hold(opts)
            return 0, 0, False

        body = None
        mtime = None
        if "file" in opts:
            file_part = "/" + opts["file"]
        if "body" in opts:
            body = str(opts["body"]).encode("utf-8")
        else:
            name = os.path.normpath(urllib.parse.unquote(file_part)).lstrip("/")
            full = os.path.join(ARGS.root, name)
            if name and not name.startswith("..") and os.path.isfile(full):
                with open(full, "rb") as f:
                    body = f.read()
                mtime = os.path.getmtime(full)

        extra = []
        status = int(opts.get("status", 0))
        location = opts.get("location")
        if "redirect" in opts:
            remaining = int(opts["redirect"])
            if remaining > 0:
                status = status or 302
                encoded, _, file_rest = path.partition("/x/")[2].partition("/")
                others = ";".join(p for p in encoded.split(";") if not p.startswith("redirect="))
                location = "/x/%sredirect=%d/%s" % (others + ";" if others else "", remaining - 1, file_rest)
        if location:
            extra.append(("Location", location))
        elif method == "HEAD" and opts.get("refusehead"):
            status = int(opts["refusehead"])

        if body is None and not status and path.startswith("/update/"):
            body = b"ok\n"
            opts.setdefault("ctype", "text/plain")
        if body is None and not status:
            status = 404
            body = b"not found\n"
            opts.setdefault("ctype", "text/plain")

        lm = opts.get("lm")
        lm_text = None
        if lm is None and mtime is not None:
            lm_text = email.utils.formatdate(mtime, usegmt=True)
        elif lm and lm != "none":
            lm_text = lm

        total = len(body) if body is not None else 0
        start, end = 0, total
        range_header = header_map.get("range")
        # If-Range: the range only when it names this version exactly (the
        # Last-Modified text, or the ETag, never a weak one), the whole file
        # otherwise (a strong comparison).
        etag = opts.get("etag")
        if_range = header_map.get("if-range")
        named = etag if if_range is not None and if_range.startswith(('"', "W/")) else lm_text
        if (if_range is not None and (if_range != named or named.startswith("W/"))
                and not opts.get("noifrange")):
            range_header = None
        if not status:
            status = 200
            if range_header and not opts.get("norange") and range_header.startswith("bytes="):
                first, _, last = range_header[6:].partition("-")
                try:
                    start = int(first) if first else 0
                    end = int(last) + 1 if last else total
                except ValueError:
                    start, end = 0, total
                if start >= total and total > 0:
                    status = 416
                    body, start, end = b"", 0, 0
                    extra.append(("Content-Range", "bytes */%d" % total))
                else:
                    end = min(end, total)
                    status = 206
            if opts.get("force206") and status == 200:
                status = 206
            if status == 206 and "crange" not in opts:
                size = "*" if opts.get("unsized") else str(total)
                extra.append(("Content-Range", "bytes %d-%d/%s" % (start, max(end - 1, start), size)))
        elif body is not None and "body" not in opts and status >= 300:
            body, start, end = b"", 0, 0
        if "crange" in opts:
            extra.append(("Content-Range", opts["crange"]))

        payload = body[start:end] if body is not None else b""
        reason = {200: "OK", 206: "Partial Content", 301: "Moved Permanently", 302: "Found", 404: "Not Found",
                  416: "Range Not Satisfiable"}.get(status, "Status")
        lines = ["HTTP/1.1 %d %s" % (status, reason),
                 "Date: %s" % email.utils.formatdate(usegmt=True),
                 "Server: kovra-scripted"]
        lines.append("Content-Type: %s" % opts.get("ctype", "application/octet-stream"))
        length_text = opts.get("length")
        chunked = bool(opts.get("chunked")) and method != "HEAD" and status not in (204, 304)
        if opts.get("chunked"):
            lines.append("Transfer-Encoding: chunked")
        elif opts.get("unsized"):
            length_text = "none"
        elif length_text is None:
            lines.append("Content-Length: %d" % len(payload))
        elif length_text != "none":
            lines.append("Content-Length: %s" % length_text)
        if lm_text:
            lines.append("Last-Modified: %s" % lm_text)
        if etag:
            lines.append("ETag: %s" % etag)
        lines.append("Accept-Ranges: bytes")
        for name, value in extra:
            lines.append("%s: %s" % (name, value))
        if opts.get("header"):
            lines.append(opts["header"])
        for raw in opts.get("headers", []):
            lines.append(raw)
        if opts.get("padheaders"):
            pad = int(opts["padheaders"])
            i = 0
            while pad > 0:
                lines.append("X-Pad-%d: %s" % (i, "p" * min(200, pad)))
                pad -= 200
                i += 1
        close = (length_text is not None or opts.get("close") or opts.get("cut") is not None
                 or opts.get("reset") is not None)
        lines.append("Connection: %s" % ("close" if close else "keep-alive"))
        self.send_raw(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
        self.answer = (status, 0)

        if method == "HEAD":
            return status, 0, not close
        sent = self.send_body(payload, opts, header_map, chunked)
        if sent is None:
            return status, int(opts["reset"]), False
        finished = sent == len(payload)
        if finished and opts.get("keepopen"):
            self.hold(opts)
            return status, sent, False
        return status, sent, finished and not close

    def abort(self, written, header_map):
        # The RST waits until the client has read what reached it: one that
        # came while a busy client was behind was seen to lose tens of
        # kilobytes more than what was in flight and one read. SIOCOUTQ,
        # taken before that check: bytes written but not yet acknowledged by
        # the client; the RST throws them away.
        deadline = time.time() + 30
        while True:
            unacked = struct.unpack("i", fcntl.ioctl(self.request.fileno(), termios.TIOCOUTQ, b"\0" * 4))[0]
            if self.peer_unread() <= 0 or time.time() > deadline:
                break
            time.sleep(0.002)
        with STATE_LOCK:
            RESETS.append({"request": self.request_line, "range": header_map.get("range"),
                           "written": written, "unacked": unacked})
        self.reset_connection()

    def peer_unread(self):
        """Bytes the client's socket has received and the client not read yet
        (its receive queue in /proc/net/tcp: both ends are on this machine)."""
        ends = " ".join("%08X:%04X" % (struct.unpack("<I", socket.inet_aton(host))[0], port)
                        for host, port in (self.request.getpeername(), self.request.getsockname()))
        with open("/proc/net/tcp") as f:
            rows = [line.split() for line in f]
        return next((int(row[4].split(":")[1], 16) for row in rows if " ".join(row[1:3]) == ends), -1)

    def reset_connection(self):
        self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.reader.close()
        self.request.close()

    def send_body(self, payload, opts, header_map, chunked=False):
        """Bytes of the body written; None when the connection was reset."""
        limit = len(payload)
        stop_kind = None
        if opts.get("cut") is not None:
            limit, stop_kind = min(limit, int(opts["cut"])), "cut"
        if opts.get("reset") is not None and int(opts["reset"]) < limit:
            limit, stop_kind = int(opts["reset"]), "reset"
        if opts.get("stall") is not None and int(opts["stall"]) < limit:
            limit, stop_kind = int(opts["stall"]), "stall"
        rate = float(opts.get("rate", 0))
        sent = 0
        chunk = 65536 if not rate else max(1, int(rate / 20))
        began = time.time()
        view = memoryview(payload)
        pace = int(opts.get("pace", 0))
        while sent < limit:
            n = min(chunk, limit - sent)
            if pace:
                n = min(n, pace - sent % pace)
                gate = "%s %d" % (opts.get("until"), sent // pace + 1)
                if sent % pace == 0 and not self.wait_gate(gate, float(opts.get("hold", 60))):
                    break
            if chunked:
                self.request.sendall(b"%x\r\n" % n + bytes(view[sent:sent + n]) + b"\r\n")
            else:
                self.request.sendall(view[sent:sent + n])
            sent += n
            self.answer = (self.answer[0], sent)
            if rate and opts.get("until") in OPENED:
                rate, chunk = 0, 65536
            if rate:
                ahead = sent / rate - (time.time() - began)
                if ahead > 0:
                    time.sleep(ahead)
        if chunked and (stop_kind is None or sent == len(payload)):
            self.request.sendall(b"0\r\n\r\n")
        if stop_kind == "reset":
            self.abort(sent, header_map)
            return None
        if stop_kind == "stall" and sent < len(payload):
            self.hold(opts)
        if stop_kind is not None and sent < len(payload):
            try:
                self.request.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        return sent


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, help="the port to listen on")
    parser.add_argument("--fd", type=int, help="or a socket already listening, given by the harness")
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    ARGS = parser.parse_args()
    with Server(("127.0.0.1", ARGS.port or 0), Handler, bind_and_activate=ARGS.fd is None) as server:
        if ARGS.fd is not None:
            server.socket.close()
            server.socket = socket.socket(fileno=ARGS.fd)
        server.serve_forever()


if __name__ == "__main__":
    main()
