# `cmake --build <dir> --target package` makes a Debian package of the install prefix /usr.
# Library dependencies come from dpkg-shlibdeps; what Qt loads at run time (QML modules,
# platform and image plugins) is listed by hand. A Secret Service provider is recommended,
# not required: without one the panel reports that the token cannot be read.
set(QUORVANE_PACKAGE_MAINTAINER "Quorvane maintainers <maintainers@quorvane.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR Arlenwick)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel of the Quorvane Agent")
# Debian wants the extended description's lines at most 80 characters long.
set(CPACK_PACKAGE_DESCRIPTION
    "Switches the Quorvane Agent on and off as a per-user systemd service, keeps the
device token in the desktop's Secret Service and binds local folders to the
online cabinet.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUORVANE_DEBIAN_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack's own dependency scan also makes the package run ldconfig, because the panel module is
# a shared object under /usr/lib; it is private and needs no linker cache, so the scan is
# QuorvaneCPackProject.cmake's instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_QUORVANE_ELF_FILES
    ${CMAKE_BINARY_DIR}/${QUORVANE_BIN_DIR}/quorvane
    ${CMAKE_BINARY_DIR}/lib/quorvane/quorvane-panel.so
    ${CMAKE_BINARY_DIR}/${QUORVANE_LIBEXEC_DIR}/quorvane-agent)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/QuorvaneCPackProject.cmake)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-templates, \
qml6-module-qtquick-layouts, qml6-module-qtquick-shapes, qml6-module-qtquick-window, \
qml6-module-qtqml-workerscript, qt6-qpa-plugins, libqt6svg6, systemd, \
default-dbus-session-bus | dbus-session-bus")
# A Secret Service: kwalletd is the daemon alone, without KDE Wallet's manager window, and needs
# the QCA plugins for its encrypted sessions. Wayland desktops run the window natively with Qt's
# Wayland plugin, not through XWayland. Qt's Russian texts for its dialogs, and the portal theme
# that opens the desktop's own folder dialog: without them the panel shows Qt's dialog in English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "gnome-keyring | keepassxc | libkf5wallet-bin, libqca-qt5-2-plugins, qt6-wayland, \
adwaita-icon-theme, qt6-translations-l10n, qt6-xdgdesktopportal-platformtheme")
include(CPack)
