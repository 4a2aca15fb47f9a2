#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A scriptable FTP server for fault tests.

It plays a normal log-in dialogue unless the scenario (a JSON object given as
the first argument) says otherwise, records every command line it receives,
prints "ready" once listening, and runs until killed.

Scenario keys:
  "greeting":  steps sent when a client connects (default: 220 greeting)
  "replies":   {"VERB": steps} overriding the answer to a command; or
               {"VERB": {"sequence": [steps, steps, ...]}}: the n-th such
               command (counted across sessions) plays the n-th, the last
               repeating
  "password":  the accepted password (default "secret")
  "files":     {"name": TEXT} served by RETR (default: none), from the offset a
               REST gave; STOR and APPE store into it (REST-offset or at the end)
  "file_paths": {"name": PATH}   more "files", read from PATH (large ones)
  "sizes":     true   SIZE answers 213 with the length of a file in "files"
                      (550 for a name that is not there, as MDTM does then)
  "mdtm":      TEXT   MDTM answers "213 TEXT" for a file in "files"
MLST answers with the file's type, size and modify facts, or 550 for a name
not in "files". A file's time is "mdtm" until STOR or APPE store it (a later
time each) or set_file gives it one. HASH (after OPTS HASH, SHA-1 before)
and XSHA256 answer with the digest of a file in "files", as proftpd does;
FEAT must offer them for a client to ask.
  "no_rest":   true   REST is refused (502)
  "store_dir": PATH   each stored file is also written there once complete
  "listing":   TEXT sent for LIST and MLSD (default: empty)
  "listing_bulk": {"long_line": N, "entries": M} appends to the listing a
               line of N bytes without a line end in the middle, then M
               generated Unix entries "file-<i>" of i bytes
A client that drops a data connection while the server sends on it gets
"426 Connection closed; transfer aborted." for that command, recorded as
"DATA ABORTED", as real servers answer.
  "pasv_host": "h1,h2,h3,h4" named in 227 replies; the data listener then
               takes connections on every local address (default 127,0,0,1)
  "never_accept": true  the data listener is opened but never accepts
  "tls":       certificate the server presents after AUTH TLS: "server"
               (default), "selfsigned", "expired" or "wrongname" (from
               --certs, see make_certs.py)
  "data_tls":  the same for data connections (default: as "tls")
  "plain_data": true    data connections stay plain after PROT P
  "implicit":  true     implicit TLS: the handshake comes first, the greeting
               over it (a failed one is recorded and ends the session)
  "drop_queued": VERB   after reading VERB, throw away what arrived behind
               it in the same write, as a server that reads a buffer and
               keeps only its first line; each such line is recorded as
               "DROPPED <line>" (plain connections only)
AUTH TLS is answered 234 and the connection turns to TLS; a client that
fails the handshake and goes on in the clear has each line recorded as
"CLEAR <line>". After PROT P data connections are TLS too (unless
"plain_data"); each is recorded as "DATA <address>" and, once its
handshake is done, "DATA TLS reused" or "DATA TLS new".
Steps are a list; each step is one of
  {"send": TEXT}        send TEXT on the control connection
  {"send_slow": TEXT, "interval": SECONDS}   the same, one byte at a time
  {"sleep": SECONDS}    pause
  {"silent": true}      never answer again; keep the connection open
  {"endless": TEXT}     send TEXT over and over until the client leaves;
                        with "interval": SECONDS, once per interval
  {"flood": N}          send N bytes of 'x' without any line end
  {"close": true}       close the connection
  {"data": TEXT}        send TEXT on the data connection (accepting it first)
  {"data_slow": TEXT, "interval": SECONDS}   the same, one byte at a time
  {"data_drain": true}  read the data connection to its end
  {"data_close": true}  close the data connection (with close_notify if TLS)
  {"data_cut": true}    close it without close_notify
  {"data_accept": true, "timeout": SECONDS}   accept the data connection (and,
                        after PROT P, finish its TLS handshake) before going on,
                        as ftp-srv does before its 150; if that takes longer
                        than SECONDS (default 5), answer 425 and stop
  {"data_quiet": SECONDS}  accept the data connection and record "DATA SPOKE
                        FIRST" if the client sends on it within SECONDS, before
                        the 1xx (pyftpdlib drops such a TLS data connection)
  {"starttls": true}    turn the control connection to TLS
  {"data_drain": true, "limit": N}   read N bytes of it (stored as
                        received), then reset it; with "discard": true,
                        nothing received is stored (as a server that stores
                        under a hidden name and drops it when the session dies)
  {"data_reset": true}  reset the data connection (RST)
  {"data_file": NAME, "until": N}  send the file from the REST offset up to
                        byte N (to its end without "until"); with "rate": B,
                        B bytes a second
  {"set_file": [NAME, TEXT(, MDTM)]}  change a file of "files" (and the time
                        MDTM gives) from now on; "set_file_path" reads TEXT from a path
  {"die": true}         end the whole server process at once
  {"default": true}     what the server answers the command by default
                        (after a "sleep", say)
A bare string is shorthand for [{"send": TEXT + "\r\n"}]. Every accepted
data connection is recorded as "DATA <address it reached>"; a command that
arrived with the next one already behind it (queued) is also written to
LOG.queued.
"""
import argparse
import hashlib
import json
import os
import select
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time

DEFAULT_REPLIES = {
    "USER": "331 password please",
    "TYPE": "200 type set",
    "FEAT": "211-Features:\r\n EPSV\r\n UTF8\r\n MLST type*;size*;modify*;\r\n211 End",
    "NOOP": "200 ok",
    "QUIT": [{"send": "221 goodbye\r\n"}, {"close": True}],
}


class DataAborted(Exception):
    """The client closed the data connection while the server sent on it."""


def as_steps(value):
    if isinstance(value, str):
        return [{"send": value + "\r\n"}]
    return value


class Session(socketserver.StreamRequestHandler):
    listener = None
    data = None
    rest = 0
    protected = False  # PROT P
    clear = False      # a failed handshake: what follows is recorded as CLEAR

    def tls_context(self, key):
        name = self.server.scenario.get(key, self.server.scenario.get("tls", "server"))
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        prefix = os.path.join(self.server.certs, name)
        context.load_cert_chain(prefix + ".crt", prefix + ".key")
        return context

    def start_tls(self):
        self.wfile.flush()
        try:
            wrapped = self.server.control_context(self).wrap_socket(self.connection,
                                                                      server_side=True)
        except (ssl.SSLError, OSError) as error:
            self.record("TLS FAILED %s" % error.__class__.__name__)
            self.clear = True
            return
        self.connection = self.request = wrapped
        self.rfile = wrapped.makefile("rb")
        self.wfile = wrapped.makefile("wb", buffering=0)

    def open_listener(self, everywhere):
        self.close_data()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("0.0.0.0" if everywhere else "127.0.0.1", 0))
        self.listener.listen(1)
        self.listener.settimeout(10)
        return self.listener.getsockname()[1]

    def data_connection(self, timeout=None):
        if self.server.scenario.get("never_accept"):
            while True:  # the connection waits in the backlog for ever
                time.sleep(1)
        if self.data is None:
            self.data = self.__dict__.pop("accepted", None) or self.listener.accept()[0]
            self.data.settimeout(timeout)
            self.record("DATA " + self.data.getsockname()[0])
            if self.protected and not self.server.scenario.get("plain_data"):
                self.data = self.server.data_context(self).wrap_socket(self.data, server_side=True)
                self.record("DATA TLS " + ("reused" if self.data.session_reused else "new"))
        return self.data

    def store(self, received):
        """Keeps what a STOR or APPE received, at the REST offset or the end,
        and gives the file a time of its own (later than any before)."""
        name, append = getattr(self, "storing", (None, False))
        if name is None:
            return
        self.server.stored += 1
        self.server.times[name] = "20261201%06d" % self.server.stored
        old = self.server.files.get(name, "").encode("utf-8", "surrogateescape")
        offset, self.rest = (len(old) if append else self.rest), 0
        whole = old[:offset] + received
        self.server.files[name] = whole.decode("utf-8", "surrogateescape")
        folder = self.server.scenario.get("store_dir")
        if folder:
            with open(os.path.join(folder, os.path.basename(name)), "wb") as f:
                f.write(whole)

    def reset_data(self):
        """Ends the data connection with a reset, as a broken link does. What
        was sent is given a moment to be read first: a reset throws away
        what the peer has not read yet."""
        time.sleep(0.2)
        if self.data is not None:
            raw = self.data
            raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_data()

    def end_data(self, notify):
        """Closes the data connection; with TLS, says close_notify first if asked."""
        if isinstance(self.data, ssl.SSLSocket) and notify:
            try:
                self.data = self.data.unwrap()
            except (ssl.SSLError, OSError):
                pass
        self.close_data()

    def close_data(self):
        for sock in (self.data, self.listener):
            if sock is not None:
                sock.close()
        self.data = self.listener = None

    def default_steps(self, verb, argument):
        scenario = self.server.scenario
        if verb == "PASV":
            host = scenario.get("pasv_host")
            port = self.open_listener(everywhere=host is not None)
            numbers = (host or "127,0,0,1") + ",%d,%d" % (port // 256, port % 256)
            return "227 Entering Passive Mode (%s)." % numbers
        if verb == "EPSV":
            return "229 Entering Extended Passive Mode (|||%d|)" % self.open_listener(False)
        if verb == "RETR":
            content = self.server.files.get(argument)
            if content is None:
                return "550 no such file"
            offset, self.rest = self.rest, 0
            return [{"send": "150 Opening data connection (%d bytes)\r\n" % len(content)},
                    {"data": content[offset:]}, {"data_close": True}, {"send": "226 done\r\n"}]
        if verb == "REST":
            if scenario.get("no_rest"):
                return "502 not implemented"
            self.rest = int(argument)
            return "350 Restarting at %d" % self.rest
        if verb == "SIZE" and scenario.get("sizes") and argument in self.server.files:
            return "213 %d" % len(self.server.files[argument].encode("utf-8", "surrogateescape"))
        if verb == "MDTM" and self.server.time_of(argument) and argument in self.server.files:
            return "213 " + self.server.time_of(argument)
        if verb in ("MDTM", "SIZE") and scenario.get("sizes") and argument not in self.server.files:
            return "550 no such file"
        if verb == "OPTS" and argument.upper().startswith("HASH "):
            self.hash = argument[5:].upper()
            return "200 " + self.hash
        if verb == "OPTS":
            return "200 always in UTF8 mode"
        if verb in ("HASH", "XSHA256") and argument in self.server.files:
            content = self.server.files[argument].encode("utf-8", "surrogateescape")
            algorithm = getattr(self, "hash", "SHA-1") if verb == "HASH" else "SHA-256"
            digest = hashlib.new(algorithm.replace("-", "").lower(), content).hexdigest()
            if verb == "XSHA256":
                return "250 " + digest.upper()
            return "213 %s 0-%d %s %s" % (algorithm, len(content), digest, argument)
        if verb == "MLST":
            if argument not in self.server.files:
                return "550 no such file"
            size = len(self.server.files[argument].encode("utf-8", "surrogateescape"))
            time = self.server.time_of(argument)
            modify = "modify=%s;" % time if time else ""
            return "250-Listing %s\r\n type=file;size=%d;%s %s\r\n250 End" % (
                argument, size, modify, argument)
        if verb in ("LIST", "MLSD", "NLST"):
            return [{"send": "150 Here comes the listing\r\n"},
                    {"data": scenario.get("listing", "")}, {"bulk": True}, {"data_close": True},
                    {"send": "226 done\r\n"}]
        if verb == "AUTH":
            return [{"send": "234 go ahead\r\n"}, {"starttls": True}]
        if verb == "PBSZ":
            return "200 PBSZ=0"
        if verb == "PROT":
            self.protected = argument.upper() == "P"
            return "200 protection level set"
        if verb in ("STOR", "APPE"):
            return [{"send": "150 Ok to send data\r\n"}, {"data_drain": True},
                    {"data_close": True}, {"send": "226 stored\r\n"}]
        return "502 not implemented"

    def send_data(self, payload):
        try:
            self.data_connection().sendall(payload)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError) as error:
            raise DataAborted() from error

    def play(self, steps):
        """Runs steps; False once the connection is over."""
        try:
            return self.play_steps(steps)
        except DataAborted:
            self.record("DATA ABORTED")
            self.close_data()
            self.wfile.write(b"426 Connection closed; transfer aborted.\r\n")
            return True

    def play_steps(self, steps):
        for step in as_steps(steps):
            if "send" in step:
                self.wfile.write(step["send"].encode("utf-8", "surrogateescape"))
            elif "send_slow" in step:
                for byte in step["send_slow"].encode():
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
                    time.sleep(step.get("interval", 0.01))
            elif "sleep" in step:
                time.sleep(step["sleep"])
            elif "silent" in step:
                while self.rfile.read(4096):
                    pass
                return False
            elif "endless" in step:
                interval = step.get("interval")
                chunk = step["endless"].encode() * (1 if interval else 64)
                while True:
                    self.wfile.write(chunk)
                    if interval:
                        self.wfile.flush()
                        time.sleep(interval)
            elif "flood" in step:
                self.wfile.write(b"x" * step["flood"])
            elif "close" in step:
                return False
            elif "data" in step:
                self.send_data(step["data"].encode("utf-8", "surrogateescape"))
            elif "bulk" in step:
                bulk = self.server.scenario.get("listing_bulk", {})
                if bulk.get("long_line"):
                    self.send_data(b"-rw-r--r-- 1 u g 1 Jan  1  2020 " + b"L" * bulk["long_line"]
                                   + b"\r\n")
                entries = bulk.get("entries", 0)
                for start in range(0, entries, 1000):
                    self.send_data(b"".join(b"-rw-r--r-- 1 u g %d Jan  1  2020 file-%d\r\n" % (i, i)
                                            for i in range(start, min(start + 1000, entries))))
            elif "data_slow" in step:
                for byte in step["data_slow"].encode():
                    self.send_data(bytes([byte]))
                    time.sleep(step.get("interval", 0.5))
            elif "data_drain" in step:
                limit = step.get("limit")
                got = bytearray()
                while limit is None or len(got) < limit:
                    try:
                        chunk = self.data_connection().recv(65536 if limit is None
                                                            else min(65536, limit - len(got)))
                    except ssl.SSLEOFError:
                        self.record("TRUNCATED")
                        break
                    if not chunk:
                        break
                    got += chunk
                self.record("STORED %d" % len(got))
                if not step.get("discard"):
                    self.store(bytes(got))
                if limit is not None:
                    self.reset_data()
            elif "data_reset" in step:
                self.reset_data()
            elif "data_file" in step:
                content = self.server.files[step["data_file"]]
                offset, self.rest = self.rest, 0
                payload = content[offset:step.get("until")].encode("utf-8", "surrogateescape")
                rate = step.get("rate")  # bytes a second, in pieces of 256 KiB
                for at in range(0, len(payload), 256 << 10) if rate else [0]:
                    self.send_data(payload[at:at + (256 << 10)] if rate else payload)
                    if rate:
                        time.sleep((256 << 10) / rate)
            elif "set_file_path" in step:
                name, path = step["set_file_path"][:2]
                with open(path, "rb") as f:
                    self.server.files[name] = f.read().decode("utf-8", "surrogateescape")
                if len(step["set_file_path"]) > 2:
                    self.server.times[name] = step["set_file_path"][2]
            elif "set_file" in step:
                name, text = step["set_file"][:2]
                self.server.files[name] = text
                if len(step["set_file"]) > 2:
                    self.server.times[name] = step["set_file"][2]
            elif "data_quiet" in step:
                self.accepted, _ = self.listener.accept()
                if select.select([self.accepted], [], [], step["data_quiet"])[0]:
                    self.record("DATA SPOKE FIRST")
            elif "data_accept" in step:
                if self.listener is not None:
                    self.listener.settimeout(step.get("timeout", 5))
                try:
                    self.data_connection(step.get("timeout", 5)).settimeout(None)
                except (socket.timeout, ssl.SSLError, OSError):
                    self.record("DATA NOT ESTABLISHED")
                    self.close_data()
                    self.wfile.write(b"425 No connection established\r\n")
                    return True
            elif "data_close" in step:
                self.end_data(notify=True)
            elif "data_cut" in step:
                self.end_data(notify=False)
            elif "starttls" in step:
                self.start_tls()
            elif "die" in step:
                os._exit(1)
            elif "default" in step:
                verb, argument = self.current
                if not self.play_steps(as_steps(self.default_steps(verb, argument))):
                    return False
        return True

    def record(self, line):
        self.server.record(line, self.number)

    def more_waiting(self):
        """Whether the next command arrived before this one is answered: the
        client queued them (one write). Plain connections only."""
        if isinstance(self.connection, ssl.SSLSocket):
            return False
        timeout = self.connection.gettimeout()
        self.connection.setblocking(False)
        try:
            return bool(self.rfile.peek(1))
        except BlockingIOError:
            return False
        finally:
            self.connection.settimeout(timeout)

    def drop_waiting(self):
        """Reads and forgets every line already behind the current one."""
        timeout = self.connection.gettimeout()
        self.connection.setblocking(False)
        try:
            while True:
                line = self.rfile.readline(65536)
                if not line:
                    return
                self.record("DROPPED " + line.decode("utf-8", "replace").rstrip("\r\n"))
        except BlockingIOError:
            pass
        finally:
            self.connection.settimeout(timeout)

    def handle(self):
        # Each reply leaves at once, as real servers send them: queued
        # commands are not answered a delayed acknowledgement apart.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.number = self.server.mark_session("+")
        scenario = self.server.scenario
        replies = dict(DEFAULT_REPLIES)
        replies["PASS"] = None  # decided by the password
        replies.update(scenario.get("replies", {}))
        try:
            if scenario.get("implicit"):
                self.start_tls()
                if self.clear:
                    return
            if not self.play(scenario.get("greeting", "220 fault server ready")):
                return
            while True:
                line = self.rfile.readline(65536)
                if not line:
                    return
                command = line.decode("utf-8", "replace").rstrip("\r\n")
                if self.clear:
                    self.record("CLEAR " + command)
                    continue
                self.record(command)
                verb = command.split(" ", 1)[0].upper()
                if self.more_waiting():
                    self.server.record_queued(command)
                    if scenario.get("drop_queued") == verb:
                        self.drop_waiting()
                if verb == "PASS" and replies.get("PASS") is None:
                    given = command[5:]
                    ok = given == scenario.get("password", "secret")
                    steps = "230 logged in" if ok else "530 login incorrect"
                else:
                    if verb in ("STOR", "APPE"):
                        self.storing = (command[len(verb) + 1:], verb == "APPE")
                    steps = (self.server.next_steps(verb, replies[verb]) if verb in replies
                             else "default")
                    if steps == "default":
                        steps = self.default_steps(verb, command[len(verb) + 1:])
                self.current = (verb, command[len(verb) + 1:])
                if not self.play(steps):
                    return
                if verb != "REST":
                    self.rest = 0  # a restart marker is for the next command only
        except (BrokenPipeError, ConnectionResetError, socket.timeout, ssl.SSLError):
            pass
        finally:
            self.close_data()
            self.server.mark_session("-")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, address, scenario, log_path, certs):
        super().__init__(address, Session)
        self.scenario = scenario
        self.log_path = log_path
        self.certs = certs
        self.lock = threading.Lock()
        self.counts = {}
        self.files = dict(scenario.get("files", {}))
        for name, path in scenario.get("file_paths", {}).items():
            with open(path, "rb") as f:
                self.files[name] = f.read().decode("utf-8", "surrogateescape")
        self.mdtm = scenario.get("mdtm")
        self.times = {}  # per file, once stored or set; else "mdtm"
        self.stored = 0
        self.contexts = {}
        self.opened = 0

    def time_of(self, name):
        return self.times.get(name, self.mdtm)

    def context(self, session, key):
        # One context each for control and data connections, shared by all
        # sessions: tickets it issues are good for resuming.
        with self.lock:
            if key not in self.contexts:
                self.contexts[key] = session.tls_context(key)
            return self.contexts[key]

    def control_context(self, session):
        return self.context(session, "tls")

    def data_context(self, session):
        if "data_tls" in self.scenario:
            return self.context(session, "data_tls")
        return self.context(session, "tls")

    def next_steps(self, verb, reply):
        if not isinstance(reply, dict):
            return reply
        with self.lock:
            seen = self.counts.get(verb, 0)
            self.counts[verb] = seen + 1
        return reply["sequence"][min(seen, len(reply["sequence"]) - 1)]

    def mark_session(self, mark):
        """LOG.sessions gets "+" when a control connection opens and "-" once
        it has been read to its end: a client need not wait for the goodbye,
        so a test that wants every command waits for this. Returns how many
        have opened."""
        with self.lock:
            self.opened += mark == "+"
            if self.log_path:
                with open(self.log_path + ".sessions", "a") as sessions:
                    sessions.write(mark)
            return self.opened

    def record_queued(self, command):
        """LOG.queued gets each command that had the next one behind it."""
        if self.log_path:
            with self.lock, open(self.log_path + ".queued", "a", encoding="utf-8") as log:
                log.write(command + "\n")

    def record(self, command, session):
        """LOG gets each line as it comes; LOG.bysession the same lines after
        the number of their session, whose order the threads cannot mix."""
        if not self.log_path:
            return
        with self.lock:
            with open(self.log_path, "a", encoding="utf-8") as log:
                log.write(command + "\n")
            with open(self.log_path + ".bysession", "a", encoding="utf-8") as log:
                log.write("%d %s\n" % (session, command))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenario", help="JSON object")
    parser.add_argument("--log", help="file that receives each command line")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=21)
    parser.add_argument("--certs", help="folder of make_certs.py's certificates")
    args = parser.parse_args()
    server = Server((args.host, args.port), json.loads(args.scenario), args.log, args.certs)
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
