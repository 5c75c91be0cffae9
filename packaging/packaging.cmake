# Everything about traffic_rate's packages, included by CMakeLists.txt once the
# command's target is known: the date from the changelog, the
# copyright file, and CPack's settings for the .deb, .rpm and .tar.gz.
#
# Takes from CMakeLists.txt traffic_rate_libc (glibc, musl or other) and
# traffic_rate_linked (static or dynamic); sets TRAFFIC_RATE_DATE, the
# changelog's date, and writes copyright into the build folder.  The version
# is read from the changelog by CMakeLists.txt.

# The manual pages are dated by the changelog's latest entry, as written in
# its trailer: " -- NAME <MAIL>  Wed, 09 Dec 2026 00:30:00 +0000" dates
# them 2026-12-09.  The packages' files are dated SOURCE_DATE_EPOCH, or,
# when it is not set, that time as date(1) reads it (see cpack.cmake).
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog changelog_trailer
     REGEX "^ -- " LIMIT_COUNT 1)
if(NOT changelog_trailer MATCHES
   ">  ([A-Z][a-z][a-z], [0-9]?[0-9] [A-Za-z]+ [0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] [-+][0-9][0-9][0-9][0-9])$")
  message(FATAL_ERROR "packaging/changelog: no date of Debian's form (Wed, 09 Dec 2026 00:30:00 +0000) in: ${changelog_trailer}")
endif()
set(date "${CMAKE_MATCH_1}")
string(REGEX REPLACE "[ ,:]+" ";" parts "${date}")
set(names weekday day month_name year hour minute second offset)
foreach(name value IN ZIP_LISTS names parts)
  set(${name} ${value})
endforeach()
set(time ${hour}:${minute}:${second})
string(SUBSTRING ${offset} 1 2 offset_hours)
string(SUBSTRING ${offset} 3 2 offset_minutes)
# The offset as a POSIX time zone, for date -d, whose sign is the other way.
if(offset MATCHES "^[+]")
  set(CPACK_TRAFFIC_RATE_CHANGELOG_ZONE "CHANGELOG-${offset_hours}:${offset_minutes}")
else()
  set(CPACK_TRAFFIC_RATE_CHANGELOG_ZONE "CHANGELOG+${offset_hours}:${offset_minutes}")
endif()
# A date that is no date, which dpkg-parsechangelog and date(1) would read as
# another one silently, fails here: the month, the day in it, the weekday
# (0 Sunday, by Sakamoto's rule), the time and the offset.
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
    set(not_a_date "no time ${time} (00:00:00 to 23:59:59)")
  elseif(offset_hours GREATER 14 OR offset_minutes GREATER 59)
    set(not_a_date "no offset from UTC ${offset} (up to 1400, minutes 00 to 59)")
  endif()
endif()
if(DEFINED not_a_date)
  # A leading space keeps CMake from breaking the line.
  message(FATAL_ERROR " packaging/changelog: '${date}' is not a real date: ${not_a_date}")
endif()
set(numbers 01 02 03 04 05 06 07 08 09 10 11 12)
list(GET numbers ${month} month)
if(day MATCHES "^[0-9]$")
  set(day 0${day})
endif()
set(TRAFFIC_RATE_DATE ${year}-${month}-${day})
set(CPACK_TRAFFIC_RATE_CHANGELOG_TIME "${TRAFFIC_RATE_DATE} ${time}")

# The copyright file names the C library too where it is linked in.
file(READ ${CMAKE_CURRENT_LIST_DIR}/copyright copyright)
if(traffic_rate_linked STREQUAL "static" AND traffic_rate_libc STREQUAL "glibc")
  file(READ ${CMAKE_CURRENT_LIST_DIR}/copyright-glibc.in glibc_notice)
  string(CONFIGURE "${glibc_notice}" glibc_notice @ONLY)
  string(APPEND copyright "\n" "${glibc_notice}")
elseif(traffic_rate_linked STREQUAL "static" AND traffic_rate_libc STREQUAL "musl")
  # musl's copyright file, as Debian's musl package ships it, less its header
  # and Debian's own files, its paths put under musl/.
  if(NOT EXISTS /usr/share/doc/musl/copyright)
    message(FATAL_ERROR "/usr/share/doc/musl/copyright, musl's notice, is missing (Debian: musl)")
  endif()
  execute_process(
      COMMAND awk -f ${CMAKE_CURRENT_LIST_DIR}/musl-notice.awk
              /usr/share/doc/musl/copyright
      OUTPUT_VARIABLE musl_notice COMMAND_ERROR_IS_FATAL ANY)
  string(APPEND copyright "\n" "${musl_notice}")
endif()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright.new "${copyright}")
configure_file(${CMAKE_CURRENT_BINARY_DIR}/copyright.new copyright COPYONLY)

# Package versions: the release, a static PIE against musl, is VERSION; any
# other build is VERSION~LIBC, or VERSION~LIBC.dynamic, so that no two
# different packages share a file name, and the release sorts above them.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(NOT (traffic_rate_libc STREQUAL "musl" AND traffic_rate_linked STREQUAL "static"))
  string(APPEND CPACK_PACKAGE_VERSION "~${traffic_rate_libc}")
  if(traffic_rate_linked STREQUAL "dynamic")
    string(APPEND CPACK_PACKAGE_VERSION ".dynamic")
  endif()
endif()

set(CPACK_PACKAGE_NAME traffic-rate) # Debian names allow no underscore
set(CPACK_PACKAGE_VENDOR "traffic_rate developers")
set(CPACK_PACKAGE_CONTACT "traffic_rate developers <traffic-rate@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION
    "traffic_rate takes two readings of a cumulative byte counter, such as an\n\
interface's rx_bytes, and the seconds between them, and prints the average\n\
rate in kilobits (1024 bits) per second. Readings of 64-bit counters are\n\
taken at full width, and a 32-bit counter that wrapped once is still\n\
measured right.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_PACKAGE_AUTOREQPROV OFF)
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/share/man/ko /usr/share/man/ko/man1)
# rpm installs a translation only where the system wants that language.
set(CPACK_RPM_USER_FILELIST "%lang(ko) /usr/share/man/ko/man1/traffic_rate.1.gz")
# The packager; no build host; the build time and file times from
# SOURCE_DATE_EPOCH; no /usr/lib/.build-id links, which serve debug-info
# packages, and there are none; and RPM's version 4 format, which rpm 6
# (Debian 14's) writes only when asked, and which every rpm and rpmlint reads.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${CPACK_PACKAGE_CONTACT}
%define _rpmformat 4
%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _build_id_links none")

# lintian takes a static PIE, an ELF object with no dependencies, for a
# library; the .deb alone carries the override that says why.
if(traffic_rate_linked STREQUAL "static")
  set(CPACK_TRAFFIC_RATE_LINTIAN_OVERRIDES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides)
endif()
# The source release is packaging/release.sh's, from the committed tree;
# CPack's packs the work tree, the build folders left out.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME traffic_rate-${PROJECT_VERSION}-Source)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/dist/")
# Reproducible packages: see cpack.cmake.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack.cmake)
set(CPACK_TRAFFIC_RATE_SOURCE_DIR ${PROJECT_SOURCE_DIR})
# The architecture packed for is worked out there, when packages are made.
set(CPACK_TRAFFIC_RATE_ARCH "${TRAFFIC_RATE_ARCH}")
set(CPACK_TRAFFIC_RATE_COMPILER "${CMAKE_CXX_COMPILER}")
include(CPack)
