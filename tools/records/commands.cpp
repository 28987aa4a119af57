#include "commands.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/records/record_keeper.h"
#include "filter_options.h"
#include "html_report.h"
#include "text_output.h"
#include "yield_table.h"

namespace {

constexpr long DefaultListLimit = 1000;

std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void Print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void CheckFormat(const TCommandLine& cmd)
{
    if (cmd.Has("json") && cmd.Has("csv"))
        throw EUsageError("--json and --csv exclude each other");
}

long ListLimit(const TCommandLine& cmd)
{
    if (!cmd.Has("limit"))
        return DefaultListLimit;
    char* end = nullptr;
    const long limit = std::strtol(cmd.Value("limit").c_str(), &end, 10);
    if (*end != '\0' || limit < 0)
        throw EUsageError("--limit takes a count (0 for all), not '" + cmd.Value("limit") + "'");
    return limit;
}

nlohmann::ordered_json ReportJson(const TRecordRow& row)
{
    return nlohmann::ordered_json::parse(row.Report, nullptr, false);
}

} // namespace

std::string DatabaseTarget(const TCommandLine& cmd)
{
    if (cmd.Has("db"))
        return cmd.Value("db");
    if (const char* env = std::getenv("MORAVENT_RECORDS"); env && *env)
        return env;
    throw EUsageError("no records database: give --db TARGET or set MORAVENT_RECORDS");
}

int InitCommand(const TCommandLine& cmd)
{
    if (cmd.Positional().size() != 1)
        throw EUsageError("init takes no file");
    OpenRecordStore(DatabaseTarget(cmd));
    return ExitOk;
}

int ListCommand(const TCommandLine& cmd)
{
    CheckFormat(cmd);
    const TRecordFilter filter = FilterFrom(cmd);
    const long limit = ListLimit(cmd);
    const std::vector<TRecordRow> rows = OpenRecordStore(DatabaseTarget(cmd), false)->List(filter, limit);
    if (cmd.Has("json")) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (const TRecordRow& row : rows)
            all.push_back(ReportJson(row));
        Print(all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
        return ExitOk;
    }
    std::vector<TTextRow> text;
    for (const TRecordRow& r : rows)
        text.push_back({r.TimeStart, r.Station, r.Port, r.Operator, r.UnitSerial, r.JobTitle, r.Result, r.Phase,
                        Fixed(r.Duration, 3), r.RecordId, r.Error});
    const TTextRow heading = {"TIME",   "STATION", "PORT",       "OPERATOR",  "UNIT_SERIAL", "JOB",
                              "RESULT", "PHASE",   "DURATION_S", "RECORD_ID", "ERROR"};
    Print(cmd.Has("csv") ? CsvText(heading, text) : TableText(heading, text));
    if (!cmd.Has("csv") && limit > 0 && long(rows.size()) == limit)
        std::fprintf(stderr, "moravent-records: the newest %ld records shown (--limit 0 for all)\n", limit);
    return ExitOk;
}

int YieldCommand(const TCommandLine& cmd)
{
    CheckFormat(cmd);
    const std::string by = cmd.Has("by") ? cmd.Value("by") : "day";
    if (by != "day" && by != "station" && by != "job" && by != "operator" && by != "phase")
        throw EUsageError("--by takes day, station, job, operator or phase, not '" + by + "'");
    const TRecordFilter filter = FilterFrom(cmd);
    const std::vector<TYieldGroup> groups = YieldGroups(*OpenRecordStore(DatabaseTarget(cmd), false), filter, by);
    if (cmd.Has("json")) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (const TYieldGroup& g : groups)
            all.push_back({{by, g.Group},
                           {"units", g.Units},
                           {"passed", g.Passed},
                           {"failed", g.Failed()},
                           {"yield_percent", std::round(g.Yield() * 10) / 10},
                           {"median_s", g.Median},
                           {"p95_s", g.P95}});
        Print(all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
        return ExitOk;
    }
    std::vector<TTextRow> text;
    for (const TYieldGroup& g : groups)
        text.push_back({g.Group, std::to_string(g.Units), std::to_string(g.Passed), std::to_string(g.Failed()),
                        Fixed(g.Yield(), 1), Fixed(g.Median, 3), Fixed(g.P95, 3)});
    std::string name = by;
    for (char& c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    const TTextRow heading = {name, "UNITS", "PASSED", "FAILED", "YIELD_%", "MEDIAN_S", "P95_S"};
    Print(cmd.Has("csv") ? CsvText(heading, text) : TableText(heading, text));
    return ExitOk;
}

int ShowCommand(const TCommandLine& cmd)
{
    if (cmd.Positional().size() != 2)
        throw EUsageError("show takes one RECORD_ID");
    const std::string id = cmd.Positional()[1];
    const std::optional<TRecordRow> row = OpenRecordStore(DatabaseTarget(cmd), false)->Find(id);
    if (!row)
        throw ERecordsError("no record " + id);
    Print(ReportJson(*row).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    return ExitOk;
}

int SyncCommand(const TCommandLine& cmd)
{
    if (cmd.Positional().size() != 1)
        throw EUsageError("sync takes no file");
    const std::string target = DatabaseTarget(cmd);
    OpenRecordStore(target); // unreachable or no records database: said as such, before the spool is touched
    const std::string spool = cmd.Has("spool") ? cmd.Value("spool") : DefaultSpoolPath();
    bool said = false;
    TRecordKeeper keeper(target, spool, [&](const std::string& line) {
        said = true;
        std::fprintf(stderr, "moravent-records: %s\n", line.c_str());
    });
    if (::access(spool.c_str(), F_OK) == 0 && !OpenRecordStore("sqlite:" + spool)->Oldest(1).empty())
        throw ERecordsError("records are left in the spool " + spool);
    if (!said)
        std::fprintf(stderr, "moravent-records: the spool holds no records\n");
    return ExitOk;
}

int ReportCommand(const TCommandLine& cmd)
{
    if (!cmd.Has("html") || cmd.Positional().size() != 1)
        throw EUsageError("report needs --html FILE");
    const TRecordFilter filter = FilterFrom(cmd);
    WriteHtmlReport(*OpenRecordStore(DatabaseTarget(cmd), false), filter, cmd.Value("html"));
    return ExitOk;
}
