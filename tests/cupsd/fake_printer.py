#!/usr/bin/env python3
"""A printer on the loopback address for the printer-care test.

It takes one connection at a time, as a raw socket printer does, keeps every
byte of it in RECORD_DIR/job-N.bin (N counts connections from 1), answers
the ink-level query (remote command IQ 01 00 01) with ANSWER on the same
connection, and closes once the sender has finished. It listens on
127.0.0.1 only, on a port the system picks, which it writes to PORT_FILE,
and exits by itself after LIFETIME seconds.

Usage: fake_printer.py PORT_FILE RECORD_DIR ANSWER [LIFETIME]
"""
import os
import socket
import sys
import time

INK_QUERY = b"IQ\x01\x00\x01"


# Serve one connection: record it, answer the ink-level query once.
def serve(conn, path, answer, deadline):
    data = bytearray()
    answered = False
    conn.settimeout(0.2)
    while time.monotonic() < deadline:
        try:
            chunk = conn.recv(65536)
        except socket.timeout:
            continue
        except OSError:
            break
        if not chunk:
            break
        data += chunk
        if not answered and INK_QUERY in data:
            conn.sendall(answer)
            answered = True
    # The record is complete before the sender sees the connection close.
    with open(path + ".part", "wb") as out:
        out.write(data)
    os.rename(path + ".part", path)
    conn.close()


# Listen on the loopback address and serve connections until the lifetime ends.
def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    port_file, record_dir, answer = sys.argv[1], sys.argv[2], sys.argv[3].encode()
    deadline = time.monotonic() + (float(sys.argv[4]) if len(sys.argv) == 5 else 60.0)
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    with open(port_file + ".part", "w") as out:
        out.write("%d\n" % server.getsockname()[1])
    os.rename(port_file + ".part", port_file)
    server.settimeout(0.2)
    jobs = 0
    while time.monotonic() < deadline:
        try:
            conn, _ = server.accept()
        except socket.timeout:
            continue
        jobs += 1
        serve(conn, os.path.join(record_dir, "job-%d.bin" % jobs), answer, deadline)
    server.close()


if __name__ == "__main__":
    main()
