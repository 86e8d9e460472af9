# `make deb` (cpack -G DEB): a Debian package of what `cmake --install` lays
# out, installed under /usr. Library dependencies come from dpkg-shlibdeps;
# the plugins Qt loads at run time are named by hand, as nothing links them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "The Quorvel developers")
set(QUORVEL_MAINTAINER "The Quorvel developers <developers@quorvel.invalid>" CACHE STRING
  "Maintainer of the .deb, as \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT "${QUORVEL_MAINTAINER}")
# The summary is the package's one-line synopsis; the description follows it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "Quorvel captures one window or an area of the screen, or takes
a picture or a screen recording, puts it on a background (a gradient, a plain
colour or a picture), insets it by a padding, rounds its corners, and exports
a PNG or an MPEG-4 movie. Its command line does the same for whole folders of
screenshots.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${QUORVEL_WEBSITE}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/strip-package.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's TIFF and other
# picture reader plugins, and libheif, opened on the first HEIF picture. (The
# FFmpeg backend of the movie preview is in libqt6multimedia6, which it finds.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins, libheif1 (>= 1.15)")
# On Wayland: the screenshot portal, and Qt's platform plugin for it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-desktop-portal, qt6-wayland, wl-clipboard")

include(CPack)
