#!/usr/bin/env bash
# Installs the Debian 12 packages the panel needs, idempotently:
#   scripts/setup-debian.sh panel   to build and run the panel (scripts/run-panel.sh)
#   scripts/setup-debian.sh         to build, run and test everything
set -euo pipefail

panel_packages=(
  # build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-declarative-dev libsecret-1-dev libwayland-dev libgl-dev
  # runtime: Qt Quick views, the platform plugins (X11 and Wayland) and the icon theme
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-qtquick-dialogs qml6-module-qt-labs-platform qml6-module-qtquick-shapes
  qt6-qpa-plugins qt6-wayland libqt6svg6 adwaita-icon-theme hicolor-icon-theme
  # Qt's own dialogs in Russian, and the desktop's folder dialog through its portal
  qt6-translations-l10n qt6-xdgdesktopportal-platformtheme
  # the private session for running without a desktop, and its screen's screenshot
  systemd dbus-user-session gnome-keyring xvfb x11-utils xauth x11-apps netpbm
)
test_packages=(
  clang-format ccache libsecret-tools dbus-bin
  # the other Secret Service providers tested in the private session, and the means to answer
  # their dialogs; kwalletd's encrypted sessions need the QCA plugins, only a recommendation
  libkf5wallet-bin libqca-qt5-2-plugins keepassxc python3 xdotool
  # the window on a Wayland compositor without a seat
  weston
  # benchmarks and screenshots
  hyperfine imagemagick time
  # the package's checks: launcher entry, dependencies, lintian, hardening-check (devscripts),
  # AppStream metadata, manual page
  desktop-file-utils dpkg-dev lintian devscripts appstream man-db
)

case ${1:-} in
panel) packages=("${panel_packages[@]}") ;;
'') packages=("${panel_packages[@]}" "${test_packages[@]}") ;;
*) echo "usage: setup-debian.sh [panel]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
((${#missing[@]})) || exit 0

sudo=()
((EUID == 0)) || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
