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
    # Installed-Size counts what CPack counts, every file's size and each
    # folder's, but a folder as 4 KiB, its size on ext4, whatever the file
    # system of the build: a folder of tmpfs or btrfs gives another size.
    file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${tree} ${tree}/*)
    set(bytes 0)
    foreach(entry ${entries})
      if(entry MATCHES "^DEBIAN(/|$)")
        continue()
      elseif(IS_DIRECTORY ${tree}/${entry})
        math(EXPR bytes "${bytes} + 4096")
      else()
        file(SIZE ${tree}/${entry} size)
        math(EXPR bytes "${bytes} + ${size}")
      endif()
    endforeach()
    math(EXPR kibibytes "(${bytes} + 1023) / 1024")
    file(READ ${tree}/DEBIAN/control control)
    string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kibibytes}\n"
           control "${control}")
    file(WRITE ${tree}/DEBIAN/control "${control}")
    # dpkg-deb clamps only the times after SOURCE_DATE_EPOCH: the folder
    # extracted to would keep the time of the build of a changelog entry
    # dated after it.
    execute_process(COMMAND ${CPACK_TRAFFIC_RATE_SOURCE_DIR}/packaging/normalise.sh ${tree}
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${tree} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
