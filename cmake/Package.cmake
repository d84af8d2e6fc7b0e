# The Debian package, built by scripts/package with `cpack -G DEB`: everything `cmake --install`
# puts in place, under /usr, with its dependencies found by dpkg-shlibdeps from the binaries.
# The desktop entry, film type and icons take effect through the triggers of the packages that
# own those databases (shared-mime-info, desktop-file-utils, hicolor-icon-theme), so the package
# needs no scripts of its own. The programs are stripped; the licence is the GNU GPL, version 3
# or later (SPDX-License-Identifier: GPL-3.0-or-later), stated in the package's copyright file.
set(VERIROVE_MAINTAINER "The veRirove project <verirove@example.org>"
    CACHE STRING "The package's maintainer, as \"Name <address>\"")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME verirove)
set(CPACK_PACKAGE_VENDOR "The veRirove project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VERIROVE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for screen-recording films")
set(CPACK_PACKAGE_DESCRIPTION
    "veRirove plays films recorded by the Telvori screen recorder: what happened on
a computer screen, with the mouse cursor, divided into named segments
(tutorials, lectures, support captures). It plays a film at its recorded speed
or faster and slower, lists its segments and jumps between them, seeks, plays
full screen, saves the picture on screen, exports the film to a video file, and
can be started on a film from scripts. Its interface is in Russian.
.
The package also has zrfilm, a command-line tool that lists a film's segments
(info), extracts its package (extract), writes its frames as PNG pictures
(frames, frame), makes thumbnails for file managers (thumbnail) and exports the
film to MP4, WebM, Matroska or GIF (export).")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The symbols are left out of the package.
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VERIROVE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Data the libraries do not show: Qt's Russian texts for its own dialogs and buttons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")

include(CPack)
