# SPDX-FileCopyrightText: 2026 The Selmarin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Installation and the Debian package.
#
#   cmake --install build --prefix <dir>     the program, its menu entry, icons
#                                            and AppStream metadata
#   (cd build && cpack -G DEB)               the same as a .deb
#
# The desktop files live in data/ under the application id below; the PNG
# icons there are renderings of the SVG (scripts/render-icons makes them).
# The AppStream metadata and the Debian changelog are made from CHANGELOG.md
# (cmake/ReleaseNotes.cmake); tests/packaging/check-deb builds the .deb and
# checks it.

include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/ReleaseNotes.cmake)

set(SELMARIN_APP_ID io.github.selmarin.Selmarin)
set(SELMARIN_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(SELMARIN_ICON_SIZES 16 24 32 48 64 128 256)
set(SELMARIN_METAINFO ${PROJECT_BINARY_DIR}/data/${SELMARIN_APP_ID}.metainfo.xml)
configure_file(${SELMARIN_DATA_DIR}/${SELMARIN_APP_ID}.metainfo.xml.in ${SELMARIN_METAINFO} @ONLY)

# Debian's changelog, compressed without a name or time stamp so the same
# notes give the same file.  Both are only rewritten when the notes change.
set(SELMARIN_CHANGELOG ${PROJECT_BINARY_DIR}/packaging/changelog)
string(STRIP "${SELMARIN_DEBIAN_CHANGELOG}" _changelog_text)
file(WRITE ${SELMARIN_CHANGELOG}.new "${_changelog_text}\n")
configure_file(${SELMARIN_CHANGELOG}.new ${SELMARIN_CHANGELOG} COPYONLY)
if(NOT EXISTS ${SELMARIN_CHANGELOG}.gz OR ${SELMARIN_CHANGELOG} IS_NEWER_THAN ${SELMARIN_CHANGELOG}.gz)
    execute_process(COMMAND gzip -9nc ${SELMARIN_CHANGELOG}
                    OUTPUT_FILE ${SELMARIN_CHANGELOG}.gz RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "gzip could not compress ${SELMARIN_CHANGELOG}")
    endif()
endif()

# Directories made by the install are world-readable whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS selmarin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The manual page, compressed as Debian wants it (gzip -9n: no name, no time).
set(SELMARIN_MANPAGE ${PROJECT_BINARY_DIR}/packaging/selmarin.1.gz)
if(NOT EXISTS ${SELMARIN_MANPAGE} OR ${SELMARIN_DATA_DIR}/selmarin.1 IS_NEWER_THAN ${SELMARIN_MANPAGE})
    file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
    execute_process(COMMAND gzip -9nc ${SELMARIN_DATA_DIR}/selmarin.1
                    OUTPUT_FILE ${SELMARIN_MANPAGE} RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "gzip could not compress the manual page")
    endif()
endif()
install(FILES ${SELMARIN_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${SELMARIN_DATA_DIR}/${SELMARIN_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${SELMARIN_METAINFO}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${SELMARIN_DATA_DIR}/${SELMARIN_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS SELMARIN_ICON_SIZES)
    install(FILES ${SELMARIN_DATA_DIR}/icons/${SELMARIN_APP_ID}-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${SELMARIN_APP_ID}.png)
endforeach()
# The package name, not the project name, names the documentation folder.
install(FILES ${SELMARIN_DATA_DIR}/copyright ${SELMARIN_CHANGELOG}.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/selmarin)

# The services (data/service): a unit each for the probe and the responder,
# their /etc/default files, example configurations and the drop-in for a
# responder on a port below 1024.  Their paths are the system's whatever the
# prefix, and the units start /usr/bin/selmarin: only the package carries
# them (the component is left out of a plain `cmake --install`).  Debian 12
# keeps the units of packages in /lib/systemd/system.
set(SELMARIN_SERVICE_DIR ${SELMARIN_DATA_DIR}/service)
set(SELMARIN_UNIT_DIR /lib/systemd/system)
install(FILES ${SELMARIN_SERVICE_DIR}/selmarin-probe.service ${SELMARIN_SERVICE_DIR}/selmarin-respond.service
        DESTINATION ${SELMARIN_UNIT_DIR} COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${SELMARIN_SERVICE_DIR}/probe.yaml ${SELMARIN_SERVICE_DIR}/respond.yaml
        DESTINATION /etc/selmarin COMPONENT service EXCLUDE_FROM_ALL)
foreach(command IN ITEMS probe respond)
    install(FILES ${SELMARIN_SERVICE_DIR}/selmarin-${command}.default DESTINATION /etc/default
            RENAME selmarin-${command} COMPONENT service EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${SELMARIN_SERVICE_DIR}/low-ports.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/selmarin COMPONENT service EXCLUDE_FROM_ALL)
# Every file under /etc is the administrator's once installed: dpkg keeps
# their changes on upgrades (conffiles).
set(SELMARIN_CONFFILES /etc/selmarin/probe.yaml /etc/selmarin/respond.yaml
    /etc/default/selmarin-probe /etc/default/selmarin-respond)
list(JOIN SELMARIN_CONFFILES "\n" _conffiles)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles.new "${_conffiles}\n")
configure_file(${PROJECT_BINARY_DIR}/packaging/conffiles.new ${PROJECT_BINARY_DIR}/packaging/conffiles COPYONLY)

# The menu entry and the metadata must pass the desktop's own validators; the
# test runs only where the validators are installed (scripts/ensure-deps
# installs them).
if(SELMARIN_BUILD_TESTS)
    find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
    find_program(APPSTREAMCLI appstreamcli)
    if(DESKTOP_FILE_VALIDATE AND APPSTREAMCLI)
        add_test(NAME desktop_files_validate
                 COMMAND ${CMAKE_COMMAND}
                     -DDESKTOP_FILE_VALIDATE=${DESKTOP_FILE_VALIDATE}
                     -DAPPSTREAMCLI=${APPSTREAMCLI}
                     -DDESKTOP_FILE=${SELMARIN_DATA_DIR}/${SELMARIN_APP_ID}.desktop
                     -DMETAINFO=${SELMARIN_METAINFO}
                     -P ${CMAKE_CURRENT_LIST_DIR}/ValidateDesktopFiles.cmake)
        set_tests_properties(desktop_files_validate PROPERTIES TIMEOUT 60)
    endif()
endif()

# Debian package.  The description's lines are shown as they are written
# here: keep them within 79 columns.
set(CPACK_PACKAGE_NAME selmarin)
set(CPACK_PACKAGE_VENDOR "The Selmarin developers")
set(CPACK_PACKAGE_CONTACT "The Selmarin developers <selmarin@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Test TCP and UDP connections between two hosts")
set(CPACK_PACKAGE_DESCRIPTION
"Selmarin checks whether a path through the network works, one socket at a
time: as a TCP or UDP client or server it shows every state change, every
message sent or received and every failure, with status lights and a daily
log file. Two copies test a path end to end with a once-a-second query and
answer.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The shared libraries the program links decide the package's dependencies
# (dpkg-shlibdeps); the window's fonts fall back to DejaVu.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-core)
# The maintainer scripts make the services' system user (adduser) and tell
# systemd of the units; the conffiles list the files under /etc.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles
    ${SELMARIN_DATA_DIR}/debian/postinst ${SELMARIN_DATA_DIR}/debian/prerm
    ${SELMARIN_DATA_DIR}/debian/postrm)
# The control files get the modes Debian asks for, not those of the build tree.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Everything a plain install installs, and the services.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};Selmarin;ALL;/;${PROJECT_BINARY_DIR};Selmarin;service;/")
include(CPack)
