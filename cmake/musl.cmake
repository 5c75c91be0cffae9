# Builds against musl with the host's g++ (Debian: musl-tools).  This works
# for a source that includes only C headers and links nothing from the C++
# library, as traffic_rate does; the tests and the benchmark need the host's
# own toolchain.
#
# Debian's musl-gcc.specs starts every program through Scrt1.o, which cannot
# relocate itself, so it cannot link -static-pie.  The specs file written
# here is the same but for that: with -static-pie it starts from rcrt1.o,
# which applies the executable's own relocations, and links it with no
# program interpreter.
execute_process(COMMAND gcc -print-multiarch OUTPUT_VARIABLE _host_multiarch
                OUTPUT_STRIP_TRAILING_WHITESPACE)
# x86_64-linux-gnu becomes x86_64-linux-musl, arm-linux-gnueabihf
# arm-linux-musleabihf.
string(REPLACE "-gnu" "-musl" _musl_multiarch "${_host_multiarch}")
find_file(MUSL_GCC_SPECS musl-gcc.specs
          PATHS /usr/lib/${_musl_multiarch} /usr/lib/musl/lib /usr/local/musl/lib
          NO_DEFAULT_PATH REQUIRED)
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

set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT "-specs ${CMAKE_BINARY_DIR}/musl-gcc.specs")
