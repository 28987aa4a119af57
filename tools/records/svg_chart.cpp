#include "svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int Height = 220, Top = 24, Bottom = 56, Left = 44, Slot = 44, MinWidth = 360;

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, v == double(long(v)) ? "%.0f" : "%.1f", v);
    return text;
}

} // namespace

std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
    return out;
}

std::string BarChartSvg(const std::vector<TBar>& bars, double maxValue, const std::string& unit,
                        const std::string& colour)
{
    for (const TBar& b : bars)
        maxValue = std::max(maxValue, b.Value);
    // Counts get whole ticks: the top rounded up to a multiple of the four gaps.
    maxValue = unit.empty() ? std::max(4.0, std::ceil(maxValue / 4) * 4) : std::max(maxValue, 1.0);
    const int width = std::max(MinWidth, Left + Slot * int(bars.size()) + 70); // room for the last slanted label
    const int plot = Height - Top - Bottom;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" +
                      std::to_string(Height) + "\" role=\"img\" font-family=\"sans-serif\" font-size=\"11\">";
    for (int i = 0; i <= 4; ++i) {
        const int y = Top + plot - plot * i / 4;
        svg += "<line x1=\"" + std::to_string(Left) + "\" x2=\"" + std::to_string(width - 4) + "\" y1=\"" +
               std::to_string(y) + "\" y2=\"" + std::to_string(y) + "\" stroke=\"#ddd\"/>";
        svg += "<text x=\"" + std::to_string(Left - 4) + "\" y=\"" + std::to_string(y + 4) +
               "\" text-anchor=\"end\" fill=\"#555\">" + Number(maxValue * i / 4) + Escaped(unit) + "</text>";
    }
    for (size_t i = 0; i < bars.size(); ++i) {
        const TBar& b = bars[i];
        const int h = int(plot * b.Value / maxValue + 0.5);
        const int x = Left + Slot * int(i) + 8;
        svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(Top + plot - h) + "\" width=\"" +
               std::to_string(Slot - 14) + "\" height=\"" + std::to_string(h) + "\" fill=\"" + colour + "\"><title>" +
               Escaped(b.Label + ": " + Number(b.Value) + unit + (b.Note.empty() ? "" : " (" + b.Note + ")")) +
               "</title></rect>";
        svg += "<text x=\"" + std::to_string(x + (Slot - 14) / 2) + "\" y=\"" + std::to_string(Top + plot - h - 4) +
               "\" text-anchor=\"middle\">" + Escaped(b.Note.empty() ? Number(b.Value) + unit : b.Note) + "</text>";
        svg += "<text transform=\"translate(" + std::to_string(x + (Slot - 14) / 2) + "," +
               std::to_string(Top + plot + 12) + ") rotate(35)\" fill=\"#333\">" + Escaped(b.Label) + "</text>";
    }
    return svg + "</svg>";
}
