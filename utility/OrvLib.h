#pragma once

#include "UTF8String.h"

#include <cstdint>
#include <string>
#include <string_view>

// Product identification, set by the main window's constructor.
extern UTF8String g_ProductName;
extern UTF8String g_ProductVersion;

// Rounds half away from zero on the decimal value as it is shown: rondaf(1.005, 2) == 1.01,
// rondaf(-2.675, 2) == -2.68. decimals may be 0. "As shown" is the value's 15 significant digits
// (see orvlib::FormatDouble); a value with no digit to round within those 15 is returned as it
// is, as are NaN and the infinities. A zero result is +0.
double rondaf(double value, int decimals);

namespace orvlib {

// Locale-independent text to double: an optional sign, digits, and at most one decimal
// separator (a comma or a point) followed by digits. Digits may be missing on one side of the
// separator ("5," is 5, ",5" is 0.5), not on both. Anything else, including blanks, an empty
// text, exponents, "inf", "nan" and numbers too large for a double, gives false and leaves
// value untouched; numbers too small for a double read as 0.
bool StrToDbl(std::string_view text, double& value);

// The display form of a double: shortest general form with up to 15 significant digits,
// decimalSeparator in place of the point (2.5 -> "2,5" with ',', 21.0 -> "21", 1e20 ->
// "1e+20"). Zero shows as "0", also when negative.
std::string FormatDouble(double value, char decimalSeparator);

// $XDG_DATA_HOME/OrvelWebhookTester, or ~/.local/share/OrvelWebhookTester when XDG_DATA_HOME is
// unset, empty or not an absolute path; the folder is created (with its parents, each private to
// the user) when missing. Throws std::runtime_error naming the folder and the reason when it
// cannot be created.
std::string GetUserLocalAppDataPath();

// folder + the platform's separator + name (no doubled separator).
std::string JoinPath(const std::string& folder, const std::string& name);

// Writes all of content to fd, retrying short writes and interruptions. False on failure, with
// errno telling why.
bool WriteAll(int fd, std::string_view content);

// Date-times are doubles: days since 1899-12-30, the fraction being the time of day, local time.
double Now();

// ISO 8601 local time with milliseconds and the UTC offset as +HH:MM, e.g.
// "2026-12-08T15:39:14.123+01:00" (never "Z"); the offset is the one in force at that local
// time. Empty for a value that is no date between the years 1 and 9999.
std::string FormatIso8601(double dateTime);

// The current time as FormatIso8601 writes it, with the offset in force now; it looks at the
// time zone once where FormatIso8601(Now()) looks twice.
std::string NowIso8601();

// Checked conversions: an optional sign followed by decimal digits, nothing else, in range.
bool TryParseInt64(std::string_view text, int64_t& value);
bool TryParseInt32(std::string_view text, int32_t& value);

} // namespace orvlib
