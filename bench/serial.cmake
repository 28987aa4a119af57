# Round trip of the reply-expecting port against a plain write/poll/read floor on the
# same pseudo-terminal pair, and the CPU cost of an idle open port and of Delay.
if(TARGET moravent_serial)
  add_executable(bench_serial ${CMAKE_CURRENT_LIST_DIR}/serial_roundtrip.cpp)
  target_link_libraries(bench_serial PRIVATE moravent_serial moravent_unitsim_line benchmark::benchmark Threads::Threads)
endif()
