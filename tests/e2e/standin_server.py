"""A scriptable stand-in update server on 127.0.0.1 (standard library only).

Each path answers as its Route says: status, body, a true, false or missing
Content-Length, pieces with delays (a trickle), a close halfway, silence after
part of the body (a stall), a trickle after a first part, an endless chunked
body at full speed, a status line and headers sent a byte at a time, or no
answer at all. A route with a validator (ETag, Last-Modified) answers
"Range: bytes=N-" with 206 when If-Range names it; its n-th answer can be cut
after a given number of body bytes, and the file replaced after the first.
Every request is logged with its headers and the body bytes sent.
"""
import http.server
import socketserver
import threading
import time


class Route:
    def __init__(self, body=b"", status=200, length="auto", piece=None, delay=0.0,
                 close_after=None, never_answer=False, stall_after=None, content_type="application/octet-stream",
                 headers=None, trickle_after=None, endless=False, slow_head=None, etag=None, last_modified=None,
                 ranges=True, cuts=(), replacement=None, range_status=None):
        self.body = body
        self.status = status
        self.length = length          # "auto", an int (may lie), or None (no header)
        self.piece = piece            # send the body in pieces of this many bytes
        self.delay = delay            # seconds before each piece
        self.close_after = close_after  # drop the connection after this many body bytes
        self.never_answer = never_answer
        self.stall_after = stall_after  # send this many body bytes, then nothing (the connection stays open)
        self.content_type = content_type
        self.headers = headers or {}  # more response headers
        self.trickle_after = trickle_after  # send this many bytes at once, then a byte every `delay` s
        self.endless = endless        # the body, then zeros for ever, chunked (no length), at full speed
        self.slow_head = slow_head    # seconds between the bytes of the status line and headers
        self.etag = etag              # sent as ETag
        self.last_modified = last_modified  # sent as Last-Modified
        self.ranges = ranges          # answer a request for the rest with 206 (else the whole file, 200)
        self.cuts = list(cuts)        # the n-th answer drops the connection after this many body bytes
        self.replacement = replacement  # (body, etag): the file from the second request on
        self.range_status = range_status  # what a request for the rest gets instead (a busy server's 503)
        self.answers = 0

ENDLESS_LIMIT = 120  # seconds an endless body runs at most when nobody hangs up

class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        server = self.server
        path, proxied = self.path, self.path.startswith("http://")
        if proxied:  # asked as a proxy: the absolute address names the server
            path = "/" + path[len("http://"):].partition("/")[2]
        entry = {"method": "GET", "path": path, "proxied": proxied,
                 "headers": {k.lower(): v for k, v in self.headers.items()}, "time": time.time(), "finished": None}
        with server.lock:
            server.requests.append(entry)
            route = server.routes.get(path)
        if route is None:
            route = Route(b"<html>not found</html>", status=404)
        if route.never_answer:
            server.stop_event.wait(120)
            return
        try:
            if route.slow_head is not None:
                self._slow_head(route, entry)
            elif route.endless:
                self._endless(route, entry)
            else:
                self._answer(route, entry)
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.close_connection = True

    def _slow_head(self, route, entry):
        head = ("HTTP/1.1 %d OK\r\nContent-Type: %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                % (route.status, route.content_type, len(route.body))).encode()
        for i in range(len(head)):
            if self.server.stop_event.wait(route.slow_head):
                return
            self.wfile.write(head[i:i + 1])
            self.wfile.flush()
        self.wfile.write(route.body)
        entry["finished"] = time.time()

    def _endless(self, route, entry):
        self.send_response(route.status)
        self.send_header("Content-Type", route.content_type)
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        zeros = bytes(65536)
        started, sent = time.time(), 0
        chunk = route.body
        while time.time() - started < ENDLESS_LIMIT and not self.server.stop_event.is_set():
            self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
            sent += len(chunk)
            entry["sent"] = sent
            chunk = zeros

    def _answer(self, route, entry):
        with self.server.lock:
            n, route.answers = route.answers, route.answers + 1
        body, etag = route.replacement if route.replacement and n > 0 else (route.body, route.etag)
        status, extra = route.status, dict(route.headers)
        if etag:
            extra["ETag"] = etag
        if route.last_modified:
            extra["Last-Modified"] = route.last_modified
        asked, if_range = self.headers.get("Range"), self.headers.get("If-Range")
        if asked and route.range_status:
            status, body = route.range_status, b""
        elif asked and route.ranges and status == 200 and if_range in (None, etag or route.last_modified):
            start = int(asked.split("=", 1)[1].split("-", 1)[0])
            if start >= len(body):
                status, body, extra["Content-Range"] = 416, b"", "bytes */%d" % len(body)
            else:
                status, extra["Content-Range"] = 206, "bytes %d-%d/%d" % (start, len(body) - 1, len(body))
                body = body[start:]
        self.send_response(status)
        self.send_header("Content-Type", route.content_type)
        for name, value in extra.items():
            self.send_header(name, value)
        length = len(body) if route.length == "auto" else route.length
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        self.end_headers()
        if route.close_after is not None:
            body = body[:route.close_after]
        if n < len(route.cuts):
            body = body[:route.cuts[n]]
        if route.stall_after is not None:
            body = body[:route.stall_after]
        entry["sent"] = len(body)
        piece = route.piece or max(len(body), 1)
        if route.trickle_after is not None:
            self.wfile.write(body[:route.trickle_after])
            self.wfile.flush()
            body, piece = body[route.trickle_after:], 1
        for start in range(0, len(body), piece):
            if route.delay and self.server.stop_event.wait(route.delay):
                return
            self.wfile.write(body[start:start + piece])
            self.wfile.flush()
        entry["finished"] = time.time()  # the last byte was handed to the socket
        if route.stall_after is not None:
            self.server.stop_event.wait(600)


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class StandinServer:
    def __init__(self, port):
        self.port = port
        self._server = _Server(("127.0.0.1", port), _Handler)
        self._server.lock = threading.Lock()
        self._server.routes = {}
        self._server.requests = []
        self._server.stop_event = threading.Event()
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def reset(self, routes):
        with self._server.lock:
            self._server.routes = dict(routes)
            self._server.requests = []

    @property
    def requests(self):
        with self._server.lock:
            return list(self._server.requests)

    def paths(self):
        return [r["path"] for r in self.requests]

    def close(self):
        self._server.stop_event.set()
        self._server.shutdown()
        self._server.server_close()
