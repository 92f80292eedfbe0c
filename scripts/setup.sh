#!/bin/sh
# Installs the Debian packages that building and testing need, when missing.
set -e
PACKAGES="build-essential cmake ninja-build ccache pkg-config python3 xz-utils \
  qtbase5-dev qtscript5-dev libqt5svg5-dev qttools5-dev-tools libsqlite3-dev libarchive-dev libarchive-tools clang-format"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q $missing || { apt-get update -q && apt-get install -y -q $missing; }
