# Read by cpack before each generator runs: the architecture packed for, and
# what makes the packages reproducible: the same bytes from the same source,
# whatever the build folder, the time, the umask, the user or the file
# system's order.

# CPack's source package is only the work tree, packed as it is.
if(CPACK_SOURCE_INSTALLED_DIRECTORIES)
  return()
endif()

# Every time stamp in the packages is SOURCE_DATE_EPOCH, by default the time
# of the changelog's latest entry.  CPack's own archives, dpkg-deb and
# rpmbuild read it from the environment.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_TRAFFIC_RATE_TIMESTAMP})
endif()

# The architecture packed for, by its Debian name: the one built for, else
# what dpkg says, else the compiler's own target.  Its RPM name comes from
# the table of release architectures.
set(arch "${CPACK_TRAFFIC_RATE_ARCH}")
find_program(DPKG dpkg)
if(NOT arch AND DPKG)
  execute_process(COMMAND ${DPKG} --print-architecture OUTPUT_VARIABLE arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
elseif(NOT arch)
  execute_process(COMMAND ${CPACK_TRAFFIC_RATE_COMPILER} -dumpmachine
                  OUTPUT_VARIABLE target OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  # CPU-...-ABI as the compiler names it, and Debian's name for it.
  foreach(pair "^x86_64-.*x32$=x32" "^x86_64-=amd64" "^i[3-6]86-=i386"
               "^aarch64-=arm64" "^arm.*hf$=armhf" "^armv7.*-=armhf" "^arm=armel"
               "^powerpc64le-=ppc64el" "^loongarch64-=loong64" "^mips64el-=mips64el")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 pattern)
    if(target MATCHES "${pattern}")
      list(GET pair 1 arch)
      break()
    endif()
  endforeach()
  if(NOT arch)
    string(REGEX REPLACE "-.*" "" arch "${target}")
  endif()
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${arch})
file(STRINGS ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/cmake/architectures.txt row
     REGEX "^${arch}[ \t]")
if(row MATCHES "^[^ \t]+[ \t]+([^ \t]+)")
  set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_MATCH_1})
endif()
set(CPACK_PACKAGE_FILE_NAME traffic_rate-${CPACK_PACKAGE_VERSION}-linux-${arch})

set(CPACK_PRE_BUILD_SCRIPTS ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/stage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/repack.cmake)
