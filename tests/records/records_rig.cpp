#include "records_rig.h"

#include <cstdio>
#include <cstdlib>

using namespace clitest;

namespace recordstest {

namespace {

std::string Script(const std::string& command, const std::string& dir)
{
    return std::string(PG_SCRATCH_SERVER) + " " + command + " " + dir;
}

} // namespace

TPgServer* TPgServer::Get()
{
    static std::unique_ptr<TPgServer> server;
    static bool tried = false;
    if (!tried) {
        tried = true;
        auto s = std::make_unique<TPgServer>();
        s->Start();
        if (!s->Keywords.empty())
            server = std::move(s);
        else
            std::printf("PostgreSQL server not installed (Debian package postgresql): its tests are skipped\n");
    }
    return server.get();
}

TPgServer::~TPgServer()
{
    Stop();
}

void TPgServer::Start()
{
    FILE* p = ::popen(Script("start", Dir / "pg").c_str(), "r");
    char line[512] = {};
    const bool read = p && std::fgets(line, sizeof line, p) != nullptr;
    const int status = p ? ::pclose(p) : -1;
    if (read && status == 0) {
        Keywords = line;
        Keywords.erase(Keywords.find_last_not_of("\n") + 1);
    }
}

void TPgServer::Stop()
{
    if (std::system(Script("stop", Dir / "pg").c_str()) != 0)
        std::printf("the test server did not stop\n");
}

std::string TPgServer::NewDatabase(const std::string& user)
{
    const std::string name = "records_" + std::to_string(++Databases);
    Run(Keywords, {"CREATE DATABASE " + name});
    std::string target = Keywords;
    target.replace(target.find("dbname=postgres"), 15, "dbname=" + name);
    if (user != "postgres")
        target.replace(target.find("user=postgres"), 13, "user=" + user);
    return target;
}

void TPgServer::Run(const std::string& target, const std::vector<std::string>& statements)
{
    TPgConnection db(target);
    for (const std::string& s : statements)
        db.Run(s);
}

std::vector<std::string> Backends()
{
    std::vector<std::string> backends = {"sqlite"};
    if (TPgServer::Get())
        backends.push_back("postgresql");
    return backends;
}

std::string NewTarget(const std::string& backend, const TempDir& dir, const std::string& name)
{
    return backend == "sqlite" ? "sqlite:" + (dir / (name + ".sqlite")) : TPgServer::Get()->NewDatabase();
}

Outcome Records(const TArgs& args)
{
    return RunProgram(MORAVENT_RECORDS, args);
}

} // namespace recordstest
