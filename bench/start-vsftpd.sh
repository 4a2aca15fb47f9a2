#!/usr/bin/env bash
# Starts vsftpd on 127.0.0.1:21 serving ROOT/pub read-write to anonymous
# log-ins, in the foreground of a background job; prints its PID. Only for use
# inside a private network namespace.
set -euo pipefail
root=$1
conf=$(mktemp /tmp/quorvane-vsftpd.XXXXXX.conf)
mkdir -p /var/run/vsftpd/empty "$root/pub"
chown root:root "$root" && chmod 755 "$root"
chown -R ftp:ftp "$root/pub"
cat > "$conf" <<CONF
listen=YES
listen_address=127.0.0.1
listen_port=21
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$root
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_umask=022
local_enable=NO
seccomp_sandbox=NO
isolate_network=NO
xferlog_enable=NO
pasv_enable=YES
secure_chroot_dir=/var/run/vsftpd/empty
CONF
vsftpd "$conf" >/dev/null 2>&1 &
echo $!
