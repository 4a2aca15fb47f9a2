#!/usr/bin/python3
# SPDX-License-Identifier: MIT
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
    parser.add_argument("--local-list-times", action="store_true",
                        help="LIST in the local time of TZ, MDTM in UTC, as proftpd with "
                        "TimesGMT off lists")
    parser.add_argument("--idle-timeout", type=int, default=300)
    parser.add_argument("--passive-ports", metavar="MIN-MAX")
    parser.add_argument("--tls", metavar="CERTS",
                        help="require explicit TLS, with server.crt/.key from this folder")
    parser.add_argument("--tls-max", choices=["1.2", "1.3"], default="1.3")
    parser.add_argument("--tls-log", help="file that gets a line per data connection: "
                        "whether it resumed a TLS session")
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    base = FTPHandler
    if args.tls:
        from OpenSSL import SSL
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
        base = TLS_FTPHandler

        class LoggingDTPHandler(TLS_DTPHandler):
            def handle_ssl_established(self):
                if args.tls_log:
                    reused = SSL._lib.SSL_session_reused(self.socket._ssl)
                    with open(args.tls_log, "a") as log:
                        log.write("data %s %s\n" % (self.socket.get_protocol_version_name(),
                                                     "reused" if reused else "not reused"))

        context = SSL.Context(SSL.TLS_METHOD)
        context.use_certificate_chain_file(args.tls + "/server.crt")
        context.use_privatekey_file(args.tls + "/server.key")
        context.set_min_proto_version(SSL.TLS1_2_VERSION)
        if args.tls_max == "1.2":
            context.set_max_proto_version(SSL.TLS1_2_VERSION)

    class Handler(base):
        if args.local_list_times:
            use_gmt_times = False

            def ftp_MDTM(self, path):
                self.use_gmt_times = True
                try:
                    return super().ftp_MDTM(path)
                finally:
                    self.use_gmt_times = False

    if args.tls:
        Handler.ssl_context = context
        Handler.dtp_handler = LoggingDTPHandler
        Handler.tls_control_required = True
        Handler.tls_data_required = True

    Handler.authorizer = authorizer
    Handler.timeout = args.idle_timeout
    Handler.banner = "pyftpdlib test server ready"
    if args.passive_ports:
        low, high = (int(p) for p in args.passive_ports.split("-"))
        Handler.passive_ports = range(low, high + 1)
    if args.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                              if k not in ("MLSD", "MLST")}

    server = FTPServer((args.host, args.port), Handler)
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
