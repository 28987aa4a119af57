#include <cmath>

#include "unitsim/unitsim.h"

namespace unitsim {

uint8_t ScaleBaudRegister(uint8_t reg, int32_t oldRate, int32_t newRate)
{
    if (newRate == 0)
        return 0;
    const long double quotient = static_cast<long double>(oldRate) / static_cast<long double>(newRate);
    const long double product = quotient * static_cast<long double>(reg);
    const float rounded = static_cast<float>(product);
    if (!std::isfinite(rounded) || std::fabs(rounded) >= 9.2e18f)
        return 0;
    return static_cast<uint8_t>(static_cast<int64_t>(rounded) & 0xFF);
}

} // namespace unitsim
