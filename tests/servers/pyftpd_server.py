#!/usr/bin/python3
"""A throw-away pyftpdlib server for the integration tests.

Serves ROOT read-write to one user on HOST:PORT, prints "ready" once it is
listening, and runs until it is killed. Must run under Debian's /usr/bin/python3,
where python3-pyftpdlib is importable.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=21)
    parser.add_argument("--no-mlsd", action="store_true",
                        help="hide MLST/MLSD so that clients fall back to LIST")
    parser.add_argument("--idle-timeout", type=int, default=300)
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.timeout = args.idle_timeout
    Handler.banner = "pyftpdlib test server ready"
    if args.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                              if k not in ("MLSD", "MLST")}

    server = FTPServer((args.host, args.port), Handler)
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
