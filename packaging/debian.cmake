# The Debian package (scripts/package): the five programs, their manual pages, the copyright
# and changelog a Debian package carries in its documentation folder, the udev rules and the
# demo job.
set(MORAVENT_PACKAGE moravent-flash-programmer)
set(MORAVENT_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${MORAVENT_PACKAGE})

# The changelog's newest entry is the release being packaged.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^${MORAVENT_PACKAGE} \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the newest entry must be version ${PROJECT_VERSION}: ${newest}")
endif()
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -9n -c ${CMAKE_CURRENT_LIST_DIR}/changelog > ${changelog_gz}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${changelog_gz} DESTINATION ${MORAVENT_DOC_DIR})
# Looked for at install time, so a folder added since the last configure is packaged too.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/contrib/udev DESTINATION ${MORAVENT_DOC_DIR} OPTIONAL)
# The demo job and the files it names, as the manual page of moravent-job shows them.
install(FILES ${PROJECT_SOURCE_DIR}/examples/README.md ${PROJECT_SOURCE_DIR}/examples/demo-job.json
              ${PROJECT_SOURCE_DIR}/examples/demo-firmware.mot ${PROJECT_SOURCE_DIR}/examples/demo-unit.ico
              ${PROJECT_SOURCE_DIR}/examples/demo-unit.jpg
        DESTINATION ${MORAVENT_DOC_DIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${MORAVENT_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${MORAVENT_COMPANY})
set(CPACK_PACKAGE_CONTACT "${MORAVENT_COMPANY} <support@moravent.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flash programmer for Moravent weighing instruments")
# Lines of the long description stay under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "Writes a firmware image into the flash of a Moravent weighing instrument
over an RS-232 line. A release engineer stamps one job (image, flash region,
connect strings, serial settings, icon, picture and instructions) into a copy
of the programmer with moravent-job; the operator only picks a serial port.
The package holds the window tool moravent-flash, the command-line programmer
moravent-flash-cli for production lines, the job builder moravent-job, the
unit simulator moravent-unitsim and moravent-records, which queries the units'
records that stations keep in SQLite or PostgreSQL.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
