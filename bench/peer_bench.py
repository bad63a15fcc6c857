#!/usr/bin/env python3
"""`downsql fetch` against loopback peers that misbehave: how each ends, how
long it takes and the most memory it holds.

    bench/peer_bench.py [--downsql PATH] [--only NAME]

Each peer is a small server on a free loopback port that reads the request
head and then misbehaves as its name says. downsql runs with --timeout 2 so
the silent peers end quickly (the default limit is 60 s). Peak memory is the
largest resident set of the downsql process, read by GNU time. Build
downsql first (scripts/build.sh normal downsql_cli).
"""
import argparse
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MB = 1024 * 1024
OK = b"HTTP/1.1 200 OK\r\n"


def send_until(conn, pieces, limit):
    """Sends the pieces that pieces() yields until limit bytes or the client
    lets go."""
    sent = 0
    try:
        for piece in pieces():
            conn.sendall(piece)
            sent += len(piece)
            if sent >= limit:
                break
    except OSError:
        pass


def flood_of(line_size):
    line = b"X-Flood: " + b"h" * (line_size - 11) + b"\r\n"
    return lambda conn: send_until(conn, lambda: iter([OK] + [line * 1000] * 1000000), 300 * MB)


def line_flood(conn):
    send_until(conn, lambda: iter([OK, b"X-Long: "] + [b"v" * MB] * 1000), 256 * MB)


def silent(conn):
    time.sleep(5)


def huge_chunk(conn):
    conn.sendall(OK + b"Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\nabc")


def short_body(conn):
    conn.sendall(OK + b"Content-Length: 1000000\r\n\r\nINSERT 1;\r\n")


def long_length(conn):
    conn.sendall(OK + b"Content-Length: 99999999999999999999\r\n\r\nINSERT 1;\r\n")


def trickle(conn):
    conn.sendall(OK + b"Content-Length: 10\r\n\r\n")
    for byte in b"INSERT 1;\n":
        time.sleep(0.3)
        conn.sendall(bytes([byte]))


def large_head_and_body(conn):
    # A head just under its bound, then 40 MB of SQL lines: the most a
    # well-behaved answer of that size makes the client hold.
    line = b"X-Fill: " + b"f" * 990 + b"\r\n"
    body_line = b"INSERT INTO dl (id,date,n1) VALUES (1,'2001-01-01',7);\r\n"
    count = 40 * MB // len(body_line)
    conn.sendall(OK + line * 1040 + b"Content-Length: %d\r\n\r\n" % (count * len(body_line)))
    send_until(conn, lambda: iter([body_line * 1000] * (count // 1000) +
                                  [body_line * (count % 1000)]), 40 * MB)


PEERS = [
    ("300 MB of header lines of 100 bytes", flood_of(100)),
    ("300 MB of header lines of 1000 bytes", flood_of(1000)),
    ("one 256 MB header line", line_flood),
    ("silent after the request", silent),
    ("chunk size FFFFFFFFFFFFFFFF, 3 bytes, close", huge_chunk),
    ("Content-Length beyond the body, close", short_body),
    ("Content-Length of 20 digits, close", long_length),
    ("one byte every 300 ms", trickle),
    ("1 MiB head, then a 40 MB body", large_head_and_body),
]


def serve_once(listener, behave):
    conn, _ = listener.accept()
    with conn:
        request = b""
        while b"\r\n\r\n" not in request:
            data = conn.recv(4096)
            if not data:
                return
            request += data
        behave(conn)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--downsql", default=os.path.join(ROOT, "build", "bin", "downsql"))
    parser.add_argument("--only", help="run only the peers whose name contains this")
    args = parser.parse_args()
    timer = "/usr/bin/time"
    if not os.path.exists(timer):
        sys.exit("peer_bench: needs GNU time (Debian package time)")

    print("| peer | outcome | seconds | peak MiB |")
    print("|---|---|---|---|")
    with tempfile.TemporaryDirectory(prefix="peer_bench-") as work:
        for name, behave in PEERS:
            if args.only and args.only not in name:
                continue
            listener = socket.socket()
            listener.bind(("127.0.0.1", 0))
            listener.listen(1)
            server = threading.Thread(target=serve_once, args=(listener, behave), daemon=True)
            server.start()
            report = os.path.join(work, "time")
            command = [timer, "-o", report, "-f", "%e %M", args.downsql, "--service",
                       "127.0.0.1:%d" % listener.getsockname()[1], "--timeout", "2", "fetch",
                       work]
            done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            listener.close()
            errors = [line for line in done.stderr.decode("utf-8", "replace").splitlines()
                      if line.startswith("downsql: ")]
            outcome = errors[-1][len("downsql: "):] if errors else "answer printed"
            with open(report) as times:
                seconds, peak_kb = times.read().split()[-2:]
            print("| %s | %s | %s | %.1f |" % (name, outcome.replace("\r\n", " "), seconds,
                                               int(peak_kb) / 1024))
            server.join(timeout=10)


if __name__ == "__main__":
    main()
