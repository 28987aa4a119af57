#pragma once
// --scan: before each round the operator scans every port's unit; a barcode scanner types
// the serial number and Enter.
#include <string>
#include <vector>

// Asks for each port's unit serial on standard error and reads it from standard input; an
// empty line skips the port for this round, and a round with every port skipped is asked
// again. False when the operator quits (q, end of input or an interrupt).
bool ScanUnitSerials(const std::vector<std::string>& ports, std::vector<std::string>& serials);
