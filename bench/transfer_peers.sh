#!/usr/bin/env bash
# Unpacks the benchmark's peer servers and iperf3 from Debian packages into a
# private tree (default /tmp/bench-peers/root) with `apt-get download` and
# `dpkg -x`. Nothing is installed or started as a system service: pure-ftpd
# even conflicts with vsftpd as a package. Does nothing once the tree is whole.
set -euo pipefail
peers=${1:-/tmp/bench-peers}
root="$peers/root"
packages=(vsftpd pure-ftpd pure-ftpd-common python3-pyftpdlib iperf3 libiperf0 libsctp1 libsodium23 libwrap0)
needed=(usr/sbin/vsftpd usr/sbin/pure-ftpd usr/bin/pure-pw usr/lib/python3/dist-packages/pyftpdlib
        usr/bin/iperf3 usr/lib/x86_64-linux-gnu/libiperf.so.0 usr/lib/x86_64-linux-gnu/libsctp.so.1)
missing() { for file in "${needed[@]}"; do [ -e "$root/$file" ] || echo "$file"; done; }

if [ -z "$(missing)" ]; then
  echo "peers already unpacked in $root"
  exit 0
fi
mkdir -p "$peers/debs" "$root"
# apt fetches as its unprivileged user when that user may write the folder.
chown _apt "$peers/debs" 2>/dev/null || true
cd "$peers/debs"
apt-get download "${packages[@]}" || { echo "$0: download failed; run apt-get update first" >&2; exit 1; }
for deb in ./*.deb; do dpkg -x "$deb" "$root"; done
if [ -n "$(missing)" ]; then
  echo "$0: still missing in $root:" $(missing) >&2
  exit 1
fi
echo "peers unpacked in $root"
