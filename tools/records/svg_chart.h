#pragma once
// Bar charts as inline SVG: no script, no external resource, readable when printed.
#include <string>
#include <vector>

struct TBar {
    std::string Label;
    double Value = 0;
    std::string Note; // written above the bar ("12 units"); "" for none
};

// Vertical bars from 0 to maxValue (0: the largest value); unit follows each value ("%", "").
std::string BarChartSvg(const std::vector<TBar>& bars, double maxValue, const std::string& unit,
                        const std::string& colour);

// Text for HTML and SVG alike: & < > " escaped.
std::string Escaped(const std::string& text);
