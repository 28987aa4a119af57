# libjpeg for Windows: Debian's libjpeg-turbo source package, the version the Linux build links
# (scripts/build-windows fetches it), built statically with the cross compiler. The JPEG
# pictures are decoded by the same code on both systems. The SIMD paths are left out: they
# need nasm, and the plain C ones decode to the same pixels.
set(MORAVENT_LIBJPEG_SOURCE "${CMAKE_BINARY_DIR}/third_party/libjpeg-turbo" CACHE PATH
    "libjpeg-turbo's source, Debian's patches applied")
if(NOT EXISTS "${MORAVENT_LIBJPEG_SOURCE}/jpeglib.h")
  message(FATAL_ERROR "libjpeg-turbo's source is not in ${MORAVENT_LIBJPEG_SOURCE}: scripts/build-windows "
                      "fetches it (apt-get source libjpeg-turbo), or set MORAVENT_LIBJPEG_SOURCE")
endif()

include(ExternalProject)
set(jpeg_dir ${CMAKE_BINARY_DIR}/libjpeg-turbo)
# Only the library: its programs and the TurboJPEG API are not ours to build.
ExternalProject_Add(libjpeg_turbo
  SOURCE_DIR ${MORAVENT_LIBJPEG_SOURCE}
  BINARY_DIR ${jpeg_dir}/build
  INSTALL_DIR ${jpeg_dir}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
             -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static
  INSTALL_COMMAND ${CMAKE_COMMAND} -E make_directory <INSTALL_DIR>/lib <INSTALL_DIR>/include
  COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/libjpeg.a <INSTALL_DIR>/lib/
  COMMAND ${CMAKE_COMMAND} -E copy <SOURCE_DIR>/jpeglib.h <SOURCE_DIR>/jmorecfg.h <SOURCE_DIR>/jerror.h
                                   <BINARY_DIR>/jconfig.h <INSTALL_DIR>/include/
  BUILD_BYPRODUCTS ${jpeg_dir}/lib/libjpeg.a
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON
  EXCLUDE_FROM_ALL ON)
file(MAKE_DIRECTORY ${jpeg_dir}/include)
add_library(JPEG::JPEG STATIC IMPORTED GLOBAL)
set_target_properties(JPEG::JPEG PROPERTIES IMPORTED_LOCATION ${jpeg_dir}/lib/libjpeg.a
                                            INTERFACE_INCLUDE_DIRECTORIES ${jpeg_dir}/include)
add_dependencies(JPEG::JPEG libjpeg_turbo)
