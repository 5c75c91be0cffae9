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
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
if(NOT changelog_trailer MATCHES
   ">  [A-Z][a-z][a-z], ([0-9]?[0-9]) ([A-Za-z]+) ([0-9][0-9][0-9][0-9]) ([0-9][0-9]:[0-9][0-9]:[0-9][0-9]) ([-+])([0-9][0-9])([0-9][0-9])$")
  message(FATAL_ERROR "packaging/changelog: no date of Debian's form (Wed, 09 Dec 2026 00:30:00 +0000) in: ${changelog_trailer}")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
set(time ${CMAKE_MATCH_4})
# The offset as a POSIX time zone, for date -d, whose sign is the other way.
if(CMAKE_MATCH_5 STREQUAL "+")
  set(CPACK_TRAFFIC_RATE_CHANGELOG_ZONE "CHANGELOG-${CMAKE_MATCH_6}:${CMAKE_MATCH_7}")
else()
  set(CPACK_TRAFFIC_RATE_CHANGELOG_ZONE "CHANGELOG+${CMAKE_MATCH_6}:${CMAKE_MATCH_7}")
endif()
list(FIND months ${CMAKE_MATCH_2} month)
if(month EQUAL -1)
  message(FATAL_ERROR "packaging/changelog: no month '${CMAKE_MATCH_2}' (Jan to Dec) in: ${changelog_trailer}")
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
