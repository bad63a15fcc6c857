"""A static web server on Python's http.server for the HTTP client's tests.

    python_peer.py PORT DIR

Serves DIR on 127.0.0.1:PORT as HTTP/1.0. A path under /close/ names the
same file, sent without Content-Length: its body ends where the server
closes the connection.
"""
import http.server
import shutil
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        if not self.path.startswith("/close/"):
            return super().do_GET()
        try:
            source = open(self.translate_path(self.path[len("/close"):]), "rb")
        except OSError:
            return self.send_error(404)
        with source:
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.end_headers()
            shutil.copyfileobj(source, self.wfile)

    def log_message(self, *args):
        pass


def main():
    port, root = int(sys.argv[1]), sys.argv[2]
    handler = lambda *a, **kw: Handler(*a, directory=root, **kw)
    with http.server.ThreadingHTTPServer(("127.0.0.1", port), handler) as server:
        server.serve_forever()


if __name__ == "__main__":
    main()
