#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Benchmark: the host program against curl and lftp, on the same local
servers, in one run. Run inside private network and mount namespaces (see
./run). Every output is checked (sizes, line counts, files left); a client
whose output is wrong stops the run.

Sections (--sections, comma-separated; all by default):
  download   1 GiB to disk from vsftpd: curl, lftp, ours to a new file and
             ours over an existing one (flushed before it is replaced)
  upload     1 GiB to pyftpdlib
  delete     time per DELE over 200 deletes in one session, on vsftpd
  listing    a folder of 100,000 files: ours parses it and writes the listing
             file; curl writes the LIST output to a file. vsftpd (LIST for
             both) and pyftpdlib (MLSD for us, LIST for curl); three untimed
             rounds before the timed ones
  ftps       explicit TLS on pure-ftpd and vsftpd: 1 GiB download and upload,
             with the same run's plain figures; 100 listings in one session
  small      1,000 files of 4 KiB uploaded, downloaded and deleted in one
             session each, on vsftpd and pyftpdlib: time per file
  million    a listing of 1,000,000 entries made up by the fault server
             (nothing on disk): time and peak memory
  trace      the host program with the transcript off, as it comes (a
             private transcript in memory, for saying why a command failed)
             and to a file: 200 deletes and a 1 GiB download on vsftpd (and,
             given --baseline, an earlier build's host program)
  wan        a link that is far (RTT 0, 20, 100 ms, emulated per packet) and
             links that break, with every client's verdict (see wan.py);
             given --baseline, an earlier build beside ours. Not in the
             default set: it changes the namespace's packet filter.

Everywhere else the host program runs with QUORVANE_TRACE="" (no
transcript), as curl and lftp run without their verbose output.

Prints a table per section: medians, min-max, the ratio to the best peer
(curl or lftp) and peak RSS.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(os.path.dirname(HERE), "tests", "servers")
PEERS = ("curl", "lftp")
LISTING_WARM_UP_ROUNDS = 3


def timed(argv, env=None):
    """Runs argv; returns (wall seconds, peak RSS in MiB). /usr/bin/time only
    measures the RSS: its own clock ticks in hundredths."""
    with tempfile.NamedTemporaryFile("r") as rss:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-o", rss.name, "-f", "%M"] + argv,
                       stdout=subprocess.DEVNULL, check=True, env=env)
        seconds = time.perf_counter() - start
        return seconds, int(rss.read().split()[-1]) / 1024


class Server:
    """A server on 127.0.0.1:21 serving ROOT to user/secret, started by the
    tests' launchers; TLS required with `certs`."""

    def __init__(self, kind, root, certs=None, extra=()):
        os.makedirs(root, exist_ok=True)
        if kind == "pyftpdlib":
            argv = ["/usr/bin/python3", os.path.join(SERVERS, "pyftpd_server.py"), "--root", root]
        else:
            argv = ["/usr/bin/python3", os.path.join(SERVERS, "launch_server.py"), kind,
                    "--root", root]
        if certs:
            argv += ["--tls", certs]
        argv += list(extra)
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE)
        if self.proc.stdout.readline().strip() != b"ready":
            sys.exit("%s did not start" % kind)

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        time.sleep(0.3)


class Bench:
    def __init__(self, args):
        self.args = args
        self.quorvane = args.host_program
        self.scratch = args.scratch  # also the host program's device root
        self.results = {}  # (section, case, client) -> [(value, rss)]
        self.certs = os.path.join(self.scratch, "certs")
        if not os.path.exists(os.path.join(self.certs, "ca.crt")):
            subprocess.run(["/usr/bin/python3", os.path.join(SERVERS, "make_certs.py"),
                            self.certs], check=True)
        # The library as the other clients run: no transcript. The host
        # program keeps a private one by default (to say why a command
        # failed); the trace section measures what that costs.
        os.environ["QUORVANE_TRACE"] = ""
        self.tls_env = dict(os.environ, SSL_CERT_FILE=os.path.join(self.certs, "ca.crt"))
        self.big = os.path.join(self.scratch, "big.bin")
        if not os.path.exists(self.big) or os.path.getsize(self.big) != args.size_mib << 20:
            with open(self.big, "wb") as out:
                subprocess.run(["head", "-c", "%dM" % args.size_mib, "/dev/urandom"],
                               stdout=out, check=True)
        self.size = os.path.getsize(self.big)
        self.size_label = ("%d GiB" % (args.size_mib >> 10) if args.size_mib % 1024 == 0
                           else "%d MiB" % args.size_mib)
        self.out = os.path.join(self.scratch, "out.bin")

    # --- recording

    def record(self, section, case, client, argv, check, env=None, value=None):
        os.sync()  # earlier runs' dirty pages must not be written back during this one
        seconds, rss = timed(argv, env)
        check()
        self.results.setdefault((section, case, client), []).append(
            (value(seconds) if value else seconds, rss))

    def rotate(self, items, rep):
        items = list(items)
        return items[rep % len(items):] + items[:rep % len(items)]

    def same_size(self, path):
        def check():
            got = os.path.getsize(path)
            if got != self.size:
                sys.exit("%s has %d bytes, not %d" % (path, got, self.size))
        return check

    def served(self, root, name="big.bin"):
        """The 1 GiB file in a server's root, readable by every server's user."""
        os.makedirs(root, exist_ok=True)
        path = os.path.join(root, name)
        if not os.path.exists(path):
            if os.stat(self.big).st_dev == os.stat(root).st_dev:
                os.link(self.big, path)
            else:
                shutil.copy(self.big, path)
        os.chmod(path, 0o644)
        # Read through once: whichever client runs first must not be the one
        # that pays for bringing it from the disk.
        with open(path, "rb") as data:
            while data.read(1 << 20):
                pass
        return path

    # --- clients

    def ours(self, server, *commands):
        return [self.quorvane, "login", server, "user", "secret"] + list(commands) + ["logout"]

    def curl(self, url, *options, tls=False):
        argv = ["curl", "-sS", "-u", "user:secret"] + list(options)
        if tls:
            argv += ["--ssl-reqd", "--cacert", os.path.join(self.certs, "ca.crt")]
        return argv + [url]

    def lftp(self, script, tls=False):
        setup = ("set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:ca-file %s; "
                 % os.path.join(self.certs, "ca.crt") if tls else "set ftp:ssl-allow no; ")
        return ["lftp", "-c", setup + "set xfer:clobber on; set cache:enable no; "
                "open -u user,secret localhost; " + script]

    # --- sections

    def transfers(self, section, kind, tls, ops):
        """1 GiB download and/or upload on one server, plain or TLS."""
        root = os.path.join(self.scratch, "root-" + kind)
        self.served(root)
        stored = os.path.join(root, "up.bin")
        server = Server(kind, root, self.certs if tls else None)
        scheme = "ftpes://localhost" if tls else "127.0.0.1"
        env = self.tls_env if tls else None
        label = "%s %s" % (kind, "FTPS" if tls else "FTP")
        download = {
            "ours": self.ours(scheme, "get", "/out.bin", "big.bin"),
            "curl": self.curl("ftp://localhost/big.bin", "-o", self.out, tls=tls),
            "lftp": self.lftp("get big.bin -o " + self.out, tls=tls),
        }
        upload = {
            "ours": self.ours(scheme, "put", "/big.bin", "up.bin"),
            "curl": self.curl("ftp://localhost/up.bin", "-T", self.big, tls=tls),
            "lftp": self.lftp("put %s -o up.bin" % self.big, tls=tls),
        }
        for rep in range(self.args.reps):
            if "download" in ops:
                for client in self.rotate(download, rep):
                    if os.path.exists(self.out):
                        os.remove(self.out)
                    self.record(section, "download %s, %s" % (self.size_label, label), client,
                                download[client],
                                self.same_size(self.out), env)
                if "over" in ops:
                    # Over an existing file: the data is flushed before the rename.
                    self.record(section, "download %s, %s" % (self.size_label, label),
                                "ours over a file",
                                download["ours"], self.same_size(self.out), env)
            if "upload" in ops:
                for client in self.rotate(upload, rep):
                    if os.path.exists(stored):
                        os.remove(stored)
                    self.record(section, "upload %s, %s" % (self.size_label, label), client,
                                upload[client],
                                self.same_size(stored), env)
        server.stop()

    def deletes(self):
        root = os.path.join(self.scratch, "root-vsftpd")
        names = ["f%d" % i for i in range(200)]
        server = Server("vsftpd", root)

        def make_files():
            for name in names:
                open(os.path.join(root, name), "w").close()

        runs = {
            "ours": (self.ours("127.0.0.1", *sum((["rm", n] for n in names), [])),
                     self.ours("127.0.0.1")),
            "curl": (self.curl("ftp://localhost/", "-I", *sum((["-Q", "DELE " + n]
                                                                for n in names), [])),
                     self.curl("ftp://localhost/", "-I")),
        }
        for rep in range(self.args.reps):
            for client, (with_deletes, bare) in runs.items():
                make_files()
                with_s, _ = timed(with_deletes)
                if any(os.path.exists(os.path.join(root, n)) for n in names):
                    sys.exit("%s left files undeleted" % client)
                bare_s, rss = timed(bare)
                self.results.setdefault(("delete", "us per DELE, vsftpd", client), []).append(
                    ((with_s - bare_s) / len(names) * 1e6, rss))
        server.stop()

    def make_folder(self, path, count):
        if os.path.isdir(path) and len(os.listdir(path)) == count:
            return
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        for i in range(count):
            with open(os.path.join(path, "file-%06d.dat" % i), "w") as f:
                f.write("x" * (i % 1000))

    def listings(self):
        files = self.args.files
        folder = "d%dk" % (files // 1000)
        listing_file = os.path.join(self.scratch, "FTPFolder.txt")
        out = os.path.join(self.scratch, "list.txt")

        def count_records():
            lines = sum(1 for _ in open(listing_file, encoding="utf-8"))
            if lines != 3 * files:
                sys.exit("listing file has %d lines, not %d" % (lines, 3 * files))

        def count_lines():
            lines = sum(1 for _ in open(out, encoding="utf-8", errors="replace"))
            if lines < files:
                sys.exit("curl listed %d lines, not %d" % (lines, files))

        for kind in ("vsftpd", "pyftpdlib"):
            root = os.path.join(self.scratch, "root-" + kind)
            self.make_folder(os.path.join(root, folder), files)
            server = Server(kind, root)
            case = "list %d files, %s" % (files, kind)
            clients = {
                "ours": (self.ours("127.0.0.1", "cd", "/" + folder), count_records),
                "curl": (self.curl("ftp://localhost/%s/" % folder, "-o", out), count_lines),
            }
            # Untimed rounds first. The first listing of a folder reads its
            # inodes from the disk (1.1 s against 0.34 s on vsftpd), and
            # runs have shown seconds of slower listings after it, for
            # both clients; as they take turns, the one with more timed
            # runs in that stretch would pay for it in its median.
            for _ in range(LISTING_WARM_UP_ROUNDS):
                for argv, check in clients.values():
                    timed(argv)
                    check()
            for rep in range(self.args.reps):
                for client in self.rotate(clients, rep):
                    argv, check = clients[client]
                    self.record("listing", case, client, argv, check)
            server.stop()

    def tls_listings(self, kind):
        """100 listings of a small folder in one session: a data connection,
        and a handshake, each."""
        root = os.path.join(self.scratch, "root-" + kind)
        self.make_folder(os.path.join(root, "d100"), 100)
        server = Server(kind, root, self.certs)
        out = os.path.join(self.scratch, "list.txt")
        count = 100
        clients = {
            "ours": self.ours("ftpes://localhost", *(["cd", "/d100"] * count)),
            "curl": self.curl("ftp://localhost/d100/", "-o", out, tls=True)[:-1] +
                    ["ftp://localhost/d100/"] * count,
            "lftp": self.lftp("cd d100; " + "; ".join(["cls > /dev/null"] * count), tls=True),
        }
        # curl handshakes before it sends LIST and waits out each server's
        # timeout there (about a second a listing): three rounds are plenty.
        for rep in range(min(self.args.reps, 3)):
            for client in self.rotate(clients, rep):
                self.record("ftps", "100 listings in one session, %s FTPS" % kind, client,
                            clients[client], lambda: None, self.tls_env)
        server.stop()

    def small_files(self, kind):
        count = 1000
        names = ["f%04d.dat" % i for i in range(1, count + 1)]
        local_up = os.path.join(self.scratch, "small")
        local_down = os.path.join(self.scratch, "down")
        os.makedirs(local_up, exist_ok=True)
        for name in names:
            with open(os.path.join(local_up, name), "wb") as f:
                f.write(os.urandom(4096))
        root = os.path.join(self.scratch, "root-" + kind)
        remote = os.path.join(root, "small")
        server = Server(kind, root)
        pattern = "f[0001-%04d].dat" % count

        def fresh_remote():
            shutil.rmtree(remote, ignore_errors=True)
            os.makedirs(remote)
            os.chmod(remote, 0o777)

        def fill_remote():
            fresh_remote()
            for name in names:
                shutil.copy(os.path.join(local_up, name), os.path.join(remote, name))

        def fresh_local():
            shutil.rmtree(local_down, ignore_errors=True)
            os.makedirs(local_down)

        def all_there(folder):
            def check():
                if len(os.listdir(folder)) != count:
                    sys.exit("%d files in %s, not %d" % (len(os.listdir(folder)), folder, count))
            return check

        def none_left():
            if os.listdir(remote):
                sys.exit("%d files left undeleted" % len(os.listdir(remote)))

        ops = {
            "upload": (fresh_remote, all_there(remote), {
                "ours": self.ours("127.0.0.1", *sum((["put", "/small/" + n, "small/" + n]
                                                     for n in names), [])),
                "curl": self.curl("ftp://localhost/small/", "-T", os.path.join(local_up, pattern)),
                "lftp": self.lftp("mput -O small %s/*.dat" % local_up),
            }),
            "download": (fresh_local, all_there(local_down), {
                "ours": self.ours("127.0.0.1", *sum((["get", "/down/" + n, "small/" + n]
                                                     for n in names), [])),
                "curl": self.curl("ftp://localhost/small/" + pattern, "-o",
                                  os.path.join(local_down, "f#1.dat")),
                "lftp": self.lftp("mget -O %s small/*.dat" % local_down),
            }),
            "delete": (fill_remote, none_left, {
                "ours": self.ours("127.0.0.1", *sum((["rm", "small/" + n] for n in names), [])),
                "curl": self.curl("ftp://localhost/", "-I",
                                  *sum((["-Q", "DELE small/" + n] for n in names), [])),
                "lftp": self.lftp("mrm small/*.dat"),
            }),
        }
        bare = {"ours": self.ours("127.0.0.1"), "curl": self.curl("ftp://localhost/", "-I"),
                "lftp": self.lftp("ls >/dev/null")}
        if kind == "pyftpdlib":
            # curl waits about 0.4 s after each download from pyftpdlib: a
            # thousand of them would take minutes a round.
            del ops["download"][2]["curl"]
        for rep in range(min(self.args.reps, 3)):
            for op, (prepare, check, clients) in ops.items():
                for client in self.rotate(clients, rep):
                    prepare()
                    os.sync()
                    seconds, rss = timed(clients[client])
                    check()
                    base, _ = timed(bare[client])
                    self.results.setdefault(
                        ("small", "ms per file, 1,000 x 4 KiB %s, %s" % (op, kind), client),
                        []).append(((seconds - base) / count * 1e3, rss))
        server.stop()

    def million(self):
        count = 1000000
        scenario = ('{"replies": {"CWD": "250 ok", "FEAT": "211-Features:\\r\\n EPSV\\r\\n'
                    '211 End"}, "listing_bulk": {"entries": %d}}' % count)
        proc = subprocess.Popen(["/usr/bin/python3", os.path.join(SERVERS, "fault_server.py"),
                                 scenario], stdout=subprocess.PIPE)
        if proc.stdout.readline().strip() != b"ready":
            sys.exit("the fault server did not start")
        listing_file = os.path.join(self.scratch, "FTPFolder.txt")
        out = os.path.join(self.scratch, "list.txt")

        def lines_of(path, expected):
            def check():
                lines = sum(1 for _ in open(path, encoding="utf-8", errors="replace"))
                if lines != expected:
                    sys.exit("%s has %d lines, not %d" % (path, lines, expected))
            return check

        clients = {
            "ours": (self.ours("127.0.0.1", "cd", "/"), lines_of(listing_file, 3 * count)),
            "curl": (self.curl("ftp://localhost/", "-o", out), lines_of(out, count)),
        }
        for rep in range(self.args.reps):
            for client in self.rotate(clients, rep):
                argv, check = clients[client]
                self.record("million", "list 1,000,000 entries, fault server", client, argv, check)
        proc.terminate()
        proc.wait()

    def tracing(self):
        root = os.path.join(self.scratch, "root-vsftpd")
        self.served(root)
        names = ["f%d" % i for i in range(200)]
        transcript = os.path.join(self.scratch, "transcript.txt")
        # The host program keeps a private transcript (in memory) to say why
        # a command failed, unless QUORVANE_TRACE says otherwise: "off" is
        # the library without any, "default" the program as it comes.
        default = {k: v for k, v in os.environ.items() if k != "QUORVANE_TRACE"}
        programs = {"ours": (self.quorvane, None),
                    "ours, default": (self.quorvane, default),
                    "ours traced": (self.quorvane, dict(os.environ, QUORVANE_TRACE=transcript))}
        if self.args.baseline:
            programs["baseline"] = (self.args.baseline, None)
        server = Server("vsftpd", root)
        for rep in range(self.args.reps):
            for client in self.rotate(programs, rep):
                program, env = programs[client]
                for name in names:
                    open(os.path.join(root, name), "w").close()
                deletes = [program, "login", "127.0.0.1", "user", "secret"] + \
                    sum((["rm", n] for n in names), []) + ["logout"]
                with_s, _ = timed(deletes, env)
                bare_s, rss = timed([program, "login", "127.0.0.1", "user", "secret", "logout"],
                                    env)
                self.results.setdefault(("trace", "us per DELE, vsftpd", client), []).append(
                    ((with_s - bare_s) / len(names) * 1e6, rss))
                if os.path.exists(self.out):
                    os.remove(self.out)
                self.record("trace", "download %s, vsftpd" % self.size_label, client,
                            [program, "login", "127.0.0.1", "user", "secret", "get", "/out.bin",
                             "big.bin", "logout"], self.same_size(self.out), env)
                if os.path.exists(transcript):
                    os.remove(transcript)
        server.stop()

    # --- report

    def report(self):
        if not self.results:
            return
        sections = dict.fromkeys(s for s, _, _ in self.results)
        for section in sections:
            print("\n### %s\n" % section)
            print("| case | client | median | min-max | x best peer | peak RSS MiB |")
            print("|---|---|---|---|---|---|")
            cases = dict.fromkeys(c for s, c, _ in self.results if s == section)
            for case in cases:
                runs = {client: values for (s, c, client), values in self.results.items()
                        if s == section and c == case}
                rate = case.startswith(("download", "upload"))
                medians = {client: statistics.median(v for v, _ in values)
                           for client, values in runs.items()}
                peers = [medians[p] for p in PEERS if p in medians]
                best = min(peers) if peers else medians.get("ours")
                for client, values in runs.items():
                    seconds = [v for v, _ in values]
                    median = medians[client]
                    if rate:
                        shown = "%.0f MB/s" % (self.size / median / 1e6)
                        spread = "%.0f-%.0f MB/s" % (self.size / max(seconds) / 1e6,
                                                     self.size / min(seconds) / 1e6)
                        ratio = best / median if best else None  # higher is better
                    elif case.startswith("us"):
                        shown, spread = "%.0f us" % median, "%.0f-%.0f us" % (min(seconds),
                                                                             max(seconds))
                        ratio = median / best if best else None  # lower is better
                    elif case.startswith("ms"):
                        shown, spread = "%.2f ms" % median, "%.2f-%.2f ms" % (min(seconds),
                                                                             max(seconds))
                        ratio = median / best if best else None  # lower is better
                    else:
                        shown, spread = "%.3f s" % median, "%.3f-%.3f s" % (min(seconds),
                                                                           max(seconds))
                        ratio = median / best if best else None  # lower is better
                    print("| %s | %s | %s | %s | %s | %.1f |" % (
                        case, client, shown, spread, "%.2f" % ratio if ratio else "-",
                        max(r for _, r in values)))
        print("\n(x best peer: for transfers the best peer's time over the client's, higher is"
              " better; for the rest the client's time over the best peer's, lower is better;"
              " where no peer runs, against ours)")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host-program", required=True)
    parser.add_argument("--scratch", required=True,
                        help="the host program's device root: local files live here")
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--sections",
                        default="download,upload,delete,listing,ftps,small,million,trace")
    parser.add_argument("--files", type=int, default=100000)
    parser.add_argument("--baseline", help="another build's host program (same device root), "
                        "measured beside ours in the trace and wan sections")
    parser.add_argument("--link-delay", help="the built bench/link_delay.c, for the wan section")
    parser.add_argument("--wan-ops", help="only these operations of the wan section "
                        "(comma-separated, e.g. login,delete), and no fault rows")
    args = parser.parse_args()
    os.makedirs(args.scratch, exist_ok=True)
    bench = Bench(args)
    sections = args.sections.split(",")
    if "download" in sections:
        bench.transfers("download", "vsftpd", False, ("download", "over"))
    if "upload" in sections:
        bench.transfers("upload", "pyftpdlib", False, ("upload",))
    if "delete" in sections:
        bench.deletes()
    if "listing" in sections:
        bench.listings()
    if "ftps" in sections:
        for kind in ("pure-ftpd", "vsftpd"):
            bench.transfers("ftps", kind, True, ("download", "upload"))
            bench.transfers("ftps", kind, False, ("download", "upload"))
            bench.tls_listings(kind)
    if "small" in sections:
        for kind in ("vsftpd", "pyftpdlib"):
            bench.small_files(kind)
    if "million" in sections:
        bench.million()
    if "trace" in sections:
        bench.tracing()
    # Each part is printed once it is measured: a run stopped in the wan
    # section, which takes hours, keeps what it had.
    bench.report()
    sys.stdout.flush()
    if "wan" in sections:
        import wan as wan_section
        wan = wan_section.Wan(bench, args.link_delay)
        wan.operations()
        wan.report_operations()
        if not args.wan_ops:
            wan.fault_rows()
            wan.report_faults()


if __name__ == "__main__":
    main()
