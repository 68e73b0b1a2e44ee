#include "OrvLib.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

UTF8String g_ProductName;
UTF8String g_ProductVersion;

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Days from 1899-12-30, day 0 of the date-time doubles, to 1970-01-01.
constexpr int64_t kUnixEpochDay = 25569;
constexpr int64_t kMillisecondsPerDay = 86400000;

template <typename Int> bool TryParseSigned(std::string_view text, Int& value) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') {
        ++first;
        // from_chars would accept a second sign after the one skipped here.
        if (first == last || !IsDigit(*first))
            return false;
    }
    Int parsed{};
    const auto result = std::from_chars(first, last, parsed, 10);
    if (result.ec != std::errc() || result.ptr != last)
        return false;
    value = parsed;
    return true;
}

// Creates path and the folders above it that are missing; the folders created are private
// to the user. Throws when a part cannot be created or is not a folder.
void CreateFolders(const std::string& path) {
    // Nearly always there already (it is asked for on every send): one look instead of a
    // mkdir and a stat per part of the path.
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
        return;
    std::string::size_type pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (part.empty() || part.back() == '/')
            continue;
        if (mkdir(part.c_str(), 0700) == 0) {
            // The umask may have taken away bits the owner needs.
            chmod(part.c_str(), 0700);
            continue;
        }
        const int error = errno;
        struct stat info {};
        if (error == EEXIST && stat(part.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            continue;
        const std::string reason = std::strerror(error == EEXIST ? ENOTDIR : error);
        throw std::runtime_error("Cannot create the folder \"" + part +
                                 "\" for the application data: " + reason);
    }
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return found->pw_dir;
    return {};
}

// The current time in milliseconds since 1970 and the local clock's fields for it.
bool LocalNow(int64_t& ms, struct tm& local) {
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
             .count();
    const auto t = static_cast<time_t>(ms / 1000);
    tzset(); // localtime_r need not notice a changed TZ on its own
    return localtime_r(&t, &local) != nullptr;
}

// The local clock's fields with milliseconds and the offset from UTC in seconds.
std::string Iso8601Text(const struct tm& fields, int milliseconds, long utcOffset) {
    const long offsetMinutes = std::lround(static_cast<double>(std::labs(utcOffset)) / 60.0);
    char text[128];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", fields.tm_year + 1900,
                  fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
                  milliseconds, utcOffset < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
    return text;
}

} // namespace

double rondaf(double value, int decimals) {
    if (value == 0.0)
        return 0.0; // also for -0.0: a till shows no negative zero
    if (!std::isfinite(value))
        return value;

    // Round the value as it is shown (15 significant digits), so that 1.005, stored as
    // 1.00499999999999989..., rounds the way the user expects. Layout: "d.dddddddddddddde[+-]xx".
    char shown[32];
    const char* end =
        std::to_chars(shown, shown + sizeof shown, std::fabs(value), std::chars_format::scientific, 14).ptr;
    char digits[15];
    digits[0] = shown[0];
    std::memcpy(digits + 1, shown + 2, 14);
    int exponent = 0;
    std::from_chars(shown[17] == '+' ? shown + 18 : shown + 17, end, exponent);

    const int64_t keep = static_cast<int64_t>(exponent) + decimals + 1;
    if (keep >= 15)
        return value; // nothing to round within the digits shown
    if (keep < 0)
        return 0.0;
    // The digits from 10^exponent down to 10^-decimals, half away from zero: the magnitude up.
    int64_t units = 0;
    std::from_chars(digits, digits + keep, units);
    if (digits[keep] >= '5')
        ++units;
    if (units == 0)
        return 0.0;
    // units * 10^-decimals, read as the decimal number it is.
    char text[48];
    const int length = std::snprintf(text, sizeof text, "%llde%lld", static_cast<long long>(units),
                                     -static_cast<long long>(decimals));
    double result = 0.0;
    if (std::from_chars(text, text + length, result).ec != std::errc())
        return value;
    return value < 0 ? -result : result;
}

namespace orvlib {

bool StrToDbl(std::string_view text, double& value) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    const bool negative = i < n && text[i] == '-';
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    // The same number written the way from_chars reads it: digits, a point, digits.
    std::string normalised = "0";
    for (; i < n && IsDigit(text[i]); ++i)
        normalised += text[i];
    const bool integerDigits = normalised.size() > 1;
    if (i < n && (text[i] == ',' || text[i] == '.')) {
        normalised += '.';
        ++i;
    }
    const std::size_t fractionFrom = normalised.size();
    for (; i < n && IsDigit(text[i]); ++i)
        normalised += text[i];
    if (i != n || (!integerDigits && normalised.size() == fractionFrom))
        return false;
    if (normalised.back() == '.')
        normalised.pop_back(); // "5," is 5

    double parsed = 0.0;
    const auto result = std::from_chars(normalised.data(), normalised.data() + normalised.size(), parsed,
                                        std::chars_format::fixed);
    if (result.ptr != normalised.data() + normalised.size())
        return false;
    if (result.ec == std::errc::result_out_of_range) {
        // Too large to hold (a non-zero digit before the point) is no usable number; too small is zero.
        const std::size_t point = normalised.find('.');
        if (normalised.find_first_not_of('0') < point)
            return false;
        parsed = 0.0;
    } else if (result.ec != std::errc()) {
        return false;
    }
    value = negative && parsed != 0.0 ? -parsed : parsed;
    return true;
}

std::string FormatDouble(double value, char decimalSeparator) {
    if (value == 0.0)
        return "0"; // no "-0"
    // printf's "%.15g" without the locale's say in the decimal point.
    char text[32];
    std::string shown(text,
                      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15).ptr);
    std::replace(shown.begin(), shown.end(), '.', decimalSeparator);
    return shown;
}

std::string GetUserLocalAppDataPath() {
    std::string base;
    // Relative values are to be ignored, as for every XDG base directory variable.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const std::string home = HomeFolder();
        if (home.empty())
            throw std::runtime_error("Cannot find the folder for the application data: neither XDG_DATA_HOME "
                                     "nor HOME is set");
        base = JoinPath(JoinPath(home, ".local"), "share");
    }
    const std::string path = JoinPath(base, "OrvelWebhookTester");
    CreateFolders(path);
    return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    std::string::size_type start = 0;
    while (start < name.size() && name[start] == '/')
        ++start;
    if (folder.back() == '/')
        return folder + name.substr(start);
    return folder + "/" + name.substr(start);
}

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = write(fd, content.data(), content.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

double Now() {
    int64_t ms = 0;
    struct tm local {};
    if (!LocalNow(ms, local))
        return 0.0;
    const int64_t localMs = (ms / 1000 + local.tm_gmtoff) * 1000 + ms % 1000;
    return static_cast<double>(kUnixEpochDay + localMs / kMillisecondsPerDay) +
           static_cast<double>(localMs % kMillisecondsPerDay) / static_cast<double>(kMillisecondsPerDay);
}

std::string FormatIso8601(double dateTime) {
    // Far enough beyond the years 1 to 9999 either way; those are told apart below.
    if (!std::isfinite(dateTime) || std::fabs(dateTime) > 4e6)
        return {};

    // The whole part counts days; the fraction is the time of day, also before day 0.
    int64_t days = static_cast<int64_t>(std::trunc(dateTime));
    int64_t dayMs = std::llround(std::fabs(dateTime - std::trunc(dateTime)) * kMillisecondsPerDay);
    if (dayMs >= kMillisecondsPerDay) {
        dayMs -= kMillisecondsPerDay;
        days += dateTime < 0 ? -1 : 1;
    }
    // The local clock's fields, read as if it were UTC.
    const auto localSeconds = static_cast<time_t>((days - kUnixEpochDay) * 86400 + dayMs / 1000);
    struct tm fields {};
    if (!gmtime_r(&localSeconds, &fields) || fields.tm_year + 1900 < 1 || fields.tm_year + 1900 > 9999)
        return {};

    // The offset that applies at this local time, summer time included.
    struct tm local = fields;
    local.tm_isdst = -1;
    mktime(&local);
    return Iso8601Text(fields, static_cast<int>(dayMs % 1000), local.tm_gmtoff);
}

std::string NowIso8601() {
    int64_t ms = 0;
    struct tm local {};
    if (!LocalNow(ms, local))
        return {};
    return Iso8601Text(local, static_cast<int>(ms % 1000), local.tm_gmtoff);
}

bool TryParseInt64(std::string_view text, int64_t& value) {
    return TryParseSigned(text, value);
}

bool TryParseInt32(std::string_view text, int32_t& value) {
    return TryParseSigned(text, value);
}

} // namespace orvlib
