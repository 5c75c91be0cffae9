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
# Modes whatever the umask, under which CMake creates the staged folders, and
# every file dated SOURCE_DATE_EPOCH: rpmbuild clamps only the times after
# it, so a release dated after its build would keep the build's times.
execute_process(COMMAND ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/normalise.sh
                        ${CPACK_TEMPORARY_DIRECTORY}
                COMMAND_ERROR_IS_FATAL ANY)
