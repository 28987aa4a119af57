#pragma once
// --station FILE: a line's station in one small JSON file, so that it does not depend on a
// long command. Options given on the command line override the file's.
#include <map>
#include <string>
#include <vector>

struct TStationFile {
    // Value options by their option name: job, method, log, report, records, operator.
    std::map<std::string, std::string> Values;
    std::vector<std::string> Ports; // as --port takes them: NAME=SELECTOR
    bool SkipMissing = false;
};

// Reads path; job, log, report and a records file are taken relative to the file's folder.
// Raises EUsageError naming the file and, for a bad key, the key.
TStationFile ReadStationFile(const std::string& path);
