#include "app/records/pg_connection.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace {

// A server that does not answer holds a station no longer than this, unless the target says.
constexpr const char ConnectTimeout[] = "5";

// libpq's message on one line: its hints follow on lines of their own, indented by a tab.
std::string Trimmed(const char* text)
{
    std::string s;
    for (const char* p = text ? text : ""; *p; ++p)
        if (*p == '\n' || *p == '\t')
            s += s.empty() || s.back() == ' ' ? "" : " ";
        else
            s += *p;
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace

bool IsPostgresTarget(const std::string& target)
{
    if (target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0)
        return true;
    // "host=/run/postgresql dbname=records": a keyword, then '='.
    const size_t word = target.find_first_not_of("abcdefghijklmnopqrstuvwxyz_");
    return word > 0 && word != std::string::npos && target.find_first_not_of(' ', word) == target.find('=', word);
}

TPgConnection::TPgConnection(const std::string& target)
{
    const char* keys[] = {"dbname", "connect_timeout", "application_name", nullptr};
    const char* values[] = {target.c_str(), ConnectTimeout, "moravent", nullptr};
    Conn = PQconnectdbParams(keys, values, 1);
    if (!Conn)
        throw ERecordsError("Cannot reach the records server: out of memory");
    Shown = std::string(PQdb(Conn) ? PQdb(Conn) : "") + " on " + (PQhost(Conn) ? PQhost(Conn) : "?");
    if (PQstatus(Conn) != CONNECTION_OK) {
        const std::string why = Trimmed(PQerrorMessage(Conn));
        PQfinish(Conn);
        Conn = nullptr;
        throw ERecordsError("Cannot reach the records server " + Shown + ": " + why);
    }
    PQsetNoticeProcessor(Conn, [](void*, const char*) {}, nullptr);
}

TPgConnection::~TPgConnection()
{
    PQfinish(Conn);
}

std::string TPgConnection::Prepared(const std::string& sql, int params)
{
    if (const auto found = Statements.find(sql); found != Statements.end())
        return found->second;
    const std::string name = "s" + std::to_string(Statements.size());
    PGresult* r = PQprepare(Conn, name.c_str(), sql.c_str(), params, nullptr);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!ok)
        throw ERecordsError("Records server " + Shown + ": " + Trimmed(PQerrorMessage(Conn)));
    Statements.emplace(sql, name);
    return name;
}

long TPgConnection::Run(const std::string& sql, const std::vector<TSqlValue>& params, const TSqlRowHandler& rows)
{
    std::vector<const char*> values;
    for (const TSqlValue& p : params)
        values.push_back(p ? p->c_str() : nullptr);
    PGresult* r;
    if (params.empty())
        r = PQexec(Conn, sql.c_str());
    else
        r = PQexecPrepared(Conn, Prepared(sql, int(params.size())).c_str(), int(params.size()), values.data(),
                           nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const std::string why = Trimmed(PQresultErrorMessage(r)).empty() ? Trimmed(PQerrorMessage(Conn))
                                                                          : Trimmed(PQresultErrorMessage(r));
        PQclear(r);
        throw ERecordsError("Records server " + Shown + ": " + why);
    }
    if (rows) {
        const int columns = PQnfields(r);
        TSqlRow row(size_t(columns), std::nullopt);
        for (int i = 0, n = PQntuples(r); i < n; ++i) {
            for (int c = 0; c < columns; ++c)
                row[size_t(c)] = PQgetisnull(r, i, c) ? TSqlValue() : TSqlValue(PQgetvalue(r, i, c));
            rows(row);
        }
    }
    const long changed = std::atol(PQcmdTuples(r));
    PQclear(r);
    return changed;
}
