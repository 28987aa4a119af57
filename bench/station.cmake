# The production station at scale: 1, 4 and 16 paced simulated units programmed at once by
# the real moravent-flash-cli, wall time against one unit and host CPU per unit.
if(TARGET moravent-flash-cli AND TARGET moravent-job AND TARGET moravent_unitsim)
  add_executable(bench_station ${CMAKE_CURRENT_LIST_DIR}/station_scale.cpp)
  target_link_libraries(bench_station PRIVATE moravent_unitsim benchmark::benchmark Threads::Threads)
  target_compile_definitions(bench_station PRIVATE
    MORAVENT_FLASH_CLI="$<TARGET_FILE:moravent-flash-cli>"
    MORAVENT_JOB="$<TARGET_FILE:moravent-job>")
  add_dependencies(bench_station moravent-flash-cli moravent-job)
endif()
