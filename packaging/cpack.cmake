# Read by cpack before each generator runs.  What it sets makes the packages
# reproducible: the same bytes from the same source, whatever the build
# folder, the time, the umask, the user or the file system's order.

# CPack's source package is only the work tree, packed as it is.
if(CPACK_SOURCE_INSTALLED_DIRECTORIES)
  return()
endif()

# Every time stamp in the packages is SOURCE_DATE_EPOCH, by default the date of
# the changelog's latest entry.  CPack's own archives, dpkg-deb and rpmbuild
# read it from the environment.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_SOURCE_DATE_EPOCH})
endif()
set(CPACK_PRE_BUILD_SCRIPTS ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/stage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/repack.cmake)
