# SPDX-FileCopyrightText: 2026 The Selmarin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Runs the desktop's validators on the menu entry and the AppStream metadata.
# Called by CTest (see Packaging.cmake) with DESKTOP_FILE_VALIDATE,
# APPSTREAMCLI, DESKTOP_FILE and METAINFO set.

execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${DESKTOP_FILE}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
# desktop-file-validate exits 0 on hints and warnings too: any output fails.
if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate (${rc}):\n${out}")
endif()

execute_process(COMMAND ${APPSTREAMCLI} validate --no-net --explain ${METAINFO}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate (${rc}):\n${out}")
endif()
message(STATUS "Desktop files valid:\n${out}")
