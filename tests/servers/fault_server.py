#!/usr/bin/python3
"""A scriptable FTP server for fault tests.

It plays a normal log-in dialogue unless the scenario (a JSON object given as
the first argument) says otherwise, records every command line it receives,
prints "ready" once listening, and runs until killed.

Scenario keys:
  "greeting": steps sent when a client connects (default: 220 greeting)
  "replies":  {"VERB": steps} overriding the answer to a command
  "password": the accepted password (default "secret")
Steps are a list; each step is one of
  {"send": TEXT}        send TEXT as it is (Python string escapes apply)
  {"sleep": SECONDS}    pause
  {"silent": true}      never answer again; keep the connection open
  {"endless": TEXT}     send TEXT over and over until the client leaves
  {"flood": N}          send N bytes of 'x' without any line end
  {"close": true}       close the connection
A bare string is shorthand for [{"send": TEXT + "\r\n"}].
"""
import argparse
import json
import socket
import socketserver
import sys
import threading
import time

DEFAULT_REPLIES = {
    "USER": "331 password please",
    "TYPE": "200 type set",
    "FEAT": "211-Features:\r\n EPSV\r\n UTF8\r\n MLST type*;size*;modify*;\r\n211 End",
    "OPTS": "200 always in UTF8 mode",
    "NOOP": "200 ok",
    "QUIT": [{"send": "221 goodbye\r\n"}, {"close": True}],
}


def as_steps(value):
    if isinstance(value, str):
        return [{"send": value + "\r\n"}]
    return value


class Session(socketserver.StreamRequestHandler):
    def play(self, steps):
        """Runs steps; False once the connection is over."""
        for step in as_steps(steps):
            if "send" in step:
                self.wfile.write(step["send"].encode("utf-8", "surrogateescape"))
            elif "sleep" in step:
                time.sleep(step["sleep"])
            elif "silent" in step:
                while self.rfile.read(4096):
                    pass
                return False
            elif "endless" in step:
                chunk = step["endless"].encode() * 64
                while True:
                    self.wfile.write(chunk)
            elif "flood" in step:
                self.wfile.write(b"x" * step["flood"])
            elif "close" in step:
                return False
        return True

    def handle(self):
        scenario = self.server.scenario
        replies = dict(DEFAULT_REPLIES)
        replies["PASS"] = None  # decided by the password
        replies.update(scenario.get("replies", {}))
        try:
            if not self.play(scenario.get("greeting", "220 fault server ready")):
                return
            while True:
                line = self.rfile.readline(65536)
                if not line:
                    return
                command = line.decode("utf-8", "replace").rstrip("\r\n")
                self.server.record(command)
                verb = command.split(" ", 1)[0].upper()
                if verb == "PASS" and replies.get("PASS") is None:
                    given = command[5:]
                    ok = given == scenario.get("password", "secret")
                    steps = "230 logged in" if ok else "530 login incorrect"
                else:
                    steps = replies.get(verb, "502 not implemented")
                if not self.play(steps):
                    return
        except (BrokenPipeError, ConnectionResetError, socket.timeout):
            pass


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, address, scenario, log_path):
        super().__init__(address, Session)
        self.scenario = scenario
        self.log_path = log_path
        self.lock = threading.Lock()

    def record(self, command):
        if not self.log_path:
            return
        with self.lock, open(self.log_path, "a", encoding="utf-8") as log:
            log.write(command + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenario", help="JSON object")
    parser.add_argument("--log", help="file that receives each command line")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=21)
    args = parser.parse_args()
    server = Server((args.host, args.port), json.loads(args.scenario), args.log)
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
