# Run by cpack after it packed the tarball or the .deb, to pack it again the
# same way whatever the build: CPack's archives list a folder in the order the
# file system gives, and the members of its .deb take their modes from the
# umask.  Owners are root and every time is SOURCE_DATE_EPOCH.
foreach(package ${CPACK_PACKAGE_FILES})
  if(CPACK_GENERATOR STREQUAL "TGZ")
    execute_process(COMMAND ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/normalise.sh
                            ${CPACK_TEMPORARY_DIRECTORY} ${package}
                    COMMAND_ERROR_IS_FATAL ANY)
  elseif(CPACK_GENERATOR STREQUAL "DEB")
    # By Debian's own dpkg-deb, from the same files and control data.
    set(tree ${CPACK_TOPLEVEL_DIRECTORY}/repacked)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree}
                    COMMAND_ERROR_IS_FATAL ANY)
    # dpkg-deb clamps only the times after SOURCE_DATE_EPOCH: the folder
    # extracted to would keep the time of the build of a changelog entry
    # dated after it.
    execute_process(COMMAND ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/normalise.sh ${tree}
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${tree} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
