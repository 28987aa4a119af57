#include "app/records/record_schema.h"

std::vector<std::string> RecordsSchema(bool postgres)
{
    const std::string real = postgres ? "DOUBLE PRECISION" : "REAL";
    std::vector<std::string> s = {
        "CREATE TABLE moravent_schema (version INTEGER NOT NULL)",
        "CREATE TABLE unit_records ("
        " record_id TEXT PRIMARY KEY,"
        " start_ms BIGINT NOT NULL,"
        " time_start TEXT NOT NULL,"
        " time_end TEXT NOT NULL,"
        " duration_s " + real + " NOT NULL,"
        " station TEXT, port TEXT, operator TEXT, unit_serial TEXT,"
        " job_title TEXT NOT NULL, image_sha256 TEXT NOT NULL,"
        " result TEXT NOT NULL, phase TEXT NOT NULL, error TEXT)",
        "CREATE TABLE unit_reports (record_id TEXT PRIMARY KEY, report TEXT NOT NULL)",
    };
    // One index for each question quality asks: when, where, which job, which unit, who, how.
    for (const char* column : {"start_ms", "station", "job_title", "image_sha256", "unit_serial", "operator", "result"})
        s.push_back(std::string("CREATE INDEX unit_records_") + column + " ON unit_records (" + column + ")");
    s.push_back("INSERT INTO moravent_schema (version) VALUES (1)");
    return s;
}
