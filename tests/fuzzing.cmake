# libFuzzer targets (MORAVENT_FUZZ=ON with clang). A fuzz target links copies of the
# libraries it exercises compiled with the coverage instrumentation, so the fuzzer is
# guided by what happens inside them. `fuzzers` builds every target.
include_guard(GLOBAL)

add_custom_target(fuzzers)

# LIB_fuzz: the sources, include directories and links of library LIB, instrumented; its
# links to our own libraries go to their instrumented copies.
function(moravent_fuzz_library lib)
  if(TARGET ${lib}_fuzz) # made already for another folder's targets
    return()
  endif()
  get_target_property(dir ${lib} SOURCE_DIR)
  get_target_property(sources ${lib} SOURCES)
  get_target_property(includes ${lib} INCLUDE_DIRECTORIES)
  get_target_property(links ${lib} LINK_LIBRARIES)
  list(TRANSFORM sources PREPEND ${dir}/ REGEX "^[^/]")
  list(TRANSFORM links REPLACE "^(moravent_.*)$" "\\1_fuzz")
  add_library(${lib}_fuzz STATIC ${sources})
  if(includes) # a library may have none of its own, only its links'
    target_include_directories(${lib}_fuzz PUBLIC ${includes})
  endif()
  target_link_libraries(${lib}_fuzz PUBLIC ${links})
  target_compile_options(${lib}_fuzz PUBLIC -fsanitize=fuzzer-no-link,address,undefined)
endfunction()

# A fuzz target from one source, linking the libraries that follow.
function(moravent_fuzz_target name source)
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${ARGN})
  add_dependencies(fuzzers ${name})
endfunction()
