# Run by cpack after it packed the tarball or the .deb, to pack it again the
# same way whatever the build: CPack's archives list a folder in the order the
# file system gives, and the members of its .deb take their modes from the
# umask.  Owners are root and every time is SOURCE_DATE_EPOCH.
foreach(package ${CPACK_PACKAGE_FILES})
  if(CPACK_GENERATOR STREQUAL "TGZ")
    # In sorted order, and gzip leaves out the name and time.
    get_filename_component(staged_top ${CPACK_TEMPORARY_DIRECTORY} NAME)
    get_filename_component(staged_parent ${CPACK_TEMPORARY_DIRECTORY} DIRECTORY)
    execute_process(
        COMMAND tar --create --format=gnu --sort=name --owner=0 --group=0
                --numeric-owner --mtime=@$ENV{SOURCE_DATE_EPOCH}
                --directory=${staged_parent} ${staged_top}
        COMMAND gzip -9n
        OUTPUT_FILE ${package}
        COMMAND_ERROR_IS_FATAL ANY)
  elseif(CPACK_GENERATOR STREQUAL "DEB")
    # By Debian's own dpkg-deb, from the same files and control data.
    set(tree ${CPACK_TOPLEVEL_DIRECTORY}/repacked)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree}
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND chmod -R u+w,go-w,a+rX ${tree} COMMAND_ERROR_IS_FATAL ANY)
    # dpkg-deb clamps only the times after SOURCE_DATE_EPOCH: the folder
    # extracted to would keep the time of the build of a changelog entry
    # dated after it.
    string(TIMESTAMP source_date "%Y%m%d%H%M.%S" UTC)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0
                            find ${tree} -exec touch -t ${source_date} {} +
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${tree} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
