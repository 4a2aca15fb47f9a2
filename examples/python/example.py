#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Quorvane2 from Python 3 with ctypes: log in, list a folder and read the
listing file, download a file, upload it back under another name, make one
call fail on purpose and read why, log out.

    python3 example.py SERVER USER FOLDER REMOTE-FILE LOCAL-FILE

The password comes from standard input (a prompt without echo on a
terminal), never the command line, where every local user can read it.

SERVER is HOST, ftp://HOST[:PORT], ftpes://HOST[:PORT] or ftps://HOST[:PORT].
LOCAL-FILE is a path of the device's file system ("\\data\\x.txt" lies under
the device root). The upload goes to REMOTE-FILE + ".copy".

Environment: QUORVANE_MODULE, the library to load (by default
"libQuorvane2.so.0", the runtime package's name, or "Quorvane2.dll");
QUORVANE_DEVICE_ROOT, the device root (the build's default otherwise, "/"
for the packages); QUORVANE_TRACE, the transcript (this example names a
temporary file when it is unset, to read causes from).
"""
import ctypes
import getpass
import os
import sys
import tempfile

OK = 999


class Utf16:
    """A string argument as the library takes it: NUL-terminated UTF-16.

    The trap: ctypes.c_wchar_p is the C wchar_t, 32 bits wide on Linux, so
    "127.0.0.1" passed as c_wchar_p reads as the one-character host "1".
    These bytes live as long as the call that uses them."""

    @classmethod
    def from_param(cls, text):
        if "\0" in text:
            raise ValueError("a NUL cannot cross into the library")
        # A lone surrogate raises here: it is not text to send.
        return text.encode("utf-16-le") + b"\0\0"


def load(path):
    library = ctypes.CDLL(path)
    signatures = {
        "FTPServerLogIn": [Utf16, Utf16, Utf16],
        "FTPServerLogOut": [],
        "FTPServerFiles": [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, Utf16],
        "FTPFileDownload": [Utf16, Utf16],
        "FTPFileUpload": [Utf16, Utf16],
        "FTPFileDelete": [Utf16],
        "FTPFolderCreate": [Utf16],
        "FTPFolderDelete": [Utf16],
        "FTPFileRename": [Utf16, Utf16],
    }
    for name, arguments in signatures.items():
        function = getattr(library, name)
        function.argtypes = arguments
        function.restype = ctypes.c_int32  # FTPResult
    return library


class Transcript:
    """Reads the causes the library writes. Each line is "[SECONDS] EVENT";
    an event "cause: TEXT" says why something failed, and every failed call
    writes one before its own "call NAME(...) = RESULT" line."""

    def __init__(self, path):
        self.path = path
        self.mark = 0

    def before_call(self):
        self.mark = os.path.getsize(self.path) if os.path.exists(self.path) else 0

    def last_cause(self):
        if not os.path.exists(self.path):
            return None
        with open(self.path, "rb") as transcript:
            transcript.seek(self.mark)
            cause = None
            for line in transcript.read().decode("utf-8", "replace").splitlines():
                _, _, event = line.partition("] ")
                if event.startswith("cause: "):
                    cause = event[len("cause: "):]
            return cause


def device_path(device_root, local):
    """The host path of a device path ("\\a\\b.txt" under the device root)."""
    relative = local.replace("\\", "/").lstrip("/")
    return os.path.join(device_root, relative)


def read_password():
    """From standard input: without echo on a terminal, else its first line."""
    if sys.stdin.isatty():
        return getpass.getpass()
    return sys.stdin.readline().rstrip("\r\n")


def main(argv):
    if len(argv) != 6:
        sys.exit("usage: example.py SERVER USER FOLDER REMOTE-FILE LOCAL-FILE"
                 " (the password on standard input)")
    server, user, folder, remote, local = argv[1:]
    password = read_password()
    default = "Quorvane2.dll" if sys.platform == "win32" else "libQuorvane2.so.0"
    # The transcript must be named before the first call: the library reads
    # the variable then (and again at each log-in).
    if not os.environ.get("QUORVANE_TRACE"):
        handle, path = tempfile.mkstemp(prefix="quorvane-example-", suffix=".log")
        os.close(handle)
        os.environ["QUORVANE_TRACE"] = path
    transcript = Transcript(os.environ["QUORVANE_TRACE"])
    device_root = os.environ.get("QUORVANE_DEVICE_ROOT", "/")
    ftp = load(os.environ.get("QUORVANE_MODULE", default))

    def call(name, *arguments):
        transcript.before_call()
        result = getattr(ftp, name)(*arguments)
        line = "%s: %d" % (name, result)
        if result != OK:
            line += " (%s)" % (transcript.last_cause() or "no cause written")
        print(line)
        return result == OK

    if not call("FTPServerLogIn", server, user, password):
        return 1
    ok = call("FTPServerFiles", None, None, None, folder)
    if ok:
        # Three lines an entry: the name, " SIZE    ", the local time.
        with open(os.path.join(device_root, "FTPFolder.txt"), encoding="utf-8") as listing:
            lines = listing.read().split("\n")[:-1]
        for name, size, when in zip(lines[0::3], lines[1::3], lines[2::3]):
            print("  %-30s %12s  %s" % (name, size.strip(), when))
    ok = call("FTPFileDownload", local, remote) and ok
    if ok:
        print("  %d bytes in %s" % (os.path.getsize(device_path(device_root, local)), local))
        ok = call("FTPFileUpload", local, remote + ".copy") and ok
    # On purpose: a file that is not there. The cause is the server's reply.
    failed_as_expected = not call("FTPFileDelete", "no-such-file-for-the-example")
    call("FTPServerLogOut")
    return 0 if ok and failed_as_expected else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
