#pragma once
// The statements that create the records schema, in order; the same for SQLite and PostgreSQL
// but for the types that differ.
#include <string>
#include <vector>

std::vector<std::string> RecordsSchema(bool postgres);
