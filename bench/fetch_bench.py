#!/usr/bin/env python3
"""A large answer through `downsql fetch` beside curl, the same URL for both.

    bench/fetch_bench.py [--runs N] [--mb SIZE] [--downsql PATH]

Writes an answer of SIZE megabytes (SQL lines with CR LF, default 40) where
a plain static web server, Python's http.server, serves it as the results
service's document, starts that server on a free loopback port, checks once
that both programs receive the same text, then runs them in turn N times
(default 9, after one warm-up each) with their output thrown away. Prints
each one's median wall time and peak memory, and the ratio of downsql's
median to curl's.

downsql does more than curl: it keeps the whole answer in memory as the
editor's text, splits it into lines and converts it to UTF-8 for the
terminal, where curl copies bytes through. Build downsql first
(scripts/build.sh normal downsql_cli).
"""
import argparse
import hashlib
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DOCUMENT = "dtools/down_all_232.php"


def write_answer(path, megabytes):
    size = megabytes * 1024 * 1024
    with open(path, "wb") as out:
        written, draw = 0, 0
        while written < size:
            lines = []
            for _ in range(1000):
                draw += 1
                numbers = ",".join(str((draw * k) % 49 + 1) for k in (7, 11, 13, 17, 19, 23))
                lines.append("INSERT INTO dl (id,date,n1,n2,n3,n4,n5,n6) VALUES "
                             "(%d,'2001-01-01',%s);\r\n" % (draw, numbers))
            block = "".join(lines).encode("ascii")
            out.write(block)
            written += len(block)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until_serving(url, server):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if server.poll() is not None:
            sys.exit("fetch_bench: the web server exited")
        try:
            urllib.request.urlopen(url, timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    sys.exit("fetch_bench: the web server does not answer")


def digest(command, work, line_end):
    """SHA-256 of the lines that command prints, each ending in line_end."""
    path = os.path.join(work, "output")
    with open(path, "wb") as out:
        subprocess.run(command, check=True, stdout=out, stderr=subprocess.DEVNULL)
    lines = hashlib.sha256()
    with open(path, "rb") as text:
        for line in text:
            lines.update(line[:-len(line_end)] if line.endswith(line_end) else line)
            lines.update(b"\n")
    os.remove(path)
    return lines.hexdigest()


def run(command):
    """Wall seconds and peak resident kilobytes of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("fetch_bench: %s failed with status %d" % (command[0], child.returncode))
    return wall, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--mb", type=int, default=40)
    parser.add_argument("--downsql", default=os.path.join(ROOT, "build", "bin", "downsql"))
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="fetch_bench-") as work:
        www, database = os.path.join(work, "www"), os.path.join(work, "db")
        os.makedirs(os.path.join(www, os.path.dirname(DOCUMENT)))
        os.makedirs(database)
        write_answer(os.path.join(www, DOCUMENT), args.mb)
        port = free_port()
        server = subprocess.Popen(
            [sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1",
             "--directory", www], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            service = "127.0.0.1:%d" % port
            request = subprocess.run([args.downsql, "--service", service, "request", database],
                                     check=True, capture_output=True, text=True).stdout.strip()
            url = urllib.parse.quote(request, safe=":/?=,")
            wait_until_serving(url, server)
            downsql = [args.downsql, "--service", service, "fetch", database]
            curl = ["curl", "-s", "-g", url]

            # Same text: downsql prints the editor's lines ending in LF.
            if digest(downsql, work, b"\n") != digest(curl, work, b"\r\n"):
                sys.exit("fetch_bench: downsql and curl received different texts")

            run(downsql)
            run(curl)
            ours, theirs = [], []
            for _ in range(args.runs):
                ours.append(run(downsql))
                theirs.append(run(curl))
        finally:
            server.terminate()
            server.wait()

    def median(samples, i):
        return statistics.median(sample[i] for sample in samples)

    print("answer: %d MB from Python's http.server on loopback, %d runs each" % (args.mb, args.runs))
    print("%-16s %10s %10s %10s %12s" % ("", "median s", "min s", "max s", "peak MiB"))
    for name, samples in (("downsql fetch", ours), ("curl", theirs)):
        walls = [s[0] for s in samples]
        print("%-16s %10.3f %10.3f %10.3f %12.1f" % (name, median(samples, 0), min(walls),
                                                     max(walls), median(samples, 1) / 1024))
    pairs = statistics.median(a[0] / b[0] for a, b in zip(ours, theirs))
    print("ratio downsql / curl: %.2f (medians), %.2f (median of the pairs)"
          % (median(ours, 0) / median(theirs, 0), pairs))


if __name__ == "__main__":
    main()
