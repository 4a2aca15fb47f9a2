#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Starts a throw-away vsftpd, proftpd or pure-ftpd on 127.0.0.1:21 serving
ROOT read-write to one user, prints "ready" once it accepts connections, and
runs until killed (the server with it). Only for use inside a private
network namespace (the integration tests make one): vsftpd gets a private
PAM configuration bind-mounted over /etc/pam.d in a mount namespace of its
own.

  launch_server.py KIND --root ROOT [--user U] [--password P] [--bin BINDIR]
                   [--idle-timeout SECONDS] [--host ADDRESS] [--port N] [--passive-ports MIN-MAX]
                   [--tls CERTS [--tls-max 1.2] [--tls-log FILE] [--implicit-tls]]
                   [--digest] [--local-times] [--timezone TZ]

BINDIR holds the three servers unpacked from Debian's packages: installed,
each would be an FTP daemon enabled at boot (and they conflict).
With --tls the server requires explicit TLS on the control connection and
every data connection, with CERTS/server.crt and .key (see make_certs.py);
vsftpd and proftpd also require data connections to resume the control
connection's TLS session, and write to FILE whether they did. pure-ftpd
counts idle time in whole minutes. --port listens elsewhere than 21;
--implicit-tls (vsftpd, proftpd) starts TLS on connecting, as servers on
port 990 do (pure-ftpd is built without it).
"""
import argparse
import warnings

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import crypt
import dbm.ndbm
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time


def wait_until_listening(proc, log_path, host, port):
    for _ in range(200):
        if proc.poll() is not None:
            sys.exit("server exited with %d: %s" % (proc.returncode, open(log_path).read()[-2000:]))
        try:
            socket.create_connection((host, port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    sys.exit("server did not listen")


def vsftpd(args, work):
    # Virtual user checked by pam_userdb; sessions run as root in ROOT.
    pam = os.path.join(work, "pam.d")
    os.makedirs(pam)
    db = dbm.ndbm.open(os.path.join(work, "users"), "c")
    db[args.user] = args.password
    db.close()
    with open(os.path.join(pam, "quorvane-vsftpd"), "w") as f:
        f.write("auth required pam_userdb.so db=%s/users\n" % work)
        f.write("account required pam_permit.so\n")
    os.makedirs("/var/run/vsftpd/empty", exist_ok=True)
    conf = os.path.join(work, "vsftpd.conf")
    with open(conf, "w") as f:
        f.write("""listen=YES
listen_address=%s
listen_port=%d
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
guest_enable=YES
guest_username=root
virtual_use_local_privs=YES
local_root=%s
chroot_local_user=YES
allow_writeable_chroot=YES
pam_service_name=quorvane-vsftpd
local_umask=022
seccomp_sandbox=NO
isolate_network=NO
secure_chroot_dir=/var/run/vsftpd/empty
idle_session_timeout=%d
""" % (args.host, args.port, args.root, args.idle_timeout))
        if args.passive_ports:
            low, high = args.passive_ports.split("-")
            f.write("pasv_min_port=%s\npasv_max_port=%s\n" % (low, high))
        if args.local_times:
            f.write("use_localtime=YES\n")  # LIST and MDTM alike
        if args.tls:
            # debug_ssl logs "SSL version ..., reused|not reused" for each connection.
            f.write("""ssl_enable=YES
rsa_cert_file={c}/server.crt
rsa_private_key_file={c}/server.key
force_local_logins_ssl=YES
force_local_data_ssl=YES
require_ssl_reuse=YES
ssl_sslv2=NO
ssl_sslv3=NO
ssl_tlsv1=NO
debug_ssl=YES
xferlog_enable=YES
xferlog_std_format=NO
vsftpd_log_file={log}
""".format(c=args.tls, log=args.tls_log or os.path.join(work, "vsftpd.log")))
            if args.implicit_tls:
                f.write("implicit_ssl=YES\n")
        else:
            f.write("xferlog_enable=NO\n")
    # The private pam.d only in vsftpd's own mount namespace, which ends with it.
    return ["unshare", "--mount", "--propagation", "private", "sh", "-c",
            'mount --bind "$0" /etc/pam.d && exec "$1" "$2"', pam,
            os.path.join(args.bin, "usr/sbin/vsftpd"), conf]


def proftpd(args, work):
    hashed = crypt.crypt(args.password, crypt.mksalt(crypt.METHOD_SHA512))
    with open(os.path.join(work, "passwd"), "w") as f:
        f.write("%s:%s:0:0::%s:/bin/sh\n" % (args.user, hashed, args.root))
    os.chmod(os.path.join(work, "passwd"), 0o600)
    with open(os.path.join(work, "group"), "w") as f:
        f.write("root:x:0:\n")
    conf = os.path.join(work, "proftpd.conf")
    with open(conf, "w") as f:
        f.write("""ServerType standalone
DefaultServer on
Port {port}
DefaultAddress {host}
SocketBindTight on
UseIPv6 off
User root
Group root
RootLogin on
ScoreboardFile {w}/scoreboard
PidFile {w}/proftpd.pid
DelayTable none
WtmpLog off
TransferLog none
SystemLog none
AuthOrder mod_auth_file.c
AuthUserFile {w}/passwd
AuthGroupFile {w}/group
RequireValidShell off
DefaultRoot ~
UseReverseDNS off
Umask 022
AllowOverwrite on
AllowStoreRestart on
TimeoutIdle {idle}
""".format(w=work, idle=args.idle_timeout, port=args.port, host=args.host))
        if args.passive_ports:
            f.write("PassivePorts %s\n" % args.passive_ports.replace("-", " "))
        if args.digest:
            f.write("ModulePath %s/usr/lib/proftpd\nLoadModule mod_digest.c\nDigestEngine on\n"
                    % args.bin)
        if args.local_times:
            # LIST in local time, MDTM still in UTC; no MLST in FEAT, so
            # that clients list with LIST.
            f.write("TimesGMT off\nFactsAdvertise off\n")
        if args.tls:
            # Data connections must resume the control session (the default).
            f.write("""ModulePath {bin}/usr/lib/proftpd
LoadModule mod_tls.c
TLSEngine on
TLSRequired on
TLSProtocol {protocols}
TLSRSACertificateFile {c}/server.crt
TLSRSACertificateKeyFile {c}/server.key
TLSVerifyClient off
TLSOptions EnableDiags{implicit}
TLSLog {log}
""".format(bin=args.bin, c=args.tls, log=args.tls_log or os.path.join(work, "tls.log"),
           implicit=" UseImplicitSSL" if args.implicit_tls else "",
           protocols="TLSv1.2" if args.tls_max == "1.2" else "TLSv1.2 TLSv1.3"))
    return [os.path.join(args.bin, "usr/sbin/proftpd"), "-n", "-c", conf]


def pure_ftpd(args, work):
    # pure-ftpd runs no session as root: the user is nobody, so ROOT and
    # what the tests put in it must be writable by all (the tests' umask).
    os.chmod(args.root, 0o777)
    passwd = os.path.join(work, "pureftpd.passwd")
    pdb = os.path.join(work, "pureftpd.pdb")
    # pure-pw would hash with argon2id, which costs a second of CPU at every
    # log-in; a SHA-512 crypt hash keeps log-in loops quick.
    hashed = crypt.crypt(args.password, crypt.mksalt(crypt.METHOD_SHA512))
    with open(passwd, "w") as f:
        f.write("%s:%s:65534:65534::%s/./::::::::::::\n" % (args.user, hashed, args.root))
    env = dict(os.environ, PURE_PASSWDFILE=passwd, PURE_DBFILE=pdb)
    subprocess.run([os.path.join(args.bin, "usr/bin/pure-pw"), "mkdb"], env=env, check=True)
    argv = [os.path.join(args.bin, "usr/sbin/pure-ftpd"), "-S", "%s,%d" % (args.host, args.port),
            "-l", "puredb:" + pdb, "-E", "-H", "-I", str(max(1, args.idle_timeout // 60))]
    if args.tls:
        argv += ["--tls=3", "--certfile=%s/server.pem" % args.tls]
    if args.passive_ports:
        argv += ["-p", args.passive_ports.replace("-", ":")]
    return argv


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("kind", choices=["vsftpd", "proftpd", "pure-ftpd"])
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--bin", default="/var/cache/quorvane-servers")
    parser.add_argument("--idle-timeout", type=int, default=300)
    parser.add_argument("--tls", metavar="CERTS")
    parser.add_argument("--tls-max", choices=["1.2", "1.3"], default="1.3")
    parser.add_argument("--tls-log")
    parser.add_argument("--port", type=int, default=21)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--passive-ports", metavar="MIN-MAX")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--digest", action="store_true",
                        help="proftpd: HASH and XSHA256 and the like (mod_digest)")
    parser.add_argument("--local-times", action="store_true",
                        help="vsftpd, proftpd: LIST in the server's local time (see --timezone)")
    parser.add_argument("--timezone", help="TZ for the server process (a POSIX TZ string)")
    args = parser.parse_args()
    if args.implicit_tls and (not args.tls or args.kind == "pure-ftpd"):
        sys.exit("--implicit-tls needs --tls, and vsftpd or proftpd")
    # The servers' own files must not be writable by others (proftpd
    # refuses), whatever umask the tests run with.
    os.umask(0o022)
    work = tempfile.mkdtemp(prefix="quorvane-%s." % args.kind)
    # A SIGTERM ends the wait below; the finally clause stops the server and
    # removes what this launcher made, whichever way it ends.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    proc = None
    try:
        argv = {"vsftpd": vsftpd, "proftpd": proftpd, "pure-ftpd": pure_ftpd}[args.kind](args, work)
        log = open(os.path.join(work, "server.log"), "w")
        env = dict(os.environ)
        if args.timezone:
            env["TZ"] = args.timezone
        if args.tls and args.tls_max == "1.2" and args.kind != "proftpd":
            # vsftpd and pure-ftpd have no setting for it: cap OpenSSL itself.
            env["OPENSSL_CONF"] = os.path.join(work, "openssl.cnf")
            with open(env["OPENSSL_CONF"], "w") as f:
                f.write("openssl_conf = defaults\n[defaults]\nssl_conf = ssl\n[ssl]\n"
                        "system_default = system\n[system]\nMaxProtocol = TLSv1.2\n")
        proc = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT,
                                start_new_session=True, env=env)
        wait_until_listening(proc, os.path.join(work, "server.log"), args.host, args.port)
        print("ready", flush=True)
        proc.wait()
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        if proc is not None and proc.poll() is None:
            os.killpg(proc.pid, signal.SIGTERM)
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
        shutil.rmtree(work, ignore_errors=True)

if __name__ == "__main__":
    main()
