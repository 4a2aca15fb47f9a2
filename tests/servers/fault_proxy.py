#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A byte-transparent FTP proxy that breaks data connections, for testing
resumed transfers against real servers (plain and TLS alike: it never reads
what it forwards).

It listens on LISTEN:CONTROL_PORT and on LISTEN at every port of the
passive range, and forwards each connection to the same port on UPSTREAM,
where the server listens with that passive range. The data connections
numbered in NTH (counting from 1, in the order they were made) are reset
(RST) both ways once they have carried AFTER bytes; those numbered in
STALL_NTH go silent once they have carried STALL_AFTER bytes, open until
the client leaves. Prints "ready" once listening; runs until killed.

  fault_proxy.py --upstream 127.0.0.2 --passive 40000-40019 --reset-after N --reset-nth 1,3
"""
import argparse
import select
import socket
import struct
import sys
import threading


class Proxy:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.connections = 0
        self.doomed = {int(n) for n in args.reset_nth.split(",") if n}
        self.stalled = {int(n) for n in args.stall_nth.split(",") if n}

    def numbered(self):
        with self.lock:
            self.connections += 1
            return self.connections

    def serve(self, port, data):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((self.args.listen, port))
        listener.listen(16)
        threading.Thread(target=self.accept, args=(listener, port, data), daemon=True).start()

    def accept(self, listener, port, data):
        while True:
            client, _ = listener.accept()
            try:
                server = socket.create_connection((self.args.upstream, port))
            except OSError:
                client.close()
                continue
            number = self.numbered() if data else 0
            stall = self.args.stall_after if number in self.stalled else None
            threading.Thread(target=self.relay, args=(client, server, number in self.doomed, stall),
                             daemon=True).start()

    def relay(self, client, server, doomed, stall):
        """Both directions in one thread, so that a reset closes the sockets
        at once (a thread blocked reading one would keep it open)."""
        moved = 0
        peers = {client: server, server: client}
        open_ends = {client, server}
        try:
            while open_ends:
                readable, _, _ = select.select(list(open_ends), [], [])
                for source in readable:
                    chunk = source.recv(65536)
                    sink = peers[source]
                    if not chunk:
                        open_ends.discard(source)
                        sink.shutdown(socket.SHUT_WR)
                        continue
                    if doomed and moved <= self.args.reset_after < moved + len(chunk):
                        sink.sendall(chunk[:self.args.reset_after - moved])
                        for end in (client, server):
                            end.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
                        return
                    if stall is not None and moved + len(chunk) > stall:
                        sink.sendall(chunk[:stall - moved])
                        while client.recv(65536):  # silent until the client leaves
                            pass
                        return
                    moved += len(chunk)
                    sink.sendall(chunk)
        except OSError:
            pass
        finally:
            client.close()
            server.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--listen", default="127.0.0.1")
    parser.add_argument("--upstream", required=True)
    parser.add_argument("--control-port", type=int, default=21)
    parser.add_argument("--passive", required=True, help="MIN-MAX")
    parser.add_argument("--reset-after", type=int, default=0)
    parser.add_argument("--reset-nth", default="")
    parser.add_argument("--stall-after", type=int, default=0)
    parser.add_argument("--stall-nth", default="")
    args = parser.parse_args()
    proxy = Proxy(args)
    proxy.serve(args.control_port, data=False)
    low, high = (int(p) for p in args.passive.split("-"))
    for port in range(low, high + 1):
        proxy.serve(port, data=True)
    print("ready", flush=True)
    threading.Event().wait()


if __name__ == "__main__":
    sys.exit(main())
