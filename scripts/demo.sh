#!/bin/sh
# Builds the program and the demo repository when needed, then starts the
# program on that repository in a sandbox inside the build folder:
#
#   build/demo/medium/packages   the repository (packages.xml and archives)
#   build/demo/sandbox           HOME, the host root, the system drive and the
#                                XDG folders of the program; delete it to
#                                start afresh
#
# The program runs in build/demo/medium, a folder holding
# packages/packages.xml, so it takes that folder as its only repository (a
# distribution medium). Nothing outside the build folder is touched.
#
# Environment: ZEL_BUILD_DIR (default: build below the source folder),
# ZEL_DEMO_SANDBOX (default: demo/sandbox below the build folder); arguments
# are passed on to zelmanager.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEL_BUILD_DIR:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target zelmanager demo_repository
build=$(cd "$build" && pwd)

medium=$build/demo/medium
sandbox=${ZEL_DEMO_SANDBOX:-$build/demo/sandbox}
mkdir -p "$sandbox/home" "$sandbox/host" "$sandbox/drive" "$sandbox/runtime"
chmod 700 "$sandbox/runtime"
export HOME="$sandbox/home"
export ZELMANAGER_HOST_ROOT="$sandbox/host"
export SYSTEMDRIVE="$sandbox/drive"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache"
export XDG_STATE_HOME="$HOME/.local/state"
export XDG_RUNTIME_DIR="$sandbox/runtime"
unset XDG_CONFIG_DIRS XDG_DATA_DIRS

# The installation folder (with "/win32" after it) may be no longer than the
# build prefix that packages carry (68 characters), so that installed files
# can be relocated in place. When the default below the sandbox's system
# drive is too long, the first start is given a shorter one.
settings="$XDG_CONFIG_HOME/vantorplatform.org/zelmanager.conf"
default_install="$SYSTEMDRIVE/Program Files/Vantor Platform"
if [ ! -f "$settings" ] && [ ${#default_install} -gt 62 ]; then
  install="$sandbox/vp"
  if [ ${#install} -gt 62 ]; then
    echo "demo.sh: the build folder's path is too long for an installation folder inside it;" >&2
    echo "         use a shorter one (ZEL_BUILD_DIR=/tmp/zel ./scripts/demo.sh)" >&2
    exit 1
  fi
  mkdir -p "$(dirname "$settings")"
  printf '[General]\ninstall-path=%s\n' "$install" > "$settings"
fi

if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ] && [ -z "$QT_QPA_PLATFORM" ]; then
  echo "demo.sh: no display; run with QT_QPA_PLATFORM=offscreen (invisible window) or use scripts/screenshots.sh" >&2
fi
cd "$medium"
exec "$build/zelmanager" "$@"
