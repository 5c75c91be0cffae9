# Builds against musl, for the host or for any architecture of
# cmake/architectures.txt, named by its Debian name:
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/musl.cmake -DTRAFFIC_RATE_ARCH=arm64 ...
#
# It needs Debian's g++ for that architecture (g++-aarch64-linux-gnu, say; the
# host's own g++ for the host) and musl-dev:ARCH.  This works for a source that
# includes only C headers and links nothing from the C++ library, as
# traffic_rate does; the tests and the benchmark need the host's own
# toolchain.
#
# Debian's musl-gcc.specs starts every program through Scrt1.o, which cannot
# relocate itself, so it cannot link -static-pie.  The specs file written
# here is the same but for that: with -static-pie it starts from rcrt1.o,
# which applies the executable's own relocations, and links it with no
# program interpreter.
set(TRAFFIC_RATE_ARCH "" CACHE STRING
    "Debian architecture to build for, from cmake/architectures.txt (empty: the host's)")
# try_compile's projects read this file too, and need the same architecture.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TRAFFIC_RATE_ARCH)

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE _host_arch
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT TRAFFIC_RATE_ARCH)
  if(NOT _host_arch)
    message(FATAL_ERROR "musl: no dpkg to name the host's architecture; set TRAFFIC_RATE_ARCH")
  endif()
  set(TRAFFIC_RATE_ARCH "${_host_arch}" CACHE STRING "" FORCE)
endif()

file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/architectures.txt" _rows REGEX "^${TRAFFIC_RATE_ARCH} ")
if(NOT _rows)
  message(FATAL_ERROR "musl: ${TRAFFIC_RATE_ARCH} is not in cmake/architectures.txt")
endif()
string(REGEX REPLACE " +" ";" _row "${_rows}")
list(GET _row 1 _prefix)
list(GET _row 2 _musl_folder)
list(GET _row 3 _rpm_arch)

if(NOT TRAFFIC_RATE_ARCH STREQUAL _host_arch)
  set(CMAKE_SYSTEM_NAME Linux)
  string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${_prefix}")
endif()
set(CMAKE_CXX_COMPILER ${_prefix}-g++)
find_program(CMAKE_STRIP ${_prefix}-strip REQUIRED)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${TRAFFIC_RATE_ARCH})
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${_rpm_arch})

find_file(MUSL_GCC_SPECS musl-gcc.specs PATHS /usr/lib/${_musl_folder}
          NO_DEFAULT_PATH NO_CACHE REQUIRED)
get_filename_component(_musl_lib "${MUSL_GCC_SPECS}" DIRECTORY)
file(READ "${MUSL_GCC_SPECS}" _musl_specs)
string(REGEX MATCH "-isystem [^ ]+" _musl_include "${_musl_specs}")
string(REGEX MATCH "-dynamic-linker [^ ]+" _musl_loader "${_musl_specs}")
if(NOT EXISTS "${_musl_lib}/rcrt1.o" OR NOT _musl_include OR NOT _musl_loader)
  message(FATAL_ERROR "musl: ${MUSL_GCC_SPECS} is not laid out as expected")
endif()

file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/musl-gcc.specs" @ONLY CONTENT [[
%rename cpp_options old_cpp_options

*cpp_options:
-nostdinc @_musl_include@ -isystem include%s %(old_cpp_options)

*cc1:
%(cc1_cpu) -nostdinc @_musl_include@ -isystem include%s

*link_libgcc:
-L@_musl_lib@ -L .%s

*libgcc:
libgcc.a%s %:if-exists(libgcc_eh.a%s)

*startfile:
%{static-pie:@_musl_lib@/rcrt1.o;!shared:@_musl_lib@/Scrt1.o} @_musl_lib@/crti.o crtbeginS.o%s

*endfile:
crtendS.o%s @_musl_lib@/crtn.o

*link:
%{static-pie:-static -pie --no-dynamic-linker -z text;static:-static;:@_musl_loader@} -nostdlib %{shared:-shared} %{rdynamic:-export-dynamic}
]])

set(CMAKE_CXX_FLAGS_INIT "-specs ${CMAKE_BINARY_DIR}/musl-gcc.specs")
# A cross g++ cannot link its compiler check dynamically, against a C++
# library that is not there; statically it needs none.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static-pie)
