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
set(CPACK_PACKAGE_DESCRIPTION
    "Switches the Quorvane Agent on and off as a per-user systemd service, keeps the device \
token in the desktop's Secret Service and binds local folders to the online cabinet.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-templates, \
qml6-module-qtquick-layouts, qml6-module-qtquick-shapes, qml6-module-qtquick-window, \
qml6-module-qtqml-workerscript, qt6-qpa-plugins, libqt6svg6, systemd, \
default-dbus-session-bus | dbus-session-bus")
# Qt's Russian texts for its dialogs, and the portal theme that opens the desktop's own folder
# dialog: without them the panel shows Qt's dialog in English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "gnome-keyring | keepassxc | kwalletmanager, adwaita-icon-theme, qt6-translations-l10n, \
qt6-xdgdesktopportal-platformtheme")
include(CPack)
