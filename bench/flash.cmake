# The typical job against the simulated unit: unpaced versus a plain-I/O floor, paced
# versus the line-rate bound.
if(TARGET moravent_flash AND TARGET moravent_unitsim)
  add_executable(bench_flash ${CMAKE_CURRENT_LIST_DIR}/flash_transfer.cpp)
  target_link_libraries(bench_flash PRIVATE moravent_flash moravent_unitsim benchmark::benchmark)
endif()
