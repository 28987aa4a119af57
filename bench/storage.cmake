# Stored data block check against the memory read floor.
add_executable(bench_storage ${CMAKE_CURRENT_SOURCE_DIR}/storage_checksum.cpp)
target_link_libraries(bench_storage PRIVATE moravent_storage benchmark::benchmark benchmark::benchmark_main)
