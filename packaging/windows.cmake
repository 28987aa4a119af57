# The Windows installer and portable zip (scripts/package-windows): the programs built for
# Windows in bin\, their manual pages as plain text documents in doc\, the copyright and the
# demo job. The installer is a 64-bit NSIS program: Program Files, an Add/Remove Programs
# entry, Start-menu shortcuts to a command prompt in the programs' folder and to the manuals.
set(MORAVENT_PACKAGE moravent-flash-programmer)
set(MORAVENT_WIN_PROGRAMS moravent-flash-cli moravent-flash moravent-job)

# Manual pages rendered as text with Windows line ends, readable in Notepad.
find_program(MORAVENT_GROFF groff)
set(manuals)
foreach(page ${MORAVENT_WIN_PROGRAMS})
  if(NOT TARGET ${page})
    continue()
  endif()
  if(NOT MORAVENT_GROFF)
    message(WARNING "groff not found: the Windows packages carry no manual pages")
    break()
  endif()
  set(out ${CMAKE_BINARY_DIR}/packaging/${page}.txt)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND sh -c "${MORAVENT_GROFF} -man -Tascii -P-cbou \"$0\" | sed 's/$/\\r/' > \"$1\""
            ${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}.1
    VERBATIM)
  list(APPEND manuals ${out})
  list(APPEND menu_links "doc/${page}.txt" "${page} manual")
endforeach()
add_custom_target(windows_manuals ALL DEPENDS ${manuals})
install(FILES ${manuals} DESTINATION doc)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION doc RENAME copyright.txt)
install(FILES ${PROJECT_SOURCE_DIR}/examples/README.md ${PROJECT_SOURCE_DIR}/examples/demo-job.json
              ${PROJECT_SOURCE_DIR}/examples/demo-firmware.mot ${PROJECT_SOURCE_DIR}/examples/demo-unit.ico
              ${PROJECT_SOURCE_DIR}/examples/demo-unit.jpg
        DESTINATION examples)

set(CPACK_GENERATOR NSIS ZIP)
# Written to CPack's configuration as they are, quotes and all.
set(CPACK_VERBATIM_VARIABLES ON)
# Without the debugging information (the stored block is in initialised data, kept).
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME ${MORAVENT_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${MORAVENT_COMPANY})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flash programmer for Moravent weighing instruments")
set(CPACK_PACKAGE_FILE_NAME ${MORAVENT_PACKAGE}-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "${MORAVENT_DESCRIPTION}")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${MORAVENT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_LIST_DIR}/copyright)

# Only 64-bit programs: a 32-bit installer would not even start where only 64-bit Wine is.
set(CPACK_NSIS_DEFINES "  Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "${MORAVENT_DESCRIPTION}")
set(CPACK_NSIS_DISPLAY_NAME "${MORAVENT_DESCRIPTION}")
set(CPACK_NSIS_PUBLISHER "${MORAVENT_COMPANY}")
set(CPACK_NSIS_URL_INFO_ABOUT ${PROJECT_HOMEPAGE_URL})
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# No change to PATH (the template's code truncates a long PATH): a shortcut opens a command
# prompt in the programs' folder instead.
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_NSIS_MENU_LINKS ${menu_links})
set(prompt_link "$SMPROGRAMS\\$STARTMENU_FOLDER\\Command prompt.lnk")
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "  SetOutPath \"$INSTDIR\\bin\"\n  CreateShortCut \"${prompt_link}\" \"$SYSDIR\\cmd.exe\" \"/K moravent-flash-cli --version\"")
# Also takes away the vendor's key, which the template's uninstaller leaves behind empty; this
# block runs after the template has deleted the product's own key.
set(CPACK_NSIS_DELETE_ICONS_EXTRA
    "  Delete \"$SMPROGRAMS\\$MUI_TEMP\\Command prompt.lnk\"\n  DeleteRegKey /ifempty SHCTX \"Software\\${MORAVENT_COMPANY}\"")
include(CPack)
