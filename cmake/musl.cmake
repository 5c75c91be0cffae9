# A compiler and a C library for one Debian architecture: Debian's g++ for it
# with musl in place of glibc, linking static PIEs.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/musl.cmake -DTRAFFIC_RATE_ARCH=arm64 ...
#
# TRAFFIC_RATE_ARCH is a Debian architecture name; empty, it is the host's.
# It needs that architecture's g++ (g++-aarch64-linux-gnu, say; the host's own
# g++ for the host) and musl-dev:ARCH.  This works for a source that includes
# only C headers and links nothing from the C++ library, as traffic_rate
# does; the tests need the host's own toolchain.
#
# Debian's musl-gcc.specs starts every program through Scrt1.o, which cannot
# relocate itself, so it cannot link -static-pie.  The specs file written
# here is the same but for that: with -static-pie it starts from rcrt1.o,
# which applies the executable's own relocations, and links it with no
# program interpreter.
set(TRAFFIC_RATE_ARCH "" CACHE STRING
    "Debian architecture to build for, as dpkg names it (empty: the host's)")
# try_compile's projects read this file too, and need the same architecture.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TRAFFIC_RATE_ARCH)

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE _host_arch
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(_arch "${TRAFFIC_RATE_ARCH}")
if(NOT _arch)
  set(_arch "${_host_arch}")
endif()

# Debian's names for the compiler and musl's folder: aarch64-linux-gnu-g++
# and /usr/lib/aarch64-linux-musl, say.
execute_process(COMMAND dpkg-architecture -a${_arch} -qDEB_HOST_GNU_TYPE
                OUTPUT_VARIABLE _gnu_type OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND dpkg -L musl-dev:${_arch} OUTPUT_VARIABLE _musl_files
                ERROR_QUIET RESULT_VARIABLE _musl_missing)
string(REGEX MATCH "[^\n]*/musl-gcc\\.specs" _musl_specs_file "${_musl_files}")
if(_musl_missing OR NOT _musl_specs_file)
  message(FATAL_ERROR "musl: musl-dev:${_arch} is not installed")
endif()

if(NOT _arch STREQUAL _host_arch)
  set(CMAKE_SYSTEM_NAME Linux)
  string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${_gnu_type}")
endif()
set(CMAKE_CXX_COMPILER ${_gnu_type}-g++)
find_program(CMAKE_STRIP ${_gnu_type}-strip REQUIRED)
# Libraries for this target are musl's, under /usr/lib/TRIPLET.
get_filename_component(_musl_lib "${_musl_specs_file}" DIRECTORY)
get_filename_component(CMAKE_LIBRARY_ARCHITECTURE "${_musl_lib}" NAME)

file(READ "${_musl_specs_file}" _musl_specs)
string(REGEX MATCH "-isystem [^ ]+" _musl_include "${_musl_specs}")
string(REGEX MATCH "-dynamic-linker [^ ]+" _musl_loader "${_musl_specs}")
if(NOT EXISTS "${_musl_lib}/rcrt1.o" OR NOT _musl_include OR NOT _musl_loader)
  message(FATAL_ERROR "musl: ${_musl_specs_file} is not laid out as expected")
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
