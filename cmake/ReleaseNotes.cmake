# SPDX-FileCopyrightText: 2026 The Selmarin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Reads the release sections of CHANGELOG.md (Keep a Changelog form:
# "## [1.2.3] - YYYY-MM-DD", then "- " items, continued on lines indented by
# two spaces) and sets, for the packages:
#
#   SELMARIN_RELEASE_DATE        the date of the section for PROJECT_VERSION
#   SELMARIN_APPSTREAM_RELEASES  one <release> element per section, newest first
#   SELMARIN_DEBIAN_CHANGELOG    the same sections as a Debian changelog
#
# "### Added" and the like group the items in CHANGELOG.md only; the packages
# list the items as they come.  The [Unreleased] section is not read.  A
# project version without its own section stops the configure, so a version
# change and its notes go together.

set(_notes_file ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_notes_file})
set(_deb_package selmarin)
set(_deb_maintainer "The Selmarin developers <selmarin@example.org>")

# CMake lists are split at ';' and grouped by brackets, and a backslash escapes:
# those characters travel through the list as stand-ins.
string(ASCII 1 _semi)
string(ASCII 2 _open)
string(ASCII 3 _close)
string(ASCII 4 _bslash)
function(_notes_restore var text)
    string(REPLACE "${_semi}" ";" text "${text}")
    string(REPLACE "${_open}" "[" text "${text}")
    string(REPLACE "${_close}" "]" text "${text}")
    string(REPLACE "${_bslash}" "\\" text "${text}")
    set(${var} "${text}" PARENT_SCOPE)
endfunction()

# Item text as plain words: code spans and emphasis lose their marks.
function(_notes_plain var text)
    string(REPLACE "`" "" text "${text}")
    string(REPLACE "**" "" text "${text}")
    string(STRIP "${text}" text)
    set(${var} "${text}" PARENT_SCOPE)
endfunction()

# Wraps TEXT to WIDTH columns: the first line after FIRST, the others after
# REST.
function(_notes_wrap var text width first rest)
    string(REGEX REPLACE " +" ";" words "${text}")
    set(out "")
    set(line "${first}")
    set(fresh TRUE)
    foreach(word IN LISTS words)
        string(LENGTH "${line} ${word}" len)
        if(fresh)
            string(APPEND line "${word}")
            set(fresh FALSE)
        elseif(len GREATER width)
            string(APPEND out "${line}\n")
            set(line "${rest}${word}")
        else()
            string(APPEND line " ${word}")
        endif()
    endforeach()
    set(${var} "${out}${line}\n" PARENT_SCOPE)
endfunction()

function(_notes_xml_escape var text)
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE ">" "&gt;" text "${text}")
    set(${var} "${text}" PARENT_SCOPE)
endfunction()

file(READ ${_notes_file} _notes)
string(REPLACE ";" "${_semi}" _notes "${_notes}")
string(REPLACE "[" "${_open}" _notes "${_notes}")
string(REPLACE "]" "${_close}" _notes "${_notes}")
string(REPLACE "\\" "${_bslash}" _notes "${_notes}")
string(REPLACE "\n" ";" _notes "${_notes}")
# A last empty line closes the last item and section.
list(APPEND _notes "## end")

set(SELMARIN_RELEASE_DATE "")
set(SELMARIN_APPSTREAM_RELEASES "")
set(SELMARIN_DEBIAN_CHANGELOG "")
set(_version "")
set(_deb_items "")
set(_xml_items "")
set(_item "")
set(_items "")
foreach(_line IN LISTS _notes)
    # An item ends at the next item, a blank line or a heading.
    if(NOT _item STREQUAL "" AND NOT _line MATCHES "^  +[^ ]")
        _notes_plain(_item "${_item}")
        _notes_wrap(_deb "${_item}" 80 "  * " "    ")
        _notes_restore(_deb "${_deb}")
        _notes_xml_escape(_xml "${_item}")
        _notes_restore(_xml "${_xml}")
        string(APPEND _deb_items "${_deb}")
        string(APPEND _xml_items "          <li>${_xml}</li>\n")
        set(_item "")
    endif()

    if(_line MATCHES "^## ")
        if(NOT _version STREQUAL "")
            execute_process(COMMAND date -u -R -d "${_date} 12:00"
                            OUTPUT_VARIABLE _rfc_date OUTPUT_STRIP_TRAILING_WHITESPACE
                            RESULT_VARIABLE _rc)
            if(NOT _rc EQUAL 0)
                message(FATAL_ERROR "CHANGELOG.md: ${_date} for ${_version} is not a date")
            endif()
            string(APPEND SELMARIN_DEBIAN_CHANGELOG
                "${_deb_package} (${_version}) unstable; urgency=medium\n\n"
                "${_deb_items}\n -- ${_deb_maintainer}  ${_rfc_date}\n\n")
            string(APPEND SELMARIN_APPSTREAM_RELEASES
                "    <release version=\"${_version}\" date=\"${_date}\">\n"
                "      <description>\n        <ul>\n${_xml_items}        </ul>\n"
                "      </description>\n    </release>\n")
            if(_version STREQUAL PROJECT_VERSION)
                set(SELMARIN_RELEASE_DATE ${_date})
            endif()
        endif()
        set(_version "")
        set(_deb_items "")
        set(_xml_items "")
        if(_line MATCHES "^## ${_open}([0-9][^ ]*)${_close} - ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
            set(_version ${CMAKE_MATCH_1})
            set(_date ${CMAKE_MATCH_2})
        endif()
    elseif(NOT _version STREQUAL "" AND _line MATCHES "^- (.*)")
        set(_item "${CMAKE_MATCH_1}")
    elseif(NOT _item STREQUAL "" AND _line MATCHES "^  +(.*)")
        string(APPEND _item " ${CMAKE_MATCH_1}")
    endif()
endforeach()

if(NOT SELMARIN_RELEASE_DATE)
    message(FATAL_ERROR "CHANGELOG.md has no section \"## [${PROJECT_VERSION}] - YYYY-MM-DD\" "
                        "for the project version ${PROJECT_VERSION}")
endif()
