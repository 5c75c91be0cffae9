# Builds for 32-bit x86 with the host's multilib g++ (Debian: gcc-multilib,
# g++-multilib), where long is 32 bits and 64-bit division is a call into
# libgcc.  An x86-64 kernel runs the result natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
