# Fails when the objects of the command need anything of the C++ runtime:
# operator new and delete, exceptions, RTTI, static guards, any mangled name.
# CMakeLists.txt runs it before each link of traffic_rate, whatever the build
# (a sanitizer's __asan_ and __ubsan_ calls are the compiler's, and pass).
#
#   cmake -DNM=NM -DOBJECTS=OBJECT... -DSOURCE=FILE -P cmake/c-library-alone.cmake
#
# NM must read the objects as compiled: with LTO, gcc-nm or llvm-nm.
cmake_policy(VERSION 3.25)
execute_process(COMMAND ${NM} -u -P ${OBJECTS} OUTPUT_VARIABLE mangled
                ERROR_VARIABLE error RESULT_VARIABLE failed)
execute_process(COMMAND ${NM} -u -P -C ${OBJECTS} OUTPUT_VARIABLE demangled
                ERROR_VARIABLE error RESULT_VARIABLE failed_demangled)
if(failed OR failed_demangled)
  message(FATAL_ERROR "${NM} could not list what ${OBJECTS} need: ${error}")
endif()
# One symbol a line, NAME TYPE ..., in the same order in both lists.
string(REPLACE ";" "," mangled "${mangled}")
string(REPLACE ";" "," demangled "${demangled}")
string(REPLACE "\n" ";" mangled "${mangled}")
string(REPLACE "\n" ";" demangled "${demangled}")
# Clang's UndefinedBehaviorSanitizer marks each function with its type's
# RTTI, whose vtable is the C++ runtime's: the sanitizer's own need.
set(sanitizer "^$")
if(mangled MATCHES "(^|;)__ubsan_")
  set(sanitizer "^_ZTVN10__cxxabiv120__function_type_infoE ")
endif()
set(runtime)
foreach(line IN LISTS mangled)
  list(POP_FRONT demangled name)
  if(line MATCHES "^(_Z|__cxa_|__gxx_|__dynamic_cast|_Unwind_)" AND NOT line MATCHES "${sanitizer}")
    string(REGEX REPLACE " [A-Za-z]( .*)?$" "" name "${name}")
    list(APPEND runtime "${name}")
  endif()
endforeach()
if(runtime)
  list(JOIN runtime ", " runtime)
  # A leading space keeps CMake from breaking the line.
  message(FATAL_ERROR " ${SOURCE} uses the C++ runtime (${runtime}): the command uses the C library alone")
endif()
