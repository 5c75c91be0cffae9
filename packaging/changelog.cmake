# The one reader of packaging/changelog, whose latest entry is the release:
# its version, distribution, maintainer and date.  Included by
# CMakeLists.txt, it sets changelog_version, changelog_date (2026-12-09) and
# changelog_timestamp (seconds since 1970, UTC), and fails on an entry it
# cannot read or a date that is no date.  Run as a script, it prints the
# fields, one a line, or the value of the one named:
#
#   cmake [-DCHANGELOG=FILE] [-DFIELD=NAME] -P packaging/changelog.cmake
#   Version: 1.1.0
#   Distribution: unstable
#   Maintainer: NAME <MAIL>
#   Date: Wed, 09 Dec 2026 00:30:00 +0000
#   Timestamp: 1796776200
if(NOT CHANGELOG)
  set(CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/changelog)
endif()
file(STRINGS ${CHANGELOG} changelog_head LIMIT_COUNT 1 ENCODING UTF-8)
if(NOT changelog_head MATCHES "^traffic-rate \\(([0-9]+\\.[0-9]+\\.[0-9]+(\\.[0-9]+)?)\\) ([A-Za-z-]+)\\\\?;")
  message(FATAL_ERROR " ${CHANGELOG}: the first line names no version X.Y.Z or X.Y.Z.W and distribution: ${changelog_head}")
endif()
set(changelog_version ${CMAKE_MATCH_1})
set(changelog_distribution ${CMAKE_MATCH_3})

# The entry's trailer: " -- NAME <MAIL>  Wed, 09 Dec 2026 00:30:00 +0000".
file(STRINGS ${CHANGELOG} changelog_trailer REGEX "^ -- " LIMIT_COUNT 1 ENCODING UTF-8)
if(NOT changelog_trailer MATCHES
   "^ -- (.+ <[^>]+>)  ([A-Z][a-z][a-z], [0-9]?[0-9] [A-Za-z]+ [0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] [-+][0-9][0-9][0-9][0-9])$")
  message(FATAL_ERROR " ${CHANGELOG}: no maintainer and date of Debian's form (NAME <MAIL>  Wed, 09 Dec 2026 00:30:00 +0000) in: ${changelog_trailer}")
endif()
set(changelog_maintainer "${CMAKE_MATCH_1}")
set(date "${CMAKE_MATCH_2}")
string(REGEX REPLACE "[ ,:]+" ";" parts "${date}")
set(names weekday day month_name year hour minute second offset)
foreach(name value IN ZIP_LISTS names parts)
  set(${name} ${value})
endforeach()
string(SUBSTRING ${offset} 1 2 offset_hours)
string(SUBSTRING ${offset} 3 2 offset_minutes)
# A date that is no date, which other readers would take as another one
# silently, fails here: the month, the day in it, the weekday (0 Sunday, by
# Sakamoto's rule), the time and the offset.
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${month_name} month)
if(month EQUAL -1)
  set(not_a_date "no month '${month_name}' (Jan to Dec)")
else()
  set(lengths 31 28 31 30 31 30 31 31 30 31 30 31)
  list(GET lengths ${month} length)
  math(EXPR by4 "${year} % 4")
  math(EXPR by100 "${year} % 100")
  math(EXPR by400 "${year} % 400")
  if(month EQUAL 1 AND (by400 EQUAL 0 OR (by4 EQUAL 0 AND NOT by100 EQUAL 0)))
    set(length 29)
  endif()
  set(y ${year})
  if(month LESS 2)
    math(EXPR y "${year} - 1")
  endif()
  set(shifts 0 3 2 5 0 3 5 1 4 6 2 4)
  list(GET shifts ${month} shift)
  math(EXPR weekday_number "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${shift} + ${day}) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  list(GET weekdays ${weekday_number} right_weekday)
  if(day LESS 1 OR day GREATER length)
    set(not_a_date "${month_name} ${year} has days 1 to ${length}")
  elseif(NOT weekday STREQUAL right_weekday)
    set(not_a_date "${day} ${month_name} ${year} is a ${right_weekday}, not a ${weekday}")
  elseif(hour GREATER 23 OR minute GREATER 59 OR second GREATER 59)
    set(not_a_date "no time ${hour}:${minute}:${second} (00:00:00 to 23:59:59)")
  elseif(offset_hours GREATER 14 OR offset_minutes GREATER 59)
    set(not_a_date "no offset from UTC ${offset} (up to 1400, minutes 00 to 59)")
  endif()
endif()
if(DEFINED not_a_date)
  # A leading space keeps CMake from breaking the line.
  message(FATAL_ERROR " ${CHANGELOG}: '${date}' is not a real date: ${not_a_date}")
endif()

# The days since 1970-01-01 of a civil date (years from March, so that the
# leap day comes last), then the seconds, less the offset from UTC.
math(EXPR month_number "${month} + 1")
set(y ${year})
if(month_number LESS_EQUAL 2)
  math(EXPR y "${year} - 1")
endif()
math(EXPR year_of_era "${y} % 400")
math(EXPR day_of_year "(153 * ((${month_number} + 9) % 12) + 2) / 5 + ${day} - 1")
math(EXPR day_of_era "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
math(EXPR days "${y} / 400 * 146097 + ${day_of_era} - 719468")
math(EXPR offset_seconds "${offset_hours} * 3600 + ${offset_minutes} * 60")
if(offset MATCHES "^-")
  math(EXPR offset_seconds "-${offset_seconds}")
endif()
math(EXPR changelog_timestamp
     "${days} * 86400 + ${hour} * 3600 + ${minute} * 60 + ${second} - ${offset_seconds}")
string(REGEX REPLACE "^0?([0-9][0-9])$" "\\1" padded_month "0${month_number}")
string(REGEX REPLACE "^0?([0-9][0-9])$" "\\1" padded_day "0${day}")
set(changelog_date ${year}-${padded_month}-${padded_day})

if(CMAKE_SCRIPT_MODE_FILE)
  set(fields "Version: ${changelog_version}
Distribution: ${changelog_distribution}
Maintainer: ${changelog_maintainer}
Date: ${date}
Timestamp: ${changelog_timestamp}")
  if(FIELD)
    string(REGEX MATCH "(^|\n)${FIELD}: [^\n]*" fields "${fields}")
    string(REGEX REPLACE "^\n?${FIELD}: " "" fields "${fields}")
    if(fields STREQUAL "")
      message(FATAL_ERROR " packaging/changelog.cmake: no field '${FIELD}'")
    endif()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${fields}")
endif()
