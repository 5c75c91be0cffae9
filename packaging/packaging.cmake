# Everything about traffic_rate's packages, included by CMakeLists.txt once the
# command's target is known: the date from the changelog, the
# copyright file, and CPack's settings for the .deb, .rpm and .tar.gz.
#
# Takes from CMakeLists.txt traffic_rate_libc (glibc, musl or other) and
# traffic_rate_linked (static or dynamic), and from changelog.cmake the
# latest entry's date; sets TRAFFIC_RATE_DATE, the date of the manual pages,
# and writes copyright into the build folder.

# The manual pages are dated by the changelog's latest entry, and the
# packages' files by SOURCE_DATE_EPOCH, by default that entry's time.
set(TRAFFIC_RATE_DATE ${changelog_date})
set(CPACK_TRAFFIC_RATE_TIMESTAMP ${changelog_timestamp})

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
