# The Windows build, cross-compiled on Debian (scripts/build-windows): the core without Qt, the
# graphics and the headless programmer, from the same subsystem folders as the Linux build.
# Programs link the C and C++ runtimes statically, so an .exe runs from anywhere.
set(MORAVENT_QT OFF CACHE BOOL "" FORCE)
set(MORAVENT_BENCH OFF CACHE BOOL "" FORCE)
add_compile_options(-Wall -Wextra)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++)
find_package(Threads REQUIRED)
enable_testing()

# Tests run under Wine in a prefix of their own (scripts/build-windows makes it).
set(MORAVENT_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix the tests run in")
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${MORAVENT_WINEPREFIX} WINEDEBUG=-all wine)
endif()
# Linux programs the end-to-end test drives the Windows programmer with: the simulated unit
# and the job builder of a Linux build.
set(MORAVENT_LINUX_BIN "${PROJECT_SOURCE_DIR}/build/bin" CACHE PATH "bin folder of a Linux build")

# GoogleTest from Debian's source package, built with the cross compiler.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(${CMAKE_CURRENT_LIST_DIR}/libjpeg-turbo.cmake)

# nlohmann-json is headers only: Debian's copy, without the rest of /usr/include.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/header-only)
file(CREATE_LINK /usr/include/nlohmann ${CMAKE_BINARY_DIR}/header-only/nlohmann SYMBOLIC)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/header-only)
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

# What builds for Windows; the tests that need no pseudo-terminal of this machine run under Wine.
set(MORAVENT_DIRS src/framework src/storage src/serial src/flash src/ui src/app tools/job)
set(MORAVENT_TEST_DIRS tests/framework tests/storage tests/serial/win32 tests/app/win32)
