#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Latency of a browser-like client while many silent connections are held open.

    silent_flood.py PORT [SILENT] [REQUESTS] [SECONDS]

Keeps SILENT (6000) connections to 127.0.0.1:PORT open that send nothing, opening a new one for
each the server answers or closes, and waits 4 s for the server to have taken them over. Then it
starts a client every 20 ms that asks the way a browser does: a new connection, a full request head
at once, the answer read to its end; REQUESTS (1000) of them, or as many as are started in SECONDS
(20). Each is timed from the start of connect() to the end of the answer, so time spent in the
listen backlog or waiting for a retransmitted SYN counts. Prints "p50 p90 p99 max failed served",
the times in milliseconds.
"""

import os
import resource
import selectors
import signal
import socket
import sys
import threading
import time

REQUEST = (
    b"GET / HTTP/1.1\r\n"
    b"Host: news.example.org\r\n"
    b"User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101 Firefox/115.0\r\n"
    b"Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
    b"Accept-Language: en-GB,en;q=0.5\r\n"
    b"Accept-Encoding: gzip, deflate\r\n"
    b"Connection: keep-alive\r\n"
    b"Upgrade-Insecure-Requests: 1\r\n\r\n"
)


def percentile(sorted_values, p):
    if not sorted_values:
        return float("nan")
    i = min(len(sorted_values) - 1, max(0, int(round(p / 100 * len(sorted_values) + 0.5)) - 1))
    return sorted_values[i]


def one_request(port, timeout):
    start = time.perf_counter()
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    try:
        s.connect(("127.0.0.1", port))
        s.sendall(REQUEST)
        got = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            got += chunk
        if not got.startswith(b"HTTP/1.1 200 OK"):
            return None
    except OSError:
        return None
    finally:
        s.close()
    return (time.perf_counter() - start) * 1000


def main():
    port = int(sys.argv[1])
    silent_count = int(sys.argv[2]) if len(sys.argv) > 2 else 6000
    requests = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = silent_count + 256
    if soft < want:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(want, hard), hard))

    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 20
    interval = 0.02
    held = selectors.DefaultSelector()

    def open_silent():
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        except OSError:
            s.close()
            return
        held.register(s, selectors.EVENT_READ)

    # The flood runs in a process of its own, so that it never holds up the measured clients.
    flood = os.fork()
    if flood == 0:
        signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
        for _ in range(silent_count):
            open_silent()
        # Whatever the server answers or closes is replaced at once.
        while True:
            for key, _ in held.select(0.05):
                held.unregister(key.fileobj)
                key.fileobj.close()
                open_silent()
            while len(held.get_map()) < silent_count:
                open_silent()
    # The kernel hands a silent connection to the server only after a second or so; by then the
    # server holds all it will take.
    time.sleep(4)

    # Open loop: a new client every INTERVAL seconds whether or not the earlier ones were served, so
    # the figures sample the whole time, stalls included.
    results, threads = [], []
    end = time.monotonic() + seconds
    while len(threads) < requests and time.monotonic() < end:
        t = threading.Thread(target=lambda: results.append(one_request(port, 30)))
        t.start()
        threads.append(t)
        time.sleep(interval)
    for t in threads:
        t.join()
    times = [r for r in results if r is not None]
    failed = len(results) - len(times)
    os.kill(flood, signal.SIGTERM)
    os.waitpid(flood, 0)
    times.sort()
    print("%.2f %.2f %.2f %.2f %d %d" % (percentile(times, 50), percentile(times, 90), percentile(times, 99),
                                         times[-1] if times else float("nan"), failed, len(times)))


if __name__ == "__main__":
    main()
