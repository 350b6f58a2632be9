# Run by CPack for each package, after it installed the project into its
# staging folder and before it packs it (CPACK_PRE_BUILD_SCRIPTS). Whoever
# unpacks the .tar.gz finds the README and the license at its top, beside
# bin/; the .deb keeps them only under share/doc, where Debian's rules want
# them.
if(CPACK_GENERATOR STREQUAL "TGZ")
  # Mode 0644 whatever the checkout's umask, as install(FILES) gives.
  file(COPY ${CPACK_DRAVONEL_ARCHIVE_TOP} DESTINATION ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
