# SPDX-License-Identifier: GPL-3.0-or-later
# Release notes kept once, in NEWS.md, and turned at configure time into
# what the package and the software centre read: the Debian changelog
# (installed compressed as share/doc/quorvex/changelog.gz) and the
# <release> elements of the metainfo.
#
# NEWS.md's form: "## VERSION (YYYY-MM-DD)" opens an entry; each item is a
# line "- text", continued by lines indented two spaces. Anything else
# inside an entry stops the configuration, as does a newest entry whose
# version or date differ from the project's.

# Day of the week (Sun..Sat) of a Gregorian date, by Sakamoto's method.
function(_quorvex_weekday year month day out)
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR m "${month} - 1")
  list(GET offsets ${m} t)
  if(month LESS 3)
    math(EXPR year "${year} - 1")
  endif()
  math(EXPR dow "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${t} + ${day}) % 7")
  set(names Sun Mon Tue Wed Thu Fri Sat)
  list(GET names ${dow} name)
  set(${out} ${name} PARENT_SCOPE)
endfunction()

# quorvex_release_epoch(<out>): QUORVEX_RELEASE_DATE (YYYY-MM-DD) at noon
# UTC in seconds since 1970, for tools that date what they make.
function(quorvex_release_epoch out)
  string(REGEX MATCH "^([0-9]+)-0*([0-9]+)-0*([0-9]+)$" _ "${QUORVEX_RELEASE_DATE}")
  set(y ${CMAKE_MATCH_1})
  set(m ${CMAKE_MATCH_2})
  set(d ${CMAKE_MATCH_3})
  # Days from the civil date (H. Hinnant's algorithm), years starting in March.
  if(m LESS 3)
    math(EXPR y "${y} - 1")
    math(EXPR mp "${m} + 9")
  else()
    math(EXPR mp "${m} - 3")
  endif()
  math(EXPR era "${y} / 400")
  math(EXPR yoe "${y} - ${era} * 400")
  math(EXPR doy "(153 * ${mp} + 2) / 5 + ${d} - 1")
  math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + ${doy}")
  math(EXPR days "${era} * 146097 + ${doe} - 719468")
  math(EXPR seconds "${days} * 86400 + 43200")
  set(${out} ${seconds} PARENT_SCOPE)
endfunction()

# quorvex_news(<NEWS.md> <changelog to write> <maintainer> <version> <date>)
# Writes the plain Debian changelog and sets QUORVEX_RELEASES_XML in the
# caller's scope.
function(quorvex_news news changelog maintainer version date)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${news})
  # Read whole and split by hand: a semicolon in the text stays text.
  file(READ ${news} content)
  string(ASCII 1 semicolon)
  string(REPLACE ";" "${semicolon}" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(text "")
  set(xml "")
  set(entry "")       # version of the entry being read
  set(item "")        # the item being read, its lines joined by blanks
  set(entries 0)

  # Appends the item being read to the XML; the changelog has it already.
  macro(_close_item)
    if(NOT item STREQUAL "")
      string(REPLACE "&" "&amp;" item "${item}")
      string(REPLACE "<" "&lt;" item "${item}")
      string(REPLACE ">" "&gt;" item "${item}")
      string(APPEND xml "          <li>${item}</li>\n")
      set(item "")
    endif()
  endmacro()
  macro(_close_entry)
    _close_item()
    if(NOT entry STREQUAL "")
      string(APPEND text "\n -- ${maintainer}  ${entry_date}\n")
      string(APPEND xml "        </ul>\n      </description>\n    </release>\n")
    endif()
  endmacro()

  foreach(line IN LISTS lines)
    string(REPLACE "`" "" line "${line}")
    if(line MATCHES "^## ([^ ]+) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)$")
      _close_entry()
      set(entry ${CMAKE_MATCH_1})
      set(y ${CMAKE_MATCH_2})
      set(mo ${CMAKE_MATCH_3})
      set(d ${CMAKE_MATCH_4})
      if(entries EQUAL 0 AND NOT (entry STREQUAL version AND "${y}-${mo}-${d}" STREQUAL date))
        message(FATAL_ERROR "${news}: the newest entry is ${entry} of ${y}-${mo}-${d}; "
                            "the project says ${version} of ${date}")
      endif()
      math(EXPR entries "${entries} + 1")
      math(EXPR m "${mo} - 1")
      list(GET months ${m} month_name)
      _quorvex_weekday(${y} ${mo} ${d} weekday)
      set(entry_date "${weekday}, ${d} ${month_name} ${y} 12:00:00 +0000")
      if(entries GREATER 1)
        string(APPEND text "\n")
      endif()
      string(APPEND text "quorvex (${entry}) unstable; urgency=medium\n\n")
      string(APPEND xml "    <release version=\"${entry}\" date=\"${y}-${mo}-${d}\">\n"
                        "      <description>\n        <ul>\n")
    elseif(NOT entry STREQUAL "" AND line MATCHES "^- (.+)$")
      _close_item()
      set(item "${CMAKE_MATCH_1}")
      string(APPEND text "  * ${CMAKE_MATCH_1}\n")
    elseif(NOT item STREQUAL "" AND line MATCHES "^  ([^ ].*)$")
      string(APPEND item " ${CMAKE_MATCH_1}")
      string(APPEND text "    ${CMAKE_MATCH_1}\n")
    elseif(NOT entry STREQUAL "" AND NOT line STREQUAL "")
      message(FATAL_ERROR "${news}: not an item nor its continuation: '${line}'")
    endif()
  endforeach()
  _close_entry()
  if(entries EQUAL 0)
    message(FATAL_ERROR "${news}: no entry \"## VERSION (YYYY-MM-DD)\"")
  endif()
  string(REPLACE "${semicolon}" ";" text "${text}")
  string(REPLACE "${semicolon}" ";" xml "${xml}")
  # Rewritten only when it changes, so the package is not rebuilt for nothing.
  file(WRITE ${changelog}.new "${text}")
  configure_file(${changelog}.new ${changelog} COPYONLY)
  set(QUORVEX_RELEASES_XML "${xml}" PARENT_SCOPE)
endfunction()
