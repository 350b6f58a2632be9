# The MSI beside the ZIP, for administrators who deploy programs to many
# machines (Group Policy and the like take an .msi): "cmake --build
# --preset windows --target msi" makes packages/<name>.msi with wixl.
#
# It also puts the install folder on the system PATH. wixl has no
# Environment element, and a registry value cannot do it: a value with the
# installer's "[~]" append is written as a multi-string, which would
# replace PATH's expandable string (and wixl drops the expandable marker
# anyway). So msibuild adds to what wixl wrote the Environment table, which
# appends to PATH on install and takes the entry out again on removal, and
# the two standard actions that carry it out; Windows Installer tells the
# running programs of the change itself.
#
# wixl leaves the File table's version of dravonel.exe empty, which makes
# Windows Installer judge the file by its hash and date instead of its
# version; msibuild writes it in, the same numbers as the VERSIONINFO of
# cmake/dravonel.rc.in (and its language, US English).

find_program(DRAVONEL_WIXL wixl)
find_program(DRAVONEL_MSIBUILD msibuild)

# One product code per version: rebuilding a version gives the same
# product, never a second entry beside an installed one.
string(UUID DRAVONEL_PRODUCT_CODE NAMESPACE 3508FCA5-3938-4994-A794-6C976F05DF1E
  NAME "dravonel ${PROJECT_VERSION}" TYPE SHA1 UPPER)

set(DRAVONEL_FILE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
set(DRAVONEL_MSI ${CPACK_PACKAGE_DIRECTORY}/dravonel-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}.msi)
set(DRAVONEL_MSI_WORK ${PROJECT_BINARY_DIR}/msi)
set(DRAVONEL_MSI_SOURCES
  ${PROJECT_SOURCE_DIR}/packaging/dravonel.wxs
  ${PROJECT_SOURCE_DIR}/packaging/Environment.idt
  ${PROJECT_SOURCE_DIR}/packaging/dravonel-round.cmd
  ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/LICENSE)

if(DRAVONEL_WIXL AND DRAVONEL_MSIBUILD)
  # Made in a work folder and moved to the packages when whole, so that a
  # failed step never leaves an MSI that looks finished.
  file(MAKE_DIRECTORY ${DRAVONEL_MSI_WORK})
  add_custom_command(OUTPUT ${DRAVONEL_MSI}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CPACK_PACKAGE_DIRECTORY}
    # The files under the names they are installed by (wixl takes no
    # absolute source paths), the program stripped as in the ZIP.
    COMMAND ${CMAKE_STRIP} -o dravonel.exe $<TARGET_FILE:dravonel>
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/dravonel-round.cmd
      ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE .
    COMMAND ${DRAVONEL_WIXL} --arch x64 -o dravonel.msi
      -D Version=${PROJECT_VERSION} -D ProductCode=${DRAVONEL_PRODUCT_CODE}
      ${PROJECT_SOURCE_DIR}/packaging/dravonel.wxs
    COMMAND ${DRAVONEL_MSIBUILD} dravonel.msi
      -i ${PROJECT_SOURCE_DIR}/packaging/Environment.idt
      -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
      -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)"
      -q "UPDATE `File` SET `Version` = '${DRAVONEL_FILE_VERSION}', `Language` = '1033' WHERE `File` = 'dravonel.exe'"
    COMMAND ${CMAKE_COMMAND} -E rename dravonel.msi ${DRAVONEL_MSI}
    DEPENDS dravonel ${DRAVONEL_MSI_SOURCES}
    WORKING_DIRECTORY ${DRAVONEL_MSI_WORK}
    VERBATIM)
  add_custom_target(msi DEPENDS ${DRAVONEL_MSI})
else()
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E echo "The MSI needs wixl and msibuild (Debian packages wixl and msitools): run scripts/setup.sh"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
endif()
