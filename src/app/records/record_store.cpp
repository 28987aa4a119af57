#include "app/records/record_store.h"

#include "app/records/pg_connection.h"
#include "app/records/record_schema.h"
#include "app/records/sqlite_connection.h"

namespace {

std::string Selected()
{
    return std::string("SELECT ") + RecordColumns + ", report FROM unit_records JOIN unit_reports USING (record_id)";
}

} // namespace

std::string GroupExpression(const std::string& group)
{
    if (group == "day")
        return "substr(time_start, 1, 10)";
    if (group == "station" || group == "operator" || group == "phase")
        return "coalesce(" + group + ", '')";
    if (group == "job")
        return "job_title";
    throw ERecordsError("cannot group by '" + group + "'");
}

TRecordStore::TRecordStore(std::unique_ptr<TSqlConnection> db) : FDb(std::move(db))
{
    EnsureSchema();
}

int TRecordStore::StoredVersion()
{
    const std::string exists =
        FDb->Postgres() ? "SELECT to_regclass('moravent_schema') IS NOT NULL, to_regclass('unit_records') IS NOT NULL"
                        : "SELECT EXISTS (SELECT 1 FROM sqlite_master WHERE name = 'moravent_schema'),"
                          " EXISTS (SELECT 1 FROM sqlite_master WHERE name = 'unit_records')";
    bool schema = false, records = false;
    FDb->Run(exists, {}, [&](const TSqlRow& r) {
        schema = r[0] == "t" || r[0] == "1";
        records = r[1] == "t" || r[1] == "1";
    });
    if (!schema && records)
        throw ERecordsSchemaError(FDb->Name() + " has a table unit_records of another program: not a records database");
    int version = 0;
    if (schema)
        FDb->Run("SELECT max(version) FROM moravent_schema", {}, [&](const TSqlRow& r) {
            version = r[0] ? std::atoi(r[0]->c_str()) : 0;
        });
    return version;
}

void TRecordStore::EnsureSchema()
{
    int version = StoredVersion();
    if (version > RecordsSchemaVersion)
        throw ERecordsSchemaError("The records database " + FDb->Name() + " has schema version " +
                                  std::to_string(version) + ", newer than this program's " +
                                  std::to_string(RecordsSchemaVersion) + ": use a newer version of the program");
    if (version == RecordsSchemaVersion)
        return;
    InTransaction(*FDb, [&] {
        // Another station may have created it since we looked.
        if (StoredVersion() != 0)
            return;
        for (const std::string& statement : RecordsSchema(FDb->Postgres()))
            FDb->Run(statement);
    });
}

long TRecordStore::Insert(const std::vector<TRecordRow>& rows)
{
    std::string sql = std::string("INSERT INTO unit_records (") + RecordColumns + ") VALUES (";
    for (int i = 1; i <= 14; ++i)
        sql += FDb->Placeholder(i) + (i < 14 ? ", " : ")");
    sql += " ON CONFLICT DO NOTHING";
    const std::string report = "INSERT INTO unit_reports (record_id, report) VALUES (" + FDb->Placeholder(1) + ", " +
                               FDb->Placeholder(2) + ") ON CONFLICT DO NOTHING";
    long added = 0;
    InTransaction(*FDb, [&] {
        for (const TRecordRow& row : rows) {
            std::vector<TSqlValue> values = Values(row);
            values.pop_back();
            added += FDb->Run(sql, values);
            FDb->Run(report, {row.RecordId, row.Report});
        }
    });
    return added;
}

std::string TRecordStore::Where(const TRecordFilter& f, std::vector<TSqlValue>& params) const
{
    std::string where;
    const auto add = [&](const std::string& condition, const std::string& value, int uses = 1) {
        std::string c = condition;
        for (int u = 0; u < uses; ++u) {
            params.push_back(value);
            c.replace(c.find('#'), 1, FDb->Placeholder(int(params.size())));
        }
        where += (where.empty() ? " WHERE " : " AND ") + c;
    };
    if (f.SinceMs)
        add("start_ms >= #", std::to_string(*f.SinceMs));
    if (f.UntilMs)
        add("start_ms < #", std::to_string(*f.UntilMs));
    if (!f.Station.empty())
        add("station = #", f.Station);
    if (!f.Job.empty())
        add("(job_title = # OR image_sha256 = #)", f.Job, 2);
    if (!f.UnitSerial.empty())
        add("unit_serial = #", f.UnitSerial);
    if (!f.Operator.empty())
        add("operator = #", f.Operator);
    if (!f.Result.empty())
        add("result = #", f.Result);
    if (f.UnitsOnly)
        where += (where.empty() ? " WHERE " : " AND ") + std::string("result <> 'skipped'");
    return where;
}

std::vector<TRecordRow> TRecordStore::List(const TRecordFilter& filter, long limit)
{
    std::vector<TSqlValue> params;
    std::string sql = Selected() + Where(filter, params) +
                      " ORDER BY start_ms DESC, record_id";
    if (limit > 0)
        sql += " LIMIT " + std::to_string(limit);
    std::vector<TRecordRow> rows;
    FDb->Run(sql, params, [&](const TSqlRow& r) { rows.push_back(FromValues(r)); });
    return rows;
}

std::vector<TRecordRow> TRecordStore::Oldest(long limit)
{
    std::vector<TRecordRow> rows;
    FDb->Run(Selected() + " ORDER BY start_ms LIMIT " +
                 std::to_string(limit),
             {}, [&](const TSqlRow& r) { rows.push_back(FromValues(r)); });
    return rows;
}

std::optional<TRecordRow> TRecordStore::Find(const std::string& recordId)
{
    std::optional<TRecordRow> found;
    FDb->Run(Selected() + " WHERE record_id = " + FDb->Placeholder(1),
             {recordId}, [&](const TSqlRow& r) { found = FromValues(r); });
    return found;
}

void TRecordStore::Remove(const std::vector<TRecordRow>& rows)
{
    InTransaction(*FDb, [&] {
        for (const TRecordRow& row : rows)
            for (const char* table : {"unit_records", "unit_reports"})
                FDb->Run(std::string("DELETE FROM ") + table + " WHERE record_id = " + FDb->Placeholder(1),
                         {row.RecordId});
    });
}

void TRecordStore::Samples(const TRecordFilter& filter, const std::string& group,
                           const std::function<void(const TYieldSample&)>& each)
{
    std::vector<TSqlValue> params;
    // Integers cross as text far more cheaply than reals: a million rows notice.
    const std::string sql = "SELECT " + GroupExpression(group) +
                            ", CASE WHEN result = 'ok' THEN 1 ELSE 0 END,"
                            " CAST(round(duration_s * 1000) AS BIGINT) FROM unit_records" +
                            Where(filter, params);
    TYieldSample sample;
    FDb->Run(sql, params, [&](const TSqlRow& r) {
        sample.Group = r[0] ? *r[0] : std::string();
        sample.Passed = r[1] && *r[1] == "1";
        sample.Duration = r[2] ? double(std::atoll(r[2]->c_str())) / 1000.0 : 0.0;
        each(sample);
    });
}

std::unique_ptr<TRecordStore> OpenRecordStore(const std::string& target, bool create)
{
    if (IsPostgresTarget(target))
        return std::make_unique<TRecordStore>(std::make_unique<TPgConnection>(target));
    const std::string path = target.rfind("sqlite:", 0) == 0 ? target.substr(7) : target;
    return std::make_unique<TRecordStore>(std::make_unique<TSqliteConnection>(path, create));
}
