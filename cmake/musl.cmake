# Builds against musl with the host's g++ through musl-gcc's specs file
# (Debian: musl-tools).  This works for a source that includes only C
# headers and links nothing from the C++ library, as traffic_rate does;
# the tests and the benchmark need the host's own toolchain.
#
# The result is fully static: musl-gcc's specs start programs through
# Scrt1.o, which cannot relocate itself as -static-pie needs.
execute_process(COMMAND gcc -dumpmachine OUTPUT_VARIABLE _host_triplet
                OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX REPLACE "-gnu.*$" "-musl" _musl_triplet "${_host_triplet}")
find_file(MUSL_GCC_SPECS musl-gcc.specs
          PATHS /usr/lib/${_musl_triplet} /usr/lib/musl/lib /usr/local/musl/lib
          NO_DEFAULT_PATH REQUIRED)

set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT "-specs ${MUSL_GCC_SPECS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(TRAFFIC_RATE_STATIC OFF CACHE BOOL "")
