#!/usr/bin/env bash
# Installs the Debian 12 packages the panel needs to build, run and test. Idempotent.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format ccache
  qt6-base-dev qt6-declarative-dev libsecret-1-dev libgl-dev
  # runtime: Qt Quick views, the platform plugins and the icon theme
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-qtquick-dialogs qml6-module-qt-labs-platform qml6-module-qtquick-shapes
  qt6-qpa-plugins libqt6svg6 adwaita-icon-theme hicolor-icon-theme
  # Qt's own dialogs in Russian, and the desktop's folder dialog through its portal
  qt6-translations-l10n qt6-xdgdesktopportal-platformtheme
  # the private desktop session for tests and for running without a desktop
  systemd dbus-user-session gnome-keyring libsecret-tools xvfb x11-utils xauth
  # the other Secret Service providers tested there, and the means to answer their dialogs;
  # kwalletd's encrypted sessions need the QCA plugins, which are only a recommendation
  libkf5wallet-bin libqca-qt5-2-plugins keepassxc python3 xdotool dbus-bin
  # benchmarks and screenshots
  hyperfine imagemagick time
  # packaging: the launcher entry's check and the Debian package's dependencies
  desktop-file-utils dpkg-dev
)

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
