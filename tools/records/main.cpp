// moravent-records: the units' records that stations keep, as quality asks for them.
#include <cstdio>

#include "app/records/sql_connection.h"
#include "commands.h"
#include "filter_options.h"

namespace {

const char Usage[] = R"(usage:
  moravent-records list   [--db TARGET] [FILTERS] [--limit N] [--json | --csv]
  moravent-records yield  [--db TARGET] [FILTERS] [--by day|station|job|operator|phase] [--json | --csv]
  moravent-records show   [--db TARGET] RECORD_ID
  moravent-records import [--db TARGET] REPORT.jsonl...
  moravent-records sync   [--db TARGET] [--spool FILE]
  moravent-records report [--db TARGET] [FILTERS] --html FILE
  moravent-records init   [--db TARGET]
  moravent-records --help | --version

TARGET is the records database: a file or sqlite:PATH (SQLite), a postgresql:// URI or
libpq keywords ("host=db1 dbname=records user=quality"), as moravent-flash-cli takes
it; MORAVENT_RECORDS when --db is not given.

init    creates the records schema (a station's first record does so too, where its
        database role may create tables)
list    the records, newest first, as a table (--json: the records' JSON objects in an
        array, --csv: a spreadsheet); --limit N shows the newest N (default 1000, 0 all)
yield   units, passed, failed, yield %, median and 95th-percentile duration per day
        (the station's local day), station, job, operator or phase
show    one record's JSON object
import  adds report files (JSON Lines, as stations append them) to the database; a
        record there already is not added twice, so importing a file again adds nothing
sync    forwards the records a station spooled on this computer while the database could
        not be reached (--spool FILE: another spool than this user's)
report  writes one self-contained HTML page: figures, charts of the yield per day,
        failures by phase and the units' durations, tables per station, job and operator,
        and the failed units

FILTERS:
  --since TIME, --until TIME   units started at or after, before a local time
                               (2026-12-08 or 2026-12-08T14:00)
  --station NAME  --job TITLE|SHA256  --unit-serial S  --operator NAME
  --result ok|failed|cancelled|skipped

Exit status: 0 done, 1 failed (the database cannot be read or written), 2 usage error.
)";

} // namespace

int main(int argc, char** argv)
{
    return RunMain("moravent-records", [&] {
        TCommandLine cmd("moravent-records", Usage);
        for (const char* name : {"db", "spool", "limit", "by", "html"})
            cmd.AddValue({name});
        cmd.AddFlag({"json"});
        cmd.AddFlag({"csv"});
        AddFilterOptions(cmd);
        if (!cmd.Parse(argc, argv))
            return ExitOk;
        if (cmd.Positional().empty())
            throw EUsageError("a command is needed: list, yield, show, import, sync or report");
        const std::string command = cmd.Positional()[0];
        if (command == "init")
            return InitCommand(cmd);
        if (command == "list")
            return ListCommand(cmd);
        if (command == "yield")
            return YieldCommand(cmd);
        if (command == "show")
            return ShowCommand(cmd);
        if (command == "import")
            return ImportCommand(cmd);
        if (command == "sync")
            return SyncCommand(cmd);
        if (command == "report")
            return ReportCommand(cmd);
        throw EUsageError("unknown command '" + command + "'");
    });
}
