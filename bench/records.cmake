# The records: the cost of keeping one unit's record, and moravent-records' list and yield
# over 1,000,000 generated records, in SQLite and (where installed) PostgreSQL.
if(TARGET moravent-records AND TARGET moravent_records)
  add_executable(bench_records ${CMAKE_CURRENT_LIST_DIR}/records_scale.cpp)
  target_link_libraries(bench_records PRIVATE moravent_records benchmark::benchmark)
  target_compile_definitions(bench_records PRIVATE
    MORAVENT_RECORDS="$<TARGET_FILE:moravent-records>"
    PG_SCRATCH_SERVER="${PROJECT_SOURCE_DIR}/tests/records/pg-scratch-server.sh")
  add_dependencies(bench_records moravent-records)
endif()
