# What the POSIX install carries beside the programs, in the form Debian's
# rules ask of a package: manual pages and a changelog compressed with
# gzip -9n (no name or time stamp inside, so two builds give the same
# bytes), the changelog in Debian's form, and the license as a
# machine-readable copyright file. Each is made when the project is
# configured, from the file it comes from; editing that file configures
# again.

set(DRAVONEL_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${DRAVONEL_DEBIAN_DIR})

function(dravonel_track source)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

function(dravonel_gzip input output)
  execute_process(COMMAND gzip -9n -c ${input} OUTPUT_FILE ${output} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${input}")
  endif()
endfunction()

# A manual page with the project's version in its title line, compressed.
function(dravonel_manual_page source)
  dravonel_track(${source})
  get_filename_component(name ${source} NAME)
  file(READ ${source} text)
  string(REGEX REPLACE "\"dravonel [0-9.]+\"" "\"dravonel ${PROJECT_VERSION}\"" text "${text}")
  file(WRITE ${DRAVONEL_DEBIAN_DIR}/${name} "${text}")
  dravonel_gzip(${DRAVONEL_DEBIAN_DIR}/${name} ${DRAVONEL_DEBIAN_DIR}/${name}.gz)
endfunction()

# "Wed, 09 Dec 2026 00:03:00 +0000" for "2026-12-09" and 3 minutes, as a
# Debian changelog trailer wants it; the weekday by Sakamoto's method.
function(dravonel_changelog_date iso_date minutes result)
  if(NOT iso_date MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
    message(FATAL_ERROR "CHANGELOG.md: \"${iso_date}\" is not a date of the form YYYY-MM-DD")
  endif()
  set(year ${CMAKE_MATCH_1})
  math(EXPR month "${CMAKE_MATCH_2}")  # drops a leading zero
  math(EXPR day "${CMAKE_MATCH_3}")
  set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(day_names Sun Mon Tue Wed Thu Fri Sat)
  math(EXPR index "${month} - 1")
  list(GET month_offsets ${index} offset)
  list(GET month_names ${index} month_name)
  set(y ${year})
  if(month LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  list(GET day_names ${weekday} day_name)
  math(EXPR minute_of_day "${minutes} % 1440")
  math(EXPR hour "${minute_of_day} / 60")
  math(EXPR minute "${minute_of_day} % 60")
  foreach(part hour minute)
    if(${part} LESS 10)
      set(${part} "0${${part}}")
    endif()
  endforeach()
  set(${result} "${day_name}, ${CMAKE_MATCH_3} ${month_name} ${year} ${hour}:${minute}:00 +0000" PARENT_SCOPE)
endfunction()

# CHANGELOG.md in Debian's form: "## 1.1.0 (2026-12-09)" opens an entry,
# "- " an item, a line indented by two spaces goes on with the item; the
# title and any other text are for readers of the Markdown only. The
# newest version is returned so that it can be checked against the
# project's.
function(dravonel_debian_changelog markdown output newest_version)
  dravonel_track(${markdown})
  file(READ ${markdown} text)
  # Lines as a CMake list: keep the text's own semicolons and brackets
  # from being read as list syntax.
  string(ASCII 1 semicolon)
  string(ASCII 2 open_bracket)
  string(ASCII 3 close_bracket)
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "[" "${open_bracket}" text "${text}")
  string(REPLACE "]" "${close_bracket}" text "${text}")
  string(REPLACE "`" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")

  # Debian wants each entry newer than the one below it, and a day may see
  # two releases: each entry gets a minute past midnight for every older
  # entry of the same day below it.
  set(dates "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^## [0-9]+\\.[0-9]+\\.[0-9]+ \\(([^)]*)\\)$")
      list(APPEND dates "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(debian "")
  set(trailer "")
  set(newest "")
  set(entry 0)
  foreach(line IN LISTS lines)
    if(line MATCHES "^## ([0-9]+\\.[0-9]+\\.[0-9]+) \\(([^)]*)\\)$")
      set(version ${CMAKE_MATCH_1})
      set(day "${CMAKE_MATCH_2}")
      set(minutes 0)
      list(LENGTH dates count)
      math(EXPR older "${entry} + 1")
      while(older LESS count)
        list(GET dates ${older} older_day)
        if(NOT older_day STREQUAL day)
          break()
        endif()
        math(EXPR minutes "${minutes} + 1")
        math(EXPR older "${older} + 1")
      endwhile()
      math(EXPR entry "${entry} + 1")
      dravonel_changelog_date("${day}" ${minutes} date)
      string(APPEND debian "${trailer}dravonel (${version}) unstable; urgency=medium\n\n")
      set(trailer "\n -- ${CPACK_PACKAGE_CONTACT}  ${date}\n\n")
      if(newest STREQUAL "")
        set(newest ${version})
      endif()
    elseif(line MATCHES "^- (.*)$" AND NOT trailer STREQUAL "")
      string(APPEND debian "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  ([^ ].*)$" AND NOT trailer STREQUAL "")
      string(APPEND debian "    ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
  string(APPEND debian "${trailer}")
  string(REGEX REPLACE "\n\n$" "\n" debian "${debian}")
  string(REPLACE "${semicolon}" ";" debian "${debian}")
  string(REPLACE "${open_bracket}" "[" debian "${debian}")
  string(REPLACE "${close_bracket}" "]" debian "${debian}")
  file(WRITE ${output} "${debian}")
  set(${newest_version} ${newest} PARENT_SCOPE)
endfunction()

# LICENSE as a copyright file in Debian's machine-readable format: the
# copyright line and the license text, indented, with "." for a blank line.
function(dravonel_debian_copyright license output)
  dravonel_track(${license})
  file(READ ${license} text)
  if(NOT text MATCHES "Copyright \\(c\\) ([^\n]+)\n")
    message(FATAL_ERROR "LICENSE: no copyright line")
  endif()
  set(holder "${CMAKE_MATCH_1}")
  string(FIND "${text}" "Permission is hereby granted" start)
  if(start LESS 0)
    message(FATAL_ERROR "LICENSE: not the MIT license text")
  endif()
  string(SUBSTRING "${text}" ${start} -1 body)
  string(STRIP "${body}" body)
  string(REPLACE "\n\n" "\n.\n" body "${body}")
  string(REPLACE "\n" "\n " body "${body}")
  file(WRITE ${output}
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: dravonel\n"
    "Upstream-Contact: ${CPACK_PACKAGE_CONTACT}\n"
    "\n"
    "Files: *\n"
    "Copyright: ${holder}\n"
    "License: Expat\n"
    " ${body}\n")
endfunction()

dravonel_manual_page(${PROJECT_SOURCE_DIR}/docs/dravonel.1)
dravonel_manual_page(${PROJECT_SOURCE_DIR}/docs/Cacls.1)
dravonel_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${DRAVONEL_DEBIAN_DIR}/changelog newest_version)
if(NOT newest_version STREQUAL PROJECT_VERSION)
  message(WARNING "CHANGELOG.md's newest entry is ${newest_version}, the project is ${PROJECT_VERSION}")
endif()
dravonel_gzip(${DRAVONEL_DEBIAN_DIR}/changelog ${DRAVONEL_DEBIAN_DIR}/changelog.gz)
dravonel_debian_copyright(${PROJECT_SOURCE_DIR}/LICENSE ${DRAVONEL_DEBIAN_DIR}/copyright)

install(FILES ${DRAVONEL_DEBIAN_DIR}/dravonel.1.gz ${DRAVONEL_DEBIAN_DIR}/Cacls.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The copyright file holds the license, where Debian looks for it.
install(FILES ${DRAVONEL_DEBIAN_DIR}/changelog.gz ${DRAVONEL_DEBIAN_DIR}/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
