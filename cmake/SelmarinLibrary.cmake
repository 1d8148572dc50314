# SPDX-FileCopyrightText: 2026 The Selmarin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# selmarin_library(<folder> SOURCES <files...> [PUBLIC <libraries...>] [PRIVATE <libraries...>])
#
# Makes the folder src/<folder> the static library selmarin_<folder>.  Other
# code reaches its headers as "<folder>/<header>.h", and only when it links
# the library: the library's include root holds a link to this one folder and
# nothing else.  PUBLIC names the libraries its own headers include (its
# users reach them too); PRIVATE those only its sources use, whose headers
# its users do not get.  So an include that runs against the declared
# dependencies (upwards, sideways into a library that was not declared, or
# through a library that uses another privately) fails to build.
function(selmarin_library folder)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
    set(target selmarin_${folder})
    add_library(${target} STATIC ${ARG_SOURCES})
    set(root ${PROJECT_BINARY_DIR}/include/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    target_include_directories(${target} PUBLIC ${root})
    target_link_libraries(${target} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE} selmarin_options)
endfunction()
