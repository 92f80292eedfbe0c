#!/bin/sh
# Makes the README's pictures of the main window on the demo repository,
# drawn by the widgets themselves under Qt's offscreen platform (no display
# needed): docs/images/main-wide.png (category panel docked) and
# docs/images/main-narrow.png (too narrow for it: the panel floats, opened
# with the menu button), docs/images/preferences.png (the preference page)
# and docs/images/apply.png (the apply page with a package and its
# dependency marked). Run it again whenever the window changes.
#
# Uses scripts/demo.sh with a fresh sandbox of its own
# (build/demo/screenshots), so the pictures show a first start.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEL_BUILD_DIR:-$root/build}
mkdir -p "$build"
export ZEL_BUILD_DIR="$build"
export ZEL_DEMO_SANDBOX="$(cd "$build" && pwd)/demo/screenshots"
export QT_QPA_PLATFORM=offscreen
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
# A sanitizer build reports Qt's own leftovers at exit; they are not ours.
export ASAN_OPTIONS=detect_leaks=0
export ZELMANAGER_SCREENSHOT_DELAY=${ZELMANAGER_SCREENSHOT_DELAY:-3000}
images="$root/docs/images"
mkdir -p "$images"
rm -rf "$ZEL_DEMO_SANDBOX"
rm -f "$images/main-wide.png" "$images/main-narrow.png" "$images/preferences.png" "$images/apply.png"

# The first start reads the repository's index and lands on "All Packages".
# --norelaunch: the program's first stage would start the window in a
# process of its own and return at once; the pictures are taken in order.
ZELMANAGER_SCREENSHOT="$images/main-wide.png" ZELMANAGER_SCREENSHOT_SIZE=1120x700 \
  "$root/scripts/demo.sh" --norelaunch
ZELMANAGER_SCREENSHOT="$images/main-narrow.png" ZELMANAGER_SCREENSHOT_SIZE=600x700 \
  ZELMANAGER_SCREENSHOT_CLICK=menuButton "$root/scripts/demo.sh" --norelaunch
ZELMANAGER_SCREENSHOT="$images/preferences.png" ZELMANAGER_SCREENSHOT_SIZE=1120x700 \
  ZELMANAGER_SCREENSHOT_CLICK=ZelManagerCategoryPanel.preferenceButton "$root/scripts/demo.sh" --norelaunch
# The selected package is marked through the information panel, which marks
# its dependency too; the apply page then lists both.
ZELMANAGER_SCREENSHOT="$images/apply.png" ZELMANAGER_SCREENSHOT_SIZE=1120x700 \
  ZELMANAGER_SCREENSHOT_CLICK=ZelManagerPackageInfoPanel.actionButton,ZelManagerCategoryPanel.applyButton \
  "$root/scripts/demo.sh" --norelaunch
for picture in "$images/main-wide.png" "$images/main-narrow.png" "$images/preferences.png" "$images/apply.png"; do
  [ -s "$picture" ] || { echo "screenshots.sh: $picture was not written" >&2; exit 1; }
done
echo "written: main-wide.png main-narrow.png preferences.png apply.png in $images"
