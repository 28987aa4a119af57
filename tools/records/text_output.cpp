#include "text_output.h"

#include <algorithm>

std::string TableText(const TTextRow& heading, const std::vector<TTextRow>& rows)
{
    std::vector<size_t> width(heading.size());
    for (size_t c = 0; c < heading.size(); ++c)
        width[c] = heading[c].size();
    for (const TTextRow& row : rows)
        for (size_t c = 0; c < row.size() && c < width.size(); ++c)
            width[c] = std::max(width[c], row[c].size());
    std::string text;
    const auto line = [&](const TTextRow& row) {
        std::string l;
        for (size_t c = 0; c < row.size(); ++c)
            l += c + 1 < row.size() ? row[c] + std::string(width[c] - row[c].size() + 2, ' ') : row[c];
        text += l + "\n";
    };
    line(heading);
    for (const TTextRow& row : rows)
        line(row);
    return text;
}

namespace {

std::string CsvCell(const std::string& cell)
{
    if (cell.find_first_of(",\"\r\n") == std::string::npos)
        return cell;
    std::string quoted = "\"";
    for (char c : cell)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

} // namespace

std::string CsvText(const TTextRow& heading, const std::vector<TTextRow>& rows)
{
    std::string text;
    const auto line = [&](const TTextRow& row) {
        for (size_t c = 0; c < row.size(); ++c)
            text += (c ? "," : "") + CsvCell(row[c]);
        text += "\r\n";
    };
    line(heading);
    for (const TTextRow& row : rows)
        line(row);
    return text;
}
