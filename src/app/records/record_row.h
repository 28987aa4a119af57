#pragma once
// One unit's record as the database keeps it: the columns the questions of quality are
// asked by, and the whole report object beside them.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "app/records/sql_connection.h"

struct TRecordRow {
    std::string RecordId;
    int64_t StartMs = 0; // the unit's start, milliseconds since 1970 UTC: what time filters compare
    std::string TimeStart, TimeEnd;
    double Duration = 0;
    std::string Station, Port, Operator, UnitSerial; // "" for none
    std::string JobTitle, ImageSha256, Result, Phase, Error;
    std::string Report; // the report object as one line of JSON
};

// The columns of unit_records in the order Values and FromValues use; the report follows
// them, kept in unit_reports so that questions over many records read narrow rows.
extern const char RecordColumns[];
std::vector<TSqlValue> Values(const TRecordRow& row);
TRecordRow FromValues(const TSqlRow& values);

// From a report object (one line of a report file). A record from before record_id existed
// gets an id made from its bytes, so importing it twice adds it once. Raises ERecordsError
// when a key the database needs is missing or of the wrong type.
TRecordRow RowFromReport(const nlohmann::ordered_json& report);

// Milliseconds since 1970 UTC of "2026-12-08T14:03:27.412+01:00"; raises ERecordsError.
int64_t IsoToMs(const std::string& iso);
