#pragma once

#include "UTF8String.h"

#include <cstdint>
#include <string>

// Product identification, set by the main window's constructor.
extern UTF8String g_ProductName;
extern UTF8String g_ProductVersion;

// Rounds half away from zero on the decimal value as it is shown: rondaf(1.005, 2) == 1.01,
// rondaf(-2.675, 2) == -2.68. decimals may be 0.
double rondaf(double value, int decimals);

namespace orvlib {

// Locale-independent text to double: an optional sign, digits, and at most one decimal
// separator (a comma or a point) followed by digits. Anything else, including blanks, an empty
// text, exponents, "inf" and "nan", gives false and leaves value untouched.
bool StrToDbl(const std::string& text, double& value);

// The display form of a double: shortest general form with up to 15 significant digits,
// decimalSeparator in place of the point (2.5 -> "2,5" with ',', 21.0 -> "21").
std::string FormatDouble(double value, char decimalSeparator);

// $XDG_DATA_HOME/OrvelWebhookTester, or ~/.local/share/OrvelWebhookTester when XDG_DATA_HOME is
// unset or empty; the folder is created (with its parents) when missing. Throws
// std::runtime_error when it cannot be created.
std::string GetUserLocalAppDataPath();

// folder + the platform's separator + name (no doubled separator).
std::string JoinPath(const std::string& folder, const std::string& name);

// Date-times are doubles: days since 1899-12-30, the fraction being the time of day, local time.
double Now();

// ISO 8601 local time with milliseconds and the UTC offset as +HH:MM, e.g.
// "2026-12-08T15:39:14.123+01:00" (never "Z").
std::string FormatIso8601(double dateTime);

// Checked conversions: an optional sign followed by decimal digits, nothing else, in range.
bool TryParseInt64(const std::string& text, int64_t& value);
bool TryParseInt32(const std::string& text, int32_t& value);

} // namespace orvlib
