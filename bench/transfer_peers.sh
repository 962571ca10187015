#!/usr/bin/env bash
# Unpacks the benchmark's peer servers from Debian packages into a private
# tree (default /tmp/bench-peers/root). Nothing is installed or started as a
# system service: pure-ftpd even conflicts with vsftpd as a package.
set -euo pipefail
peers=${1:-/tmp/bench-peers}
mkdir -p "$peers/debs" "$peers/root"
cd "$peers/debs"
packages=(vsftpd pure-ftpd pure-ftpd-common python3-pyftpdlib iperf3 libiperf0 libsctp1 libsodium23 libwrap0)
apt-get download "${packages[@]}"
for deb in ./*.deb; do dpkg -x "$deb" "$peers/root"; done
echo "peers unpacked in $peers/root"
