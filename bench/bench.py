#!/usr/bin/python3
"""Benchmark: the host program against curl (and lftp), same servers, same
run. Run inside a private network namespace (see ./run).

  download  1 GiB download to disk from vsftpd
  delete    time per DELE over 200 deletes in one session, on vsftpd
  upload    1 GiB upload to pyftpdlib
  listing   a folder of 100,000 files: ours parses it and writes the listing
            file; curl writes the LIST output to a file. vsftpd (LIST for
            both) and pyftpdlib (MLSD for us, LIST for curl).

Prints a table of medians with each client's ratio to curl and its peak RSS.
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
REPO = os.path.dirname(HERE)


def timed(argv):
    """Runs argv; returns (wall seconds, peak RSS in MiB). /usr/bin/time only
    measures the RSS: its own clock ticks in hundredths."""
    with tempfile.NamedTemporaryFile("r") as rss:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-o", rss.name, "-f", "%M"] + argv,
                       stdout=subprocess.DEVNULL, check=True)
        seconds = time.perf_counter() - start
        return seconds, int(rss.read().split()[-1]) / 1024


def wait_for_port():
    import socket
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", 21), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    sys.exit("server did not come up")


class Server:
    def __init__(self, kind, root):
        if kind == "vsftpd":
            self.pid = int(subprocess.check_output([os.path.join(HERE, "start-vsftpd.sh"), root]))
            self.proc = None
        else:
            self.proc = subprocess.Popen(
                ["/usr/bin/python3", os.path.join(REPO, "tests/servers/pyftpd_server.py"),
                 "--root", root], stdout=subprocess.DEVNULL)
        wait_for_port()

    def stop(self):
        if self.proc:
            self.proc.terminate()
            self.proc.wait()
        else:
            os.kill(self.pid, 15)
        time.sleep(0.3)


def fresh(path):
    if os.path.exists(path):
        os.remove(path)
    os.sync()


def make_folder(path, count):
    if os.path.isdir(path) and len(os.listdir(path)) == count:
        return
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    for i in range(count):
        with open(os.path.join(path, "file-%06d.dat" % i), "w") as f:
            f.write("x" * (i % 1000))


def listing_runs(args, quorvane, scratch, vs_root, py_root, results):
    folder = "d%dk" % (args.files // 1000)
    make_folder(os.path.join(vs_root, "pub", folder), args.files)
    make_folder(os.path.join(py_root, folder), args.files)
    out = os.path.join(scratch, "list.txt")
    listing_file = os.path.join(scratch, "FTPFolder.txt")

    def count_records():
        lines = sum(1 for _ in open(listing_file, encoding="utf-8"))
        if lines != 3 * args.files:
            sys.exit("listing file has %d lines, not %d" % (lines, 3 * args.files))

    def count_lines():
        lines = sum(1 for _ in open(out, encoding="utf-8", errors="replace"))
        if lines < args.files:
            sys.exit("curl listed %d lines, not %d" % (lines, args.files))

    for kind, root, path, user in (("vsftpd", vs_root, "/pub/" + folder, "anonymous"),
                                   ("pyftpdlib", py_root, "/" + folder, "user")):
        password = "x" if user == "anonymous" else "secret"
        server = Server(kind, root)
        case = "list %d files (%s)" % (args.files, kind)
        clients = {
            "quorvane": ([quorvane, "login", "127.0.0.1", user, password, "cd", path, "logout"],
                         count_records),
            "curl": (["curl", "-sS", "-u", "%s:%s" % (user, password), "-o", out,
                      "ftp://127.0.0.1%s/" % path], count_lines),
        }
        for rep in range(args.reps):
            for client in (list(clients) if rep % 2 == 0 else list(clients)[::-1]):
                argv, check = clients[client]
                os.sync()  # earlier runs' dirty pages must not be written back during this one
                record_into(results, case, client, argv, check)
        server.stop()


def record_into(results, case, client, argv, check):
    seconds, rss = timed(argv)
    check()
    results.setdefault((case, client), []).append((seconds, rss))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host-program", required=True)
    parser.add_argument("--scratch", required=True,
                        help="the host program's device root: local files live here")
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--sections", default="download,delete,upload,listing")
    parser.add_argument("--files", type=int, default=100000)
    args = parser.parse_args()

    quorvane = args.host_program
    scratch = args.scratch
    big = os.path.join(scratch, "big.bin")
    os.makedirs(scratch, exist_ok=True)
    if not os.path.exists(big) or os.path.getsize(big) != args.size_mib << 20:
        subprocess.run(["head", "-c", "%dM" % args.size_mib, "/dev/urandom"],
                       stdout=open(big, "wb"), check=True)
    out = os.path.join(scratch, "out.bin")
    size = os.path.getsize(big)
    results = {}  # (case, client) -> list of (seconds, rss)

    def record(case, client, argv, check):
        record_into(results, case, client, argv, check)

    def same_size(path):
        def check():
            got = os.path.getsize(path)
            if got != size:
                sys.exit("%s has %d bytes, not %d" % (path, got, size))
        return check

    # Downloads from vsftpd.
    vs_root = os.path.join(scratch, "vsftpd")
    os.makedirs(os.path.join(vs_root, "pub"), exist_ok=True)
    served = os.path.join(vs_root, "pub", "big.bin")
    if not os.path.exists(served):
        os.link(big, served) if os.stat(big).st_dev == os.stat(vs_root).st_dev else shutil.copy(big, served)
    server = Server("vsftpd", vs_root)
    download = {
        "quorvane": [quorvane, "login", "127.0.0.1", "anonymous", "x", "get", "/out.bin",
                     "pub/big.bin", "logout"],
        "curl": ["curl", "-sS", "-o", out, "ftp://127.0.0.1/pub/big.bin"],
        "lftp": ["lftp", "-c", "set ftp:ssl-allow no; set xfer:clobber on; "
                 "open -u anonymous,x 127.0.0.1; get pub/big.bin -o " + out],
    }
    deletes = 200
    names = ["pub/f%d" % i for i in range(deletes)]

    def make_files():
        for name in names:
            path = os.path.join(vs_root, name)
            open(path, "w").close()
            shutil.chown(path, "ftp", "ftp")

    delete_runs = {
        "quorvane": ([quorvane, "login", "127.0.0.1", "anonymous", "x"]
                     + sum((["rm", n] for n in names), []) + ["logout"],
                     [quorvane, "login", "127.0.0.1", "anonymous", "x", "logout"]),
        "curl": (["curl", "-sS", "-I"] + sum((["-Q", "DELE " + n] for n in names), [])
                 + ["ftp://127.0.0.1/"],
                 ["curl", "-sS", "-I", "ftp://127.0.0.1/"]),
    }
    sections = args.sections.split(",")
    for rep in range(args.reps):
        order = list(download)
        order = order[rep % len(order):] + order[:rep % len(order)]
        for client in order if "download" in sections else []:
            fresh(out)
            record("download 1 GiB (vsftpd)", client, download[client], same_size(out))
        for client, (with_deletes, bare) in delete_runs.items() if "delete" in sections else []:
            make_files()
            with_s, _ = timed(with_deletes)
            if any(os.path.exists(os.path.join(vs_root, n)) for n in names):
                sys.exit("%s left files undeleted" % client)
            bare_s, rss = timed(bare)
            results.setdefault(("us per DELE (vsftpd)", client), []).append(
                ((with_s - bare_s) / deletes * 1e6, rss))
    server.stop()

    # Uploads to pyftpdlib.
    py_root = os.path.join(scratch, "pyftpdlib")
    os.makedirs(py_root, exist_ok=True)
    stored = os.path.join(py_root, "up.bin")
    server = Server("pyftpdlib", py_root)
    upload = {
        "quorvane": [quorvane, "login", "127.0.0.1", "user", "secret", "put", "/big.bin",
                     "up.bin", "logout"],
        "curl": ["curl", "-sS", "-u", "user:secret", "-T", big, "ftp://127.0.0.1/up.bin"],
        "lftp": ["lftp", "-c", "set ftp:ssl-allow no; open -u user,secret 127.0.0.1; put "
                 + big + " -o up.bin"],
    }
    for rep in range(args.reps):
        order = list(upload)
        order = order[rep % len(order):] + order[:rep % len(order)]
        for client in order if "upload" in sections else []:
            fresh(stored)
            record("upload 1 GiB (pyftpdlib)", client, upload[client], same_size(stored))
    server.stop()

    if "listing" in sections:
        listing_runs(args, quorvane, scratch, vs_root, py_root, results)

    print("| case | client | median | min-max | x curl | peak RSS MiB |")
    print("|---|---|---|---|---|---|")
    for case in dict.fromkeys(c for c, _ in results):
        curl = statistics.median(s for s, _ in results[(case, "curl")])
        for (c, client), runs in results.items():
            if c != case:
                continue
            values = [s for s, _ in runs]
            median = statistics.median(values)
            if case.startswith("us"):
                shown, ratio = "%.0f us" % median, median / curl
                spread = "%.0f-%.0f us" % (min(values), max(values))
            elif case.startswith("list"):
                shown, ratio = "%.3f s" % median, median / curl
                spread = "%.3f-%.3f s" % (min(values), max(values))
            else:
                shown = "%.0f MB/s" % (size / median / 1e6)
                ratio = curl / median  # throughput ratio
                spread = "%.0f-%.0f MB/s" % (size / max(values) / 1e6, size / min(values) / 1e6)
            print("| %s | %s | %s | %s | %.2f | %.1f |" % (
                case, client, shown, spread, ratio, max(r for _, r in runs)))
    print("\n(x curl: throughput ratio for transfers, higher is better; time ratio for DELE"
          " and listings, lower is better)")


if __name__ == "__main__":
    main()
