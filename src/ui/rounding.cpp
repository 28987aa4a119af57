#include "ui/rounding.h"

#include <cmath>

int RoundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff > 0.5)
        return static_cast<int>(floor) + 1;
    if (diff < 0.5)
        return static_cast<int>(floor);
    const long whole = static_cast<long>(floor);
    return static_cast<int>(whole % 2 == 0 ? whole : whole + 1);
}
