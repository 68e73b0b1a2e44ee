#pragma once

// Rounding of the session's decimal fields (amounts, quantities, percentages) to cents and to
// whole hundredths. Both give exactly what rondaf gives; they only skip its decimal-text work for
// the common value that is already at (or within a hair of) the wanted precision, which a save
// or restore of a long session meets tens of thousands of times.

#include "OrvLib.h"

#include <cmath>
#include <cstdint>

namespace session_numbers {

// Below this magnitude a value shown with 15 significant digits still shows three decimals, so
// a value within kHair of a whole number shows as that whole number and rondaf keeps it.
constexpr double kExactRange = 1e12;
constexpr double kHair = 1e-6;

// rondaf(value * 100, 0): the value in whole hundredths.
inline double WholeHundredths(double value) {
    const double hundredths = value * 100;
    const double whole = std::nearbyint(hundredths);
    if (std::fabs(hundredths) < kExactRange && std::fabs(hundredths - whole) < kHair)
        return whole == 0 ? 0.0 : whole;
    return rondaf(hundredths, 0);
}

// rondaf(value, 2). whole / 100 is the double nearest to the decimal value with two decimals,
// which is what rondaf returns for it.
inline double RoundCents(double value) {
    const double hundredths = value * 100;
    const double whole = std::nearbyint(hundredths);
    if (std::fabs(hundredths) < kExactRange && std::fabs(hundredths - whole) < kHair)
        return whole == 0 ? 0.0 : whole / 100;
    return rondaf(value, 2);
}

} // namespace session_numbers
