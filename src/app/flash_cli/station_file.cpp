#include "app/flash_cli/station_file.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "framework/cmdline.h"
#include "framework/file_input.h"

namespace fs = std::filesystem;

namespace {

using TJson = nlohmann::ordered_json;

constexpr size_t StationFileLimit = 1u << 20;
const char Keys[] = "job, fixtures, method, log, report, records, operator, skip_missing";

class TReader {
public:
    explicit TReader(const std::string& path) : Path(path), Folder(fs::path(path).parent_path()) { }

    [[noreturn]] void Fail(const std::string& key, const std::string& what) const
    {
        throw EUsageError("station file " + Path + ": key '" + key + "': " + what);
    }

    std::string Text(const std::string& key, const TJson& value) const
    {
        if (!value.is_string() || value.get<std::string>().empty())
            Fail(key, "expected a text that is not empty");
        return value.get<std::string>();
    }

    std::string File(const std::string& key, const TJson& value) const
    {
        const fs::path p = Text(key, value);
        return p.is_absolute() ? p.string() : (Folder / p).lexically_normal().string();
    }

    // A file or sqlite:PATH is the file's; a PostgreSQL URI or keywords are left as they are.
    std::string Records(const std::string& key, const TJson& value) const
    {
        const std::string target = Text(key, value);
        if (target.find("://") != std::string::npos || target.find('=') != std::string::npos)
            return target;
        const bool prefixed = target.rfind("sqlite:", 0) == 0;
        return (prefixed ? "sqlite:" : "") + File(key, prefixed ? TJson(target.substr(7)) : TJson(target));
    }

    // {"A1": "usb:FT1A2B", ...} names each fixture; ["ttyUSB0", "A1=usb:FT1A2B"] as --port takes them.
    void Fixtures(const TJson& value, std::vector<std::string>& ports) const
    {
        if (value.is_object()) {
            for (const auto& [name, selector] : value.items())
                ports.push_back(name + "=" + Text("fixtures." + name, selector));
        } else if (value.is_array()) {
            for (const TJson& item : value)
                ports.push_back(Text("fixtures", item));
        } else {
            Fail("fixtures", "expected an object of fixture names and ports, or an array of ports");
        }
        if (ports.empty())
            Fail("fixtures", "names no fixture");
    }

    TStationFile Read() const
    {
        TJson doc;
        try {
            doc = TJson::parse(ReadFileBytes(Path, StationFileLimit, "station file"));
        } catch (const TJson::exception& e) {
            throw EUsageError("station file " + Path + " is not JSON (" + e.what() + ")");
        } catch (const std::exception& e) {
            throw EUsageError(e.what());
        }
        if (!doc.is_object())
            throw EUsageError("station file " + Path + " must hold one JSON object");
        TStationFile station;
        for (const auto& [key, value] : doc.items()) {
            if (key == "job" || key == "log" || key == "report")
                station.Values[key] = File(key, value);
            else if (key == "records")
                station.Values[key] = Records(key, value);
            else if (key == "method" || key == "operator")
                station.Values[key] = Text(key, value);
            else if (key == "fixtures")
                Fixtures(value, station.Ports);
            else if (key == "skip_missing" && value.is_boolean())
                station.SkipMissing = value.get<bool>();
            else if (key == "skip_missing")
                Fail(key, "expected true or false");
            else
                Fail(key, std::string("unknown key (") + Keys + ")");
        }
        return station;
    }

private:
    std::string Path;
    fs::path Folder;
};

} // namespace

TStationFile ReadStationFile(const std::string& path)
{
    return TReader(path).Read();
}
