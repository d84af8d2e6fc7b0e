# The Debian package, built by scripts/package with `cpack -G DEB`: everything `cmake --install`
# puts in place, under /usr, with its dependencies found by dpkg-shlibdeps from the binaries.
# The desktop entry, film type and icons take effect through the triggers of the packages that
# own those databases (shared-mime-info, desktop-file-utils, hicolor-icon-theme), so the package
# needs no scripts of its own.
set(VERIROVE_MAINTAINER "The veRirove developers <verirove@users.noreply.github.com>"
    CACHE STRING "The package's maintainer, as \"Name <address>\"")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME verirove)
set(CPACK_PACKAGE_VENDOR "The veRirove developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VERIROVE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for screen-recording films")
set(CPACK_PACKAGE_DESCRIPTION
    "veRirove plays films recorded by the Telvori screen recorder: what happened on a
computer screen, with the mouse cursor, divided into named segments (tutorials,
lectures, support captures). It plays a film at its recorded speed or faster and
slower, lists its segments and jumps between them, seeks, plays full screen, saves
the picture on screen, and can be started on a film from scripts. Its interface is
in Russian.
.
The package also has zrfilm, a command-line tool that lists a film's segments,
extracts its package and writes its frames as PNG pictures.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VERIROVE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Data the libraries do not show: Qt's Russian texts for its own dialogs and buttons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")

include(CPack)
