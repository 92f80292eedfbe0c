#!/bin/sh
# Installs the Debian packages that building and testing need, when missing.
# Run it as it is: as root it installs directly, as another user it asks
# sudo only when something is missing.
set -e
PACKAGES="build-essential cmake ninja-build ccache pkg-config python3 xz-utils \
  qtbase5-dev qtscript5-dev libqt5svg5-dev qttools5-dev-tools libsqlite3-dev libarchive-dev libarchive-tools \
  clang-format breeze-icon-theme fonts-dejavu-core clang libclang-rt-14-dev \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "setup.sh: missing packages:$missing; run this script as root (sudo is not installed)" >&2; exit 1; }
  echo "setup.sh: installing$missing with sudo"
  exec sudo "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q $missing || { apt-get update -q && apt-get install -y -q $missing; }
