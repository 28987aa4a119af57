# The version information a program carries, its OriginalFilename its own: an ELF section
# on Linux (read by the About window and by moravent-job show), the VERSIONINFO resource on
# Windows.

# The VERSIONINFO resource script of the program whose file is ORIGINAL.exe, into OUT.
function(moravent_version_rc original out)
  string(REPLACE "." "," MORAVENT_VERSION_COMMAS "${PROJECT_VERSION}")
  set(MORAVENT_RC_STRINGS "")
  foreach(entry IN LISTS MORAVENT_VERSION_STRINGS)
    string(FIND "${entry}" "=" eq)
    string(SUBSTRING "${entry}" 0 ${eq} key)
    math(EXPR from "${eq} + 1")
    string(SUBSTRING "${entry}" ${from} -1 value)
    if(key STREQUAL "OriginalFilename")
      set(value "${original}.exe")
    endif()
    string(APPEND MORAVENT_RC_STRINGS "      VALUE \"${key}\", \"${value}\\0\"\n")
  endforeach()
  set(template ${PROJECT_SOURCE_DIR}/src/app/version_info.rc.in)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${template})
  file(READ ${template} text)
  string(CONFIGURE "${text}" text @ONLY)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Gives TARGET its version information (on Linux only where the generator is built).
function(moravent_version_info target original)
  if(WIN32)
    moravent_version_rc(${original} MORAVENT_VERSION_RC)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    file(CONFIGURE OUTPUT ${rc} CONTENT "#include <winres.h>\n\n@MORAVENT_VERSION_RC@" @ONLY)
    target_sources(${target} PRIVATE ${rc})
  elseif(TARGET moravent-mkversion)
    set(strings ${MORAVENT_VERSION_STRINGS})
    list(TRANSFORM strings REPLACE "^OriginalFilename=.*" "OriginalFilename=${original}")
    set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_block.cpp)
    add_custom_command(
      OUTPUT ${cpp}
      COMMAND moravent-mkversion ${cpp} ${PROJECT_VERSION} ${strings}
      DEPENDS moravent-mkversion
      COMMENT "Generating the version block of ${target}"
      VERBATIM)
    target_sources(${target} PRIVATE ${cpp})
    target_link_options(${target} PRIVATE "LINKER:--undefined=MoraventVersionBlock")
  endif()
endfunction()
