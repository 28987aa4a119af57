#include <cstdio>
#include <sstream>

#include "app/records/record_store.h"
#include "commands.h"
#include "framework/file_input.h"

namespace {

// A report file can hold years of units.
constexpr size_t ReportLimit = size_t(4) << 30;

// Every record of file, or an error naming the line that is no record; nothing is imported
// from a file with such a line.
std::vector<TRecordRow> ReadReport(const std::string& file)
{
    std::istringstream in(ReadFileBytes(file, ReportLimit, "report"));
    std::vector<TRecordRow> rows;
    long number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        try {
            rows.push_back(RowFromReport(nlohmann::ordered_json::parse(line)));
        } catch (const std::exception& e) {
            throw ERecordsError(file + ", line " + std::to_string(number) + ": not a unit's record: " + e.what());
        }
    }
    return rows;
}

} // namespace

int ImportCommand(const TCommandLine& cmd)
{
    const std::vector<std::string>& args = cmd.Positional();
    if (args.size() < 2)
        throw EUsageError("import needs a REPORT.jsonl");
    std::vector<std::vector<TRecordRow>> files;
    for (size_t i = 1; i < args.size(); ++i)
        files.push_back(ReadReport(args[i]));
    const std::unique_ptr<TRecordStore> store = OpenRecordStore(DatabaseTarget(cmd));
    for (size_t i = 0; i < files.size(); ++i) {
        const long added = store->Insert(files[i]);
        std::printf("%s: %zu records, %ld added, %ld there already\n", args[i + 1].c_str(), files[i].size(), added,
                    long(files[i].size()) - added);
    }
    return ExitOk;
}
