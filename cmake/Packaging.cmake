# Installation and the Debian package.
#
#   cmake --install build --prefix <dir>     the program, its menu entry, icons
#                                            and AppStream metadata
#   (cd build && cpack -G DEB)               the same as a .deb
#
# The desktop files live in data/ under the application id below; the PNG
# icons there are renderings of the SVG (scripts/render-icons makes them).

include(GNUInstallDirs)

set(SELMARIN_APP_ID io.github.selmarin.Selmarin)
set(SELMARIN_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(SELMARIN_ICON_SIZES 16 24 32 48 64 128 256)

install(TARGETS selmarin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${SELMARIN_DATA_DIR}/${SELMARIN_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${SELMARIN_DATA_DIR}/${SELMARIN_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${SELMARIN_DATA_DIR}/${SELMARIN_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS SELMARIN_ICON_SIZES)
    install(FILES ${SELMARIN_DATA_DIR}/icons/${SELMARIN_APP_ID}-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${SELMARIN_APP_ID}.png)
endforeach()

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
                     -DDATA_DIR=${SELMARIN_DATA_DIR}
                     -DAPP_ID=${SELMARIN_APP_ID}
                     -P ${CMAKE_CURRENT_LIST_DIR}/ValidateDesktopFiles.cmake)
        set_tests_properties(desktop_files_validate PROPERTIES TIMEOUT 60)
    endif()
endif()

# Debian package
set(CPACK_PACKAGE_NAME selmarin)
set(CPACK_PACKAGE_VENDOR "The Selmarin developers")
set(CPACK_PACKAGE_CONTACT "The Selmarin developers <selmarin@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Test TCP and UDP connections between two hosts")
set(CPACK_PACKAGE_DESCRIPTION
    "Selmarin checks whether a path through the network works, one socket at a time: \
as a TCP or UDP client or server it shows every state change, every message sent \
or received and every failure, with status lights and a daily log file. Two copies \
test a path end to end with a once-a-second query and answer.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The shared libraries the program links decide the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
