# SPDX-FileCopyrightText: 2026 The Selmarin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# The version has one source: project(... VERSION ...) in the top
# CMakeLists.txt.  Code reads it from a generated header,
#
#   target_link_libraries(<target> PRIVATE selmarin_version)
#   #include "selmarin_version.h"        // SELMARIN_VERSION, e.g. "0.1.0"
#
# and the Debian package and the AppStream metadata take it from CMake
# (cmake/Packaging.cmake).  CHANGELOG.md must have a section for it.

set(SELMARIN_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/selmarin_version.h.in
               ${SELMARIN_GENERATED_DIR}/selmarin_version.h @ONLY)

add_library(selmarin_version INTERFACE)
target_include_directories(selmarin_version INTERFACE ${SELMARIN_GENERATED_DIR})
