# Writes the newest released section of CHANGELOG.md as a Debian changelog,
# compressed as Debian wants it (gzip -9n: no name, no time), to OUT.
#
#   cmake -DIN=CHANGELOG.md -DOUT=changelog.gz -DPACKAGE=glide
#         -DMAINTAINER="Name <address>" -DSOURCE_DIR=... -P debian-changelog.cmake
#
# The entry is dated by SOURCE_DATE_EPOCH, else by the last commit, else by
# the section's own date, so that the same sources give the same package.
file(STRINGS ${IN} lines ENCODING UTF-8)

set(version "")
set(items "")
foreach(line IN LISTS lines)
  if(line MATCHES "^## ")
    if(version)
      break()  # the next section
    endif()
    if(line MATCHES "^## ([0-9][^ ]*)( - ([0-9]+)-([0-9]+)-([0-9]+))?$")
      set(version ${CMAKE_MATCH_1})
      set(released_year ${CMAKE_MATCH_3})
      set(released_month ${CMAKE_MATCH_4})
      set(released_day ${CMAKE_MATCH_5})
    endif()
  elseif(version AND NOT line STREQUAL "")
    # Markdown's items become Debian's, two columns further in.
    string(REPLACE "`" "" line "${line}")
    if(line MATCHES "^- (.*)")
      set(line "  * ${CMAKE_MATCH_1}")
    else()
      string(STRIP "${line}" line)
      set(line "    ${line}")
    endif()
    string(LENGTH "${line}" length)
    if(length GREATER 80)
      message(FATAL_ERROR "${IN}: a line of release ${version} is too long for a Debian "
                          "changelog (at most 78 columns): ${line}")
    endif()
    string(APPEND items "${line}\n")
  endif()
endforeach()
if(NOT version OR items STREQUAL "")
  message(FATAL_ERROR "${IN} has no released section (\"## VERSION - YYYY-MM-DD\") with items")
endif()

if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  endif()
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
elseif(released_year)
  # No git (a source archive): midnight of the release's day. The weekday by
  # Sakamoto's method.
  math(EXPR m "${released_month}")
  set(y ${released_year})
  if(m LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  set(shifts 0 3 2 5 0 3 5 1 4 6 2 4)
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  math(EXPR m "${m} - 1")
  list(GET shifts ${m} shift)
  list(GET months ${m} month)
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${shift} + ${released_day}) % 7")
  list(GET weekdays ${weekday} weekday)
  set(date "${weekday}, ${released_day} ${month} ${released_year} 00:00:00 +0000")
else()
  message(FATAL_ERROR "no date for the Debian changelog: set SOURCE_DATE_EPOCH")
endif()

set(text "${PACKAGE} (${version}) unstable; urgency=medium\n\n${items}\n -- ${MAINTAINER}  ${date}\n")
# Rewritten only when it changes, so that a build with nothing new packs nothing new.
# The text beside it, in the same folder (OUT may name no folder at all).
string(REGEX REPLACE "\\.gz$" "" plain "${OUT}")
set(old "")
if(EXISTS ${plain} AND EXISTS ${OUT})
  file(READ ${plain} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${plain} "${text}")
  execute_process(COMMAND gzip -9n -c ${plain} OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${plain}")
  endif()
endif()
