# Run by cpack on the staged files of each package before it packs them.
set(staged ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
# lintian's overrides are for the .deb alone.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_TRAFFIC_RATE_LINTIAN_OVERRIDES)
  file(MAKE_DIRECTORY ${staged}/share/lintian/overrides)
  file(COPY_FILE ${CPACK_TRAFFIC_RATE_LINTIAN_OVERRIDES}
       ${staged}/share/lintian/overrides/traffic-rate)
endif()
# The tarball, which no package manager installs, carries the licence and the
# notices at its top.
if(CPACK_GENERATOR STREQUAL "TGZ")
  file(COPY_FILE ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/LICENSE ${staged}/LICENSE)
  file(COPY_FILE ${staged}/share/doc/traffic-rate/copyright ${staged}/copyright)
endif()
# Folders 0755 and files 0644 or 0755 whatever the umask: CMake creates the
# staged folders under the umask.
execute_process(COMMAND chmod -R u+w,go-w,a+rX ${CPACK_TEMPORARY_DIRECTORY}
                COMMAND_ERROR_IS_FATAL ANY)
# Every file dated SOURCE_DATE_EPOCH: rpmbuild clamps only the times after
# it, so a release dated after its build would keep the build's times.
string(TIMESTAMP source_date "%Y%m%d%H%M.%S" UTC)
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0
                        find ${CPACK_TEMPORARY_DIRECTORY} -exec touch -t ${source_date} {} +
                COMMAND_ERROR_IS_FATAL ANY)
