#include "filter_options.h"

#include <cstdio>
#include <ctime>

void AddFilterOptions(TCommandLine& cmd)
{
    for (const char* name : {"since", "until", "station", "job", "unit-serial", "operator", "result"})
        cmd.AddValue({name});
}

int64_t LocalTimeMs(const std::string& text, const std::string& option)
{
    tm t{};
    char rest = 0;
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &rest,
                              &t.tm_hour, &t.tm_min, &t.tm_sec);
    if (!(n == 3 || ((n == 6 || n == 7) && (rest == 'T' || rest == ' '))) || t.tm_mon < 1 || t.tm_mon > 12 ||
        t.tm_mday < 1 || t.tm_mday > 31)
        throw EUsageError("--" + option + " takes a local time such as 2026-12-08 or 2026-12-08T14:00, not '" +
                          text + "'");
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    return int64_t(std::mktime(&t)) * 1000;
}

TRecordFilter FilterFrom(const TCommandLine& cmd)
{
    TRecordFilter f;
    if (cmd.Has("since"))
        f.SinceMs = LocalTimeMs(cmd.Value("since"), "since");
    if (cmd.Has("until"))
        f.UntilMs = LocalTimeMs(cmd.Value("until"), "until");
    f.Station = cmd.Value("station");
    f.Job = cmd.Value("job");
    f.UnitSerial = cmd.Value("unit-serial");
    f.Operator = cmd.Value("operator");
    f.Result = cmd.Value("result");
    if (!f.Result.empty() && f.Result != "ok" && f.Result != "failed" && f.Result != "cancelled" &&
        f.Result != "skipped")
        throw EUsageError("--result must be ok, failed, cancelled or skipped, not '" + f.Result + "'");
    return f;
}
