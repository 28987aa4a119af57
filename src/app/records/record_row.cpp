#include "app/records/record_row.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/records/record_id.h"

const char RecordColumns[] = "record_id, start_ms, time_start, time_end, duration_s, station, port, operator, "
                             "unit_serial, job_title, image_sha256, result, phase, error";

namespace {

TSqlValue OrNull(const std::string& s)
{
    return s.empty() ? TSqlValue() : TSqlValue(s);
}

std::string Text(const nlohmann::ordered_json& j, const char* key)
{
    const auto found = j.find(key);
    return found != j.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string Required(const nlohmann::ordered_json& j, const char* key)
{
    std::string value = Text(j, key);
    if (value.empty())
        throw ERecordsError(std::string("the record has no \"") + key + "\"");
    return value;
}

} // namespace

std::vector<TSqlValue> Values(const TRecordRow& r)
{
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", r.Duration);
    return {r.RecordId,        std::to_string(r.StartMs), r.TimeStart,    r.TimeEnd,     duration,
            OrNull(r.Station), OrNull(r.Port),            OrNull(r.Operator), OrNull(r.UnitSerial), r.JobTitle,
            r.ImageSha256,     r.Result,                  r.Phase,        OrNull(r.Error), r.Report};
}

TRecordRow FromValues(const TSqlRow& v)
{
    const auto s = [&](size_t i) { return i < v.size() && v[i] ? *v[i] : std::string(); };
    TRecordRow r;
    r.RecordId = s(0);
    r.StartMs = std::atoll(s(1).c_str());
    r.TimeStart = s(2);
    r.TimeEnd = s(3);
    r.Duration = std::atof(s(4).c_str());
    r.Station = s(5);
    r.Port = s(6);
    r.Operator = s(7);
    r.UnitSerial = s(8);
    r.JobTitle = s(9);
    r.ImageSha256 = s(10);
    r.Result = s(11);
    r.Phase = s(12);
    r.Error = s(13);
    r.Report = s(14);
    return r;
}

int64_t IsoToMs(const std::string& iso)
{
    tm t{};
    int ms = 0, offH = 0, offM = 0;
    char sign = '+';
    if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec, &ms, &sign, &offH, &offM) != 10 ||
        (sign != '+' && sign != '-'))
        throw ERecordsError("\"" + iso + "\" is no time of the form 2026-12-08T14:03:27.412+01:00");
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    const int64_t offset = (sign == '-' ? -1 : 1) * (offH * 60 + offM) * 60;
    return (int64_t(timegm(&t)) - offset) * 1000 + ms;
}

TRecordRow RowFromReport(const nlohmann::ordered_json& j)
{
    if (!j.is_object())
        throw ERecordsError("the record is no JSON object");
    TRecordRow r;
    r.Report = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    r.RecordId = Text(j, "record_id");
    if (r.RecordId.empty())
        r.RecordId = RecordIdOf(r.Report);
    r.TimeStart = Required(j, "time_start");
    r.StartMs = IsoToMs(r.TimeStart);
    r.TimeEnd = Required(j, "time_end");
    const auto duration = j.find("duration_s");
    r.Duration = duration != j.end() && duration->is_number() ? duration->get<double>() : 0.0;
    r.Station = Text(j, "station");
    r.Port = Text(j, "port");
    r.Operator = Text(j, "operator");
    r.UnitSerial = Text(j, "unit_serial");
    if (const auto job = j.find("job"); job != j.end() && job->is_object()) {
        r.JobTitle = Text(*job, "title");
        r.ImageSha256 = Text(*job, "image_sha256");
    }
    r.Result = Required(j, "result");
    r.Phase = Text(j, "phase");
    r.Error = Text(j, "error");
    return r;
}
