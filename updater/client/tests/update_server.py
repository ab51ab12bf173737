#!/usr/bin/env python3
"""A web site for the update and hand-off tests: serves the files of a folder over HTTP/1.0 on
127.0.0.1, port chosen by the system and written to PORTFILE.

  update_server.py ROOT PORTFILE

Requests may use the origin form ("/a/b") or the absolute form ("http://host/a/b"). A query
"?cut=N" sends the full Content-Length but only N bytes of the body, then closes the connection.
Every request path is appended to ROOT/.requests, one a line.
"""
import http.server
import os
import sys
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        target = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(target.path)
        query = urllib.parse.parse_qs(target.query)
        with open(os.path.join(ROOT, ".requests"), "a") as log:
            log.write(path + "\n")
        full = os.path.realpath(os.path.join(ROOT, path.lstrip("/")))
        if not full.startswith(ROOT + os.sep) or not os.path.isfile(full):
            self.send_error(404)
            return
        with open(full, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if "cut" in query:
            body = body[: int(query["cut"][0])]
        self.wfile.write(body)
        self.wfile.flush()


ROOT = os.path.realpath(sys.argv[1])
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
tmp = sys.argv[2] + ".tmp"
with open(tmp, "w") as f:
    f.write(str(server.server_address[1]))
os.rename(tmp, sys.argv[2])
server.serve_forever()
