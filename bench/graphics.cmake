# The connect wizard's picture: load time and memory for a typical, the largest allowed and an
# oversized JPEG.
if(TARGET moravent_graphics)
  add_executable(bench_graphics ${CMAKE_CURRENT_SOURCE_DIR}/graphics_picture.cpp)
  target_include_directories(bench_graphics PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bench_graphics PRIVATE moravent_graphics moravent_framework JPEG::JPEG benchmark::benchmark
                                               benchmark::benchmark_main)
endif()
