#pragma once

namespace unitsim {

// The line settings the host last applied, read through the master of a pty pair (the
// kernel reports the slave's settings there).
struct LineSettings {
    int bitRate = 0;
    int dataBits = 8;
    int stopBits = 1;
    bool parity = false;

    // Seconds one character takes on a real line: start bit, data, parity, stop bits.
    double CharTime() const { return bitRate > 0 ? double(1 + dataBits + (parity ? 1 : 0) + stopBits) / bitRate : 0.0; }
};

bool ReadLineSettings(int fd, LineSettings& out);

} // namespace unitsim
