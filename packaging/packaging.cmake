# Everything about traffic_rate's packages, included by CMakeLists.txt once the
# command's target is known: the version and date from the changelog, the
# copyright file, and CPack's settings for the .deb, .rpm and .tar.gz.
#
# Takes from CMakeLists.txt traffic_rate_libc (glibc, musl or other) and
# traffic_rate_linked (static or dynamic); sets TRAFFIC_RATE_DATE, the
# changelog's date, and writes copyright into the build folder.

# The changelog's latest entry must name the version being built.  Its date
# dates the manual page, and the packages' files when SOURCE_DATE_EPOCH is
# not set, as Debian's own tools do.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^traffic-rate \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog does not begin with version ${PROJECT_VERSION}")
endif()
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog changelog_trailer
     REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE "^.*>  " "" changelog_date "${changelog_trailer}")
execute_process(COMMAND date -u -d "${changelog_date}" +%s
                OUTPUT_VARIABLE changelog_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u -d @${changelog_epoch} +%Y-%m-%d
                OUTPUT_VARIABLE TRAFFIC_RATE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(CPACK_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  set(CPACK_SOURCE_DATE_EPOCH ${changelog_epoch})
endif()

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

# The architecture packed for: the one built for, by its Debian name, and its
# RPM name from the table of release architectures.
if(TRAFFIC_RATE_ARCH)
  set(package_arch ${TRAFFIC_RATE_ARCH})
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE package_arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${package_arch})
file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/architectures.txt architecture_row
     REGEX "^${package_arch}[ \t]")
if(architecture_row MATCHES "^[^ \t]+[ \t]+([^ \t]+)")
  set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_MATCH_1})
endif()

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
set(CPACK_PACKAGE_FILE_NAME traffic_rate-${CPACK_PACKAGE_VERSION}-linux-${package_arch})
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
# SOURCE_DATE_EPOCH; and no /usr/lib/.build-id links, which serve debug-info
# packages, and there are none.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${CPACK_PACKAGE_CONTACT}
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
include(CPack)
