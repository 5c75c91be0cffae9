# Run by cpack on the staged files of each package before it packs them.
# Folders 0755 and files 0644 or 0755 whatever the umask: CMake creates the
# staged folders under the umask.
execute_process(COMMAND chmod -R u+w,go-w,a+rX ${CPACK_TEMPORARY_DIRECTORY}
                COMMAND_ERROR_IS_FATAL ANY)
# lintian's overrides are for the .deb alone.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  file(GLOB lintian_folders ${CPACK_TEMPORARY_DIRECTORY}/*/share/lintian
                            ${CPACK_TEMPORARY_DIRECTORY}/share/lintian)
  file(REMOVE_RECURSE ${lintian_folders})
endif()
# The tarball, which no package manager installs, carries the licence and the
# notices at its top.
if(CPACK_GENERATOR STREQUAL "TGZ")
  file(COPY ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/LICENSE
            ${CPACK_TEMPORARY_DIRECTORY}/share/doc/traffic-rate/copyright
       DESTINATION ${CPACK_TEMPORARY_DIRECTORY}
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
