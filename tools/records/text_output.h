#pragma once
// Rows as a person reads them on a terminal (aligned columns), or as CSV for a spreadsheet.
#include <string>
#include <vector>

using TTextRow = std::vector<std::string>;

// heading, then rows, columns padded to their widest cell.
std::string TableText(const TTextRow& heading, const std::vector<TTextRow>& rows);
// RFC 4180: a cell with a comma, quote or line break is quoted, quotes doubled.
std::string CsvText(const TTextRow& heading, const std::vector<TTextRow>& rows);
