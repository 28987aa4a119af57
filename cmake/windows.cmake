# The Windows build, cross-compiled on Debian (scripts/build-windows): what needs no Qt.
# Programs link the C and C++ runtimes statically, so an .exe runs from anywhere.
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

# GoogleTest from Debian's source package, built with the cross compiler.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(src ${PROJECT_SOURCE_DIR}/src)
add_library(moravent_framework STATIC ${src}/framework/exceptions.cpp ${src}/framework/streams.cpp
                                      ${src}/framework/files.cpp)
target_include_directories(moravent_framework PUBLIC ${src}/framework)

add_library(moravent_storage STATIC ${src}/storage/hex.cpp ${src}/storage/util.cpp ${src}/storage/exist_ms.cpp
                                    ${src}/storage/storeexe.cpp ${src}/storage/block_writer.cpp)
target_include_directories(moravent_storage PUBLIC ${src}/storage)
target_link_libraries(moravent_storage PUBLIC moravent_framework)

# The serial layer's operating-system side.
add_library(moravent_serial_platform STATIC ${src}/serial/serial_win32.cpp ${src}/serial/serial_win32_ports.cpp)
target_include_directories(moravent_serial_platform PUBLIC ${src}/serial)
target_link_libraries(moravent_serial_platform PUBLIC Threads::Threads)

add_subdirectory(${PROJECT_SOURCE_DIR}/tests/serial/win32 ${CMAKE_BINARY_DIR}/tests/serial/win32)

add_executable(test_storage_win ${PROJECT_SOURCE_DIR}/tests/storage/test_util.cpp
                                ${PROJECT_SOURCE_DIR}/tests/storage/test_storeexe.cpp)
target_link_libraries(test_storage_win PRIVATE moravent_storage GTest::gtest_main)
add_test(NAME storage COMMAND test_storage_win)
