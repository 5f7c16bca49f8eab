#!/usr/bin/python3
"""Reference loop for the retrieval benchmark: Python's imaplib over TLS, one
FETCH n (BODY.PEEK[]) command per message, strictly one after the other; with
--pipelined, one FETCH 1:count (BODY.PEEK[]) for all of them.

Prints one line: "imaplib <messages> <seconds> <messages per second>".
"""
import argparse
import imaplib
import ssl
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--ca", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--folder", default="INBOX")
    parser.add_argument("--count", type=int, required=True)
    parser.add_argument("--pipelined", action="store_true")
    args = parser.parse_args()

    context = ssl.create_default_context(cafile=args.ca)
    start = time.perf_counter()
    imap = imaplib.IMAP4_SSL(args.host, args.port, ssl_context=context)
    imap.login(args.user, args.password)
    imap.select(args.folder, readonly=True)
    bodies = []
    if args.pipelined:
        status, data = imap.fetch("1:%d" % args.count, "(BODY.PEEK[])")
        if status != "OK":
            raise SystemExit("fetch 1:%d failed: %r" % (args.count, status))
        bodies = [item[1] for item in data if isinstance(item, tuple)]
    else:
        for number in range(1, args.count + 1):
            status, data = imap.fetch(str(number), "(BODY.PEEK[])")
            if status != "OK" or not data or not isinstance(data[0], tuple):
                raise SystemExit("fetch %d failed: %r" % (number, data))
            bodies.append(data[0][1])
    elapsed = time.perf_counter() - start
    imap.logout()
    print("imaplib %d %.6f %.1f" % (len(bodies), elapsed, len(bodies) / elapsed))


if __name__ == "__main__":
    main()
