# Read by cpack before each generator runs.  What it sets makes the packages
# reproducible: the same bytes from the same source, whatever the build
# folder, the time, the umask, the user or the file system's order.

# CPack's source package is only the work tree, packed as it is.
if(CPACK_SOURCE_INSTALLED_DIRECTORIES)
  return()
endif()

# Every time stamp in the packages is SOURCE_DATE_EPOCH, by default the date of
# the changelog's latest entry.  CPack's own archives and rpmbuild read it
# from the environment.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_SOURCE_DATE_EPOCH})
endif()

if(CPACK_GENERATOR STREQUAL "RPM")
  # The packager; no build host; the build time and file times from
  # SOURCE_DATE_EPOCH; and no /usr/lib/.build-id links, which serve
  # debug-info packages, and there are none.
  set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${CPACK_PACKAGE_CONTACT}
")
  string(APPEND CPACK_RPM_SPEC_MORE_DEFINE [[
%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _build_id_links none]])
endif()
set(CPACK_PRE_BUILD_SCRIPTS ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/stage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/repack.cmake)
