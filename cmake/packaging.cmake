# Install layout and packages. The version is the project's, set once in
# CMakeLists.txt; the packages, the installed manual pages, the changelog's
# Debian form and the MSI take it from there.
include(GNUInstallDirs)

if(WIN32)
  # Version information in the executable's resources.
  enable_language(RC)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/dravonel.rc.in ${PROJECT_BINARY_DIR}/dravonel.rc @ONLY)
  target_sources(dravonel PRIVATE ${PROJECT_BINARY_DIR}/dravonel.rc)
  # The resource compiler reads the manifest too; rebuild when it changes.
  set_source_files_properties(${PROJECT_BINARY_DIR}/dravonel.rc PROPERTIES
    OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/dravonel.manifest)
  install(TARGETS dravonel RUNTIME DESTINATION .)
  # The round for deployment tools, beside the dravonel.exe it runs; also
  # beside the built one, so that the tests run it as it is installed.
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/dravonel-round.cmd DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/dravonel-round.cmd
    ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/dravonel-round.cmd COPYONLY)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  install(TARGETS dravonel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET Cacls)
    install(TARGETS Cacls RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB TGZ)
  # dravonel-<version>-linux-x86_64.tar.gz, named as the ZIP and the MSI
  # are; the .deb names its architecture Debian's way.
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
  set(CPACK_DRAVONEL_ARCHIVE_TOP ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/archive_top.cmake)
endif()

set(CPACK_PACKAGE_NAME dravonel)
set(CPACK_PACKAGE_VENDOR "The dravonel developers")
set(CPACK_PACKAGE_CONTACT "The dravonel developers <developers@dravonel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Carries new Start Menu items from one user to all users")
# The package's long description, for those who look it up in their
# package manager.
file(READ ${PROJECT_SOURCE_DIR}/packaging/description.txt CPACK_PACKAGE_DESCRIPTION)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/description.txt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY dravonel)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
include(CPack)

if(WIN32)
  include(${PROJECT_SOURCE_DIR}/cmake/msi.cmake)
else()
  include(${PROJECT_SOURCE_DIR}/cmake/debian.cmake)
endif()
