# Debian packages through CPack: `cpack -G DEB` in the build folder (scripts/package.sh) makes one
# package per installed program, dovrel-agent and dovrel-controller (when it is built), installed under
# /usr with their dependencies read from the libraries the programs link (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME dovrel)
set(CPACK_PACKAGE_VENDOR Quendal)
set(CPACK_PACKAGE_CONTACT "Dovrel developers <dovrel@quendal.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY dovrel)
# The autostart entry goes to /etc: install with the prefix /usr into a staging root (DESTDIR), as a
# real installation would, so that the entries name /usr/bin.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL agent)
if(TARGET DovrelController)
  list(APPEND CPACK_COMPONENTS_ALL controller)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://dovrel.net")

set(CPACK_DEBIAN_AGENT_PACKAGE_NAME dovrel-agent)
set(CPACK_DEBIAN_AGENT_DESCRIPTION
    "Dovrel Agent, the program on the computer to be reached
It streams this computer's screen and sound to a paired Dovrel controller
and takes its mouse, keyboard, clipboard and files, through a relay or on
the local network. It starts with the desktop session and restarts itself
through a systemd user unit.")
# systemctl keeps the agent running, Avahi announces it on the local network, xdg-open shows received
# files; the agent works without each of them and says so in its log.
set(CPACK_DEBIAN_AGENT_PACKAGE_RECOMMENDS "systemd, avahi-daemon, xdg-utils")
# Its window's QML modules are loaded at run time, so dpkg-shlibdeps cannot see them; nor the font its
# words are drawn in where the desktop's own lacks the medium and semibold faces (brand/InterfaceFont).
set(CPACK_DEBIAN_AGENT_PACKAGE_DEPENDS
    "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtquick-layouts, qml6-module-qtquick-shapes, qml6-module-qtquick-window, fonts-inter")
# The autostart entry lives in /etc: dpkg keeps a user's edit of it (and removes it on purge).
file(WRITE ${PROJECT_BINARY_DIR}/packaging/deb/agent/conffiles "/etc/xdg/autostart/com.quendal.dovrel.agent.desktop\n")
set(CPACK_DEBIAN_AGENT_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/deb/agent/conffiles)

set(CPACK_DEBIAN_CONTROLLER_PACKAGE_NAME dovrel-controller)
set(CPACK_DEBIAN_CONTROLLER_DESCRIPTION
    "Dovrel, the program that shows and drives a remote computer
It shows the screen of a computer that runs Dovrel Agent and sends your
mouse, keyboard, clipboard and files to it, through a relay or on the
local network.")
# QML modules are loaded at run time, so dpkg-shlibdeps cannot see them; nor the font the words are drawn
# in where the desktop's own lacks the medium and semibold faces (brand/InterfaceFont).
set(CPACK_DEBIAN_CONTROLLER_PACKAGE_DEPENDS
    "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-shapes, qml6-module-qtquick-window, qml6-module-qtquick-layouts, qml6-module-qtquick-templates, qml6-module-qtqml-workerscript, qml6-module-qtquick-dialogs, qml6-module-qt-labs-folderlistmodel, qml6-module-qt5compat-graphicaleffects, fonts-inter")

include(CPack)
