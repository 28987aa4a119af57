#include "html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "svg_chart.h"
#include "yield_table.h"

namespace {

constexpr int DurationBins = 12;
constexpr long FailuresShown = 50;

std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string YieldPerDay(TRecordStore& store, const TRecordFilter& filter)
{
    std::vector<TBar> bars;
    for (const TYieldGroup& g : YieldGroups(store, filter, "day"))
        bars.push_back({g.Group.substr(5) + " (" + std::to_string(g.Units) + ")", g.Yield(), Fixed(g.Yield(), 1) + "%"});
    return BarChartSvg(bars, 100, "%", "#2e7d32");
}

std::string FailuresByPhase(TRecordStore& store, TRecordFilter filter)
{
    filter.Result = "failed";
    std::vector<TBar> bars;
    for (const TYieldGroup& g : YieldGroups(store, filter, "phase"))
        bars.push_back({g.Group, double(g.Units), ""});
    return bars.empty() ? std::string("<p>No failures.</p>") : BarChartSvg(bars, 0, "", "#c62828");
}

std::string DurationDistribution(TRecordStore& store, const TRecordFilter& filter)
{
    const std::vector<double> all = Durations(store, filter);
    if (all.empty())
        return "<p>No units.</p>";
    const auto [low, high] = std::minmax_element(all.begin(), all.end());
    const double step = std::max((*high - *low) / DurationBins, 0.001);
    std::vector<TBar> bars(DurationBins);
    for (int i = 0; i < DurationBins; ++i)
        bars[size_t(i)].Label = Fixed(*low + step * i, 1) + " s";
    for (double d : all)
        bars[size_t(std::min(DurationBins - 1, int((d - *low) / step)))].Value += 1;
    return BarChartSvg(bars, 0, "", "#1565c0");
}

std::string YieldTable(TRecordStore& store, const TRecordFilter& filter, const std::string& by)
{
    std::string html = "<table><tr><th>" + by + "</th><th>units</th><th>passed</th><th>failed</th><th>yield</th>"
                       "<th>median</th><th>95th pct.</th></tr>";
    for (const TYieldGroup& g : YieldGroups(store, filter, by))
        html += "<tr><td>" + Escaped(g.Group) + "</td><td>" + std::to_string(g.Units) + "</td><td>" +
                std::to_string(g.Passed) + "</td><td>" + std::to_string(g.Failed()) + "</td><td>" +
                Fixed(g.Yield(), 1) + "%</td><td>" + Fixed(g.Median, 1) + " s</td><td>" + Fixed(g.P95, 1) +
                " s</td></tr>";
    return html + "</table>";
}

std::string FailedUnits(TRecordStore& store, TRecordFilter filter)
{
    filter.Result = "failed";
    std::string html = "<table><tr><th>time</th><th>station</th><th>port</th><th>unit serial</th><th>operator</th>"
                       "<th>phase</th><th>error</th></tr>";
    for (const TRecordRow& r : store.List(filter, FailuresShown))
        html += "<tr><td>" + Escaped(r.TimeStart.substr(0, 19)) + "</td><td>" + Escaped(r.Station) + "</td><td>" +
                Escaped(r.Port) + "</td><td>" + Escaped(r.UnitSerial) + "</td><td>" + Escaped(r.Operator) +
                "</td><td>" + Escaped(r.Phase) + "</td><td>" + Escaped(r.Error) + "</td></tr>";
    return html + "</table>";
}

std::string Summary(TRecordStore& store, const TRecordFilter& filter)
{
    long units = 0, passed = 0;
    for (const TYieldGroup& g : YieldGroups(store, filter, "station")) {
        units += g.Units;
        passed += g.Passed;
    }
    const double yield = units > 0 ? 100.0 * double(passed) / double(units) : 0;
    return "<div class=\"figures\"><div><b>" + std::to_string(units) + "</b>units</div><div><b>" +
           std::to_string(passed) + "</b>passed</div><div><b>" + std::to_string(units - passed) +
           "</b>failed</div><div><b>" + Fixed(yield, 1) + "%</b>yield</div></div>";
}

const char Style[] = "body{font-family:sans-serif;margin:24px;color:#222;max-width:1100px}"
                     "h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
                     ".figures{display:flex;gap:16px}.figures div{border:1px solid #ccc;border-radius:6px;"
                     "padding:10px 18px;text-align:center}.figures b{display:block;font-size:24px}"
                     ".charts{display:flex;flex-wrap:wrap;gap:24px}"
                     "table{border-collapse:collapse;font-size:13px}td,th{border-bottom:1px solid #ddd;"
                     "padding:3px 10px;text-align:left}";

} // namespace

void WriteHtmlReport(TRecordStore& store, const TRecordFilter& filter, const std::string& file)
{
    std::string html = std::string("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">") +
                       "<title>Production records</title><style>" + Style + "</style></head><body>" +
                       "<h1>Production records</h1>" + Summary(store, filter) + "<div class=\"charts\"><div>" +
                       "<h2>Yield per day (units)</h2>" + YieldPerDay(store, filter) + "</div><div><h2>Failures by phase</h2>" +
                       FailuresByPhase(store, filter) + "</div><div><h2>Duration of a unit</h2>" +
                       DurationDistribution(store, filter) + "</div></div>" +
                       "<h2>By station</h2>" + YieldTable(store, filter, "station") + "<h2>By job</h2>" +
                       YieldTable(store, filter, "job") + "<h2>By operator</h2>" +
                       YieldTable(store, filter, "operator") + "<h2>Failed units (newest " +
                       std::to_string(FailuresShown) + ")</h2>" + FailedUnits(store, filter) + "</body></html>\n";
    const std::string temporary = file + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << html;
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            throw ERecordsError("Cannot write the report " + file);
        }
    }
    if (std::rename(temporary.c_str(), file.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw ERecordsError("Cannot write the report " + file);
    }
}
