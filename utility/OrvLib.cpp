#include "OrvLib.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/types.h>
#include <system_error>
#include <unistd.h>
#include <vector>

UTF8String g_ProductName;
UTF8String g_ProductVersion;

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The magnitude of a finite, non-zero double as 15 significant decimal digits and the decimal
// exponent of the first one: value ~ d.dddddddddddddd x 10^exponent.
void SignificantDigits(double magnitude, char (&digits)[15], int& exponent) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, 14);
    // Layout: "d.dddddddddddddde[+-]xx", the exponent possibly with three digits.
    digits[0] = buffer[0];
    std::memcpy(digits + 1, buffer + 2, 14);
    const char* start = buffer + 17;
    if (*start == '+')
        ++start;
    exponent = 0;
    std::from_chars(start, result.ptr, exponent);
}

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

// Day 0 of the date-time doubles, 1899-12-30, counted from 1970-01-01.
const int64_t kEpochOffsetDays = DaysFromCivil(1899, 12, 30);
constexpr int64_t kMillisecondsPerDay = 86400000;

template <typename Int> bool TryParseSigned(const std::string& text, Int& value) {
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

} // namespace

double rondaf(double value, int decimals) {
    if (value == 0.0)
        return 0.0; // also for -0.0: a till shows no negative zero
    if (!std::isfinite(value))
        return value;

    // The text work below is only needed near a half. The value as shown (15 significant
    // digits) lies within 5e-15 of its size from the value, so the value times the scale lies
    // within 1e-14 of its size (rounding included) from the shown value times the scale: a
    // fraction of a unit further than that from one half rounds the same way on either, and
    // whole / scale is the double the text would give.
    if (decimals >= 0 && decimals <= 15) {
        static const double kScales[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const double scale = kScales[decimals];
        const double units = std::fabs(value) * scale;
        if (units < 1e12) {
            const auto below = static_cast<int64_t>(units);
            const double fraction = units - static_cast<double>(below); // exact
            if (std::fabs(fraction - 0.5) > units * 1e-14) {
                const int64_t whole = fraction > 0.5 ? below + 1 : below;
                if (whole == 0)
                    return 0.0;
                const double result = static_cast<double>(whole) / scale;
                return value < 0 ? -result : result;
            }
        }
    }

    // Round the value as it is shown (15 significant digits), so that 1.005, stored as
    // 1.00499999999999989..., rounds the way the user expects.
    char digits[15];
    int exponent = 0;
    SignificantDigits(std::fabs(value), digits, exponent);

    const int64_t keep = static_cast<int64_t>(exponent) + decimals + 1;
    if (keep >= 15)
        return value; // nothing to round within the digits shown
    if (keep < 0)
        return 0.0;

    std::string kept(digits, digits + keep);
    if (digits[keep] >= '5') {
        // Half away from zero: rounding up the magnitude.
        int64_t i = keep - 1;
        while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9') {
            kept[static_cast<std::size_t>(i)] = '0';
            --i;
        }
        if (i >= 0)
            ++kept[static_cast<std::size_t>(i)];
        else
            kept.insert(kept.begin(), '1'); // 9.99 -> 10.0: one more digit in front
    }
    if (kept.empty() || kept.find_first_not_of('0') == std::string::npos)
        return 0.0;

    // kept holds the digits from 10^exponent down to 10^-decimals.
    const std::string text = kept + "e" + std::to_string(-static_cast<int64_t>(decimals));
    double result = 0.0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), result);
    if (parsed.ec != std::errc())
        return value;
    return value < 0 ? -result : result;
}

namespace orvlib {

bool StrToDbl(std::string_view text, double& value) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t digitsStart = i;
    // The digits as a whole number, of use while there are at most 15 of them.
    uint64_t whole = 0;
    std::size_t integerDigits = 0;
    for (; i < n && IsDigit(text[i]); ++i, ++integerDigits)
        whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
    std::size_t fractionDigits = 0;
    if (i < n && (text[i] == ',' || text[i] == '.')) {
        ++i;
        for (; i < n && IsDigit(text[i]); ++i, ++fractionDigits)
            whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (i != n || integerDigits + fractionDigits == 0)
        return false;

    double parsed = 0.0;
    if (integerDigits + fractionDigits <= 15) {
        // The whole number and the power of ten are both exact doubles, so one division gives
        // the correctly rounded value, as the general conversion below would.
        static const double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        parsed = static_cast<double>(whole) / kPowers[fractionDigits];
    } else {
        std::string normalised;
        normalised.reserve(n + 2);
        if (integerDigits == 0)
            normalised.push_back('0');
        normalised.append(text.substr(digitsStart, integerDigits));
        if (fractionDigits > 0) {
            normalised.push_back('.');
            normalised.append(text.substr(digitsStart + integerDigits + 1, fractionDigits));
        }
        const auto result = std::from_chars(normalised.data(), normalised.data() + normalised.size(), parsed,
                                            std::chars_format::fixed);
        if (result.ptr != normalised.data() + normalised.size())
            return false;
        if (result.ec == std::errc::result_out_of_range) {
            // Too small to hold is zero; too large to hold is no usable number.
            const auto firstNonZero = normalised.find_first_not_of("0.");
            const auto point = normalised.find('.');
            const bool tooLarge =
                firstNonZero != std::string::npos && (point == std::string::npos || firstNonZero < point);
            if (tooLarge)
                return false;
            parsed = 0.0;
        } else if (result.ec != std::errc()) {
            return false;
        }
    }
    value = negative && parsed != 0.0 ? -parsed : parsed;
    return true;
}

namespace {

// printf's "%.15g" (in the C locale) of a normal, non-zero double, from the shortest digits
// that read back as it (found far faster than exact rounding to a precision). With at most 15
// of them they are the answer: the value lies closer to them than half a step of the 15-digit
// grid. With 16 or 17 they round to the same 15 digits as the value itself: the value and the
// shortest digits lie in its reading interval, and a halfway point between two 15-digit
// numbers (a 16-digit number ending in 5) inside that interval would have been chosen as the
// shortest digits, or lies beyond the value. Only shortest digits that are such a halfway
// point themselves leave the rounding open; then the function gives nullptr.
char* FormatLikePercentG15(double value, char* out) {
    char shortest[40];
    const auto result =
        std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
    // Layout: "-d.ddde-XX", sign and fraction optional.
    const char* p = shortest;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    char digits[24];
    int count = 0;
    for (; *p != 'e' && count < 20; ++p) {
        if (*p != '.')
            digits[count++] = *p;
    }
    if (*p != 'e' || count > 17)
        return nullptr;
    int exponent = 0;
    ++p;
    const bool negativeExponent = *p == '-';
    ++p;
    std::from_chars(p, result.ptr, exponent);
    if (negativeExponent)
        exponent = -exponent;

    if (count > 15) {
        if (count == 16 && digits[15] == '5')
            return nullptr;
        const bool up = digits[15] >= '5';
        count = 15;
        if (up) {
            int i = count - 1;
            for (; i >= 0 && digits[i] == '9'; --i)
                digits[i] = '0';
            if (i >= 0) {
                ++digits[i];
            } else {
                digits[0] = '1';
                ++exponent;
            }
        }
        while (count > 1 && digits[count - 1] == '0')
            --count;
    }

    char* q = out;
    if (negative)
        *q++ = '-';
    if (exponent < -4 || exponent >= 15) {
        *q++ = digits[0];
        if (count > 1) {
            *q++ = '.';
            q = std::copy(digits + 1, digits + count, q);
        }
        *q++ = 'e';
        *q++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10)
            *q++ = '0';
        q = std::to_chars(q, q + 4, magnitude).ptr;
    } else if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i)
            *q++ = i < count ? digits[i] : '0';
        if (count > exponent + 1) {
            *q++ = '.';
            q = std::copy(digits + exponent + 1, digits + count, q);
        }
    } else {
        *q++ = '0';
        *q++ = '.';
        q = std::fill_n(q, -exponent - 1, '0');
        q = std::copy(digits, digits + count, q);
    }
    return q;
}

} // namespace

std::size_t FormatDouble(double value, char decimalSeparator, char* out) {
    if (value == 0.0) {
        out[0] = '0'; // no "-0"
        return 1;
    }
    // Amounts and the like have a few decimals: when some whole number n of 10^-d gives back
    // the value (n / 10^d rounds to it), n 10^-d is within half a unit in the last place of
    // the value and thereby nearer than any other 15-digit decimal, so it is the value's 15
    // significant digits; from 10^-4 to 10^15 the general form writes those without exponent.
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-4 && magnitude < 1e15) {
        static const double kScales[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
        static const uint64_t kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
        for (std::size_t d = 0; d < sizeof kScales / sizeof kScales[0]; ++d) {
            const double scaled = std::nearbyint(magnitude * kScales[d]);
            if (scaled >= 1e15)
                break;
            if (scaled / kScales[d] != magnitude)
                continue;
            const auto n = static_cast<uint64_t>(scaled);
            char* end = out;
            if (value < 0)
                *end++ = '-';
            end = std::to_chars(end, out + kMaxFormattedDouble, n / kPowers[d]).ptr;
            uint64_t fraction = n % kPowers[d];
            if (fraction != 0) {
                std::size_t digits = d;
                while (fraction % 10 == 0) {
                    fraction /= 10;
                    --digits;
                }
                *end++ = decimalSeparator;
                for (std::size_t i = digits; i > 0; --i) {
                    end[i - 1] = static_cast<char>('0' + fraction % 10);
                    fraction /= 10;
                }
                end += digits;
            }
            return static_cast<std::size_t>(end - out);
        }
    }
    char* end = nullptr;
    if (magnitude >= DBL_MIN && magnitude <= DBL_MAX)
        end = FormatLikePercentG15(value, out);
    // Exact rounding: subnormals, NaN, the infinities and the rare halfway case.
    if (!end)
        end = std::to_chars(out, out + kMaxFormattedDouble, value, std::chars_format::general, 15).ptr;
    const auto length = static_cast<std::size_t>(end - out);
    if (decimalSeparator != '.') {
        for (std::size_t i = 0; i < length; ++i)
            if (out[i] == '.')
                out[i] = decimalSeparator;
    }
    return length;
}

std::string FormatDouble(double value, char decimalSeparator) {
    char text[kMaxFormattedDouble];
    return std::string(text, FormatDouble(value, decimalSeparator, text));
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

namespace {

// What this process knows of the local time zone, under one lock.
struct ZoneState {
    std::mutex mutex;
    bool looked = false;
    bool hadTz = false;
    std::string lastTz;
    std::chrono::steady_clock::time_point lastLookup;
    uint64_t generation = 0; // counts the look-ups
    // The offset found steady for one hour of local time (see SteadyUtcOffsetAt): the times
    // formatted are mostly of the current hour.
    bool steadyKnown = false;
    uint64_t steadyGeneration = 0;
    int64_t steadyHour = 0;
    long steadyOffset = 0;
};

ZoneState& Zone() {
    static ZoneState* const state = new ZoneState; // never destroyed: used up to the process's end
    return *state;
}

// glibc reads the zone description again (a stat of /etc/localtime when TZ is unset) in every
// tzset and mktime, and a send formats two times. The zone is looked up again when TZ has
// changed, and otherwise at most once a second, so that a new system zone still shows soon.
// Returns the generation of the look-up now in force.
uint64_t RefreshTimeZone() {
    ZoneState& zone = Zone();
    const char* tz = std::getenv("TZ");
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> lock(zone.mutex);
    if (zone.looked && (tz != nullptr) == zone.hadTz && (tz == nullptr || zone.lastTz == tz) &&
        now - zone.lastLookup < std::chrono::seconds(1))
        return zone.generation;
    tzset();
    zone.looked = true;
    zone.hadTz = tz != nullptr;
    zone.lastTz = tz != nullptr ? tz : "";
    zone.lastLookup = now;
    zone.steadyKnown = false;
    return ++zone.generation;
}

bool KnownSteadyOffset(uint64_t generation, int64_t localHour, long& offset) {
    ZoneState& zone = Zone();
    const std::lock_guard<std::mutex> lock(zone.mutex);
    if (!zone.steadyKnown || zone.steadyGeneration != generation || zone.steadyHour != localHour)
        return false;
    offset = zone.steadyOffset;
    return true;
}

void RememberSteadyOffset(uint64_t generation, int64_t localHour, long offset) {
    ZoneState& zone = Zone();
    const std::lock_guard<std::mutex> lock(zone.mutex);
    if (zone.generation != generation)
        return; // the zone was looked up again meanwhile
    zone.steadyKnown = true;
    zone.steadyGeneration = generation;
    zone.steadyHour = localHour;
    zone.steadyOffset = offset;
}

bool UtcOffsetAt(int64_t utcSeconds, long& offset) {
    const time_t t = static_cast<time_t>(utcSeconds);
    struct tm local {};
    if (!localtime_r(&t, &local))
        return false;
    offset = local.tm_gmtoff;
    return true;
}

// The UTC offset at a local time (seconds since 1970-01-01 00:00 on the local clock) when no
// change of offset is within two days of it, so that the local time names exactly one instant.
// Near a change (a skipped or repeated hour) it gives false and mktime decides.
bool SteadyUtcOffsetAt(int64_t localSeconds, long& offset) {
    constexpr int64_t margin = 2 * 86400;
    long guess = 0;
    long at = 0;
    long before = 0;
    long after = 0;
    if (!UtcOffsetAt(localSeconds, guess) || !UtcOffsetAt(localSeconds - guess, at) || at != guess)
        return false;
    const int64_t instant = localSeconds - at;
    if (!UtcOffsetAt(instant - margin, before) || !UtcOffsetAt(instant + margin, after) || before != at ||
        after != at)
        return false;
    offset = at;
    return true;
}

// "YYYY-MM-DDThh:mm:ss.fff+hh:mm", written out directly: every request and trace carries one.
std::string Iso8601Text(int64_t year, unsigned month, unsigned day, int hour, int minute, int second,
                        int millis, long offsetSeconds) {
    const long offsetMinutes = std::lround(static_cast<double>(std::labs(offsetSeconds)) / 60.0);
    std::string text(29, '0');
    auto put = [&text](std::size_t at, long value, int width) {
        for (std::size_t i = at + static_cast<std::size_t>(width); i-- > at; value /= 10)
            text[i] = static_cast<char>('0' + value % 10);
    };
    put(0, static_cast<long>(year), 4);
    text[4] = '-';
    put(5, static_cast<long>(month), 2);
    text[7] = '-';
    put(8, static_cast<long>(day), 2);
    text[10] = 'T';
    put(11, hour, 2);
    text[13] = ':';
    put(14, minute, 2);
    text[16] = ':';
    put(17, second, 2);
    text[19] = '.';
    put(20, millis, 3);
    text[23] = offsetSeconds < 0 ? '-' : '+';
    put(24, offsetMinutes / 60, 2);
    text[26] = ':';
    put(27, offsetMinutes % 60, 2);
    return text;
}

} // namespace

double Now() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    int64_t seconds = ms / 1000;
    int64_t millis = ms % 1000;
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const time_t t = static_cast<time_t>(seconds);
    RefreshTimeZone(); // localtime_r need not notice a changed TZ on its own
    struct tm local {};
    if (!localtime_r(&t, &local))
        return 0.0;
    const int64_t days =
        DaysFromCivil(static_cast<int64_t>(local.tm_year) + 1900, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) -
        kEpochOffsetDays;
    const int64_t dayMs = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * int64_t{1000} + millis;
    return static_cast<double>(days) + static_cast<double>(dayMs) / static_cast<double>(kMillisecondsPerDay);
}

std::string FormatIso8601(double dateTime) {
    // 0001-01-01 up to 9999-12-31, the years four digits can show.
    const double first = static_cast<double>(DaysFromCivil(1, 1, 1) - kEpochOffsetDays);
    const double last = static_cast<double>(DaysFromCivil(10000, 1, 1) - kEpochOffsetDays);
    if (!std::isfinite(dateTime) || dateTime <= first - 1 || dateTime >= last)
        return {};

    // The whole part counts days; the fraction is the time of day, also before day 0.
    int64_t days = static_cast<int64_t>(std::trunc(dateTime));
    int64_t dayMs = std::llround(std::fabs(dateTime - std::trunc(dateTime)) * kMillisecondsPerDay);
    if (dayMs >= kMillisecondsPerDay) {
        dayMs -= kMillisecondsPerDay;
        days += dateTime < 0 ? -1 : 1;
    }
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days + kEpochOffsetDays, year, month, day);
    if (year < 1 || year > 9999)
        return {};

    const int hour = static_cast<int>(dayMs / 3600000);
    const int minute = static_cast<int>(dayMs / 60000 % 60);
    const int second = static_cast<int>(dayMs / 1000 % 60);
    const int millis = static_cast<int>(dayMs % 1000);

    // The offset that applies at this local time, summer time included. An hour two days or
    // more from any change of offset has one offset throughout.
    const uint64_t generation = RefreshTimeZone();
    long offsetSeconds = 0;
    const int64_t localSeconds = (days + kEpochOffsetDays) * 86400 + dayMs / 1000;
    const int64_t localHour = (localSeconds >= 0 ? localSeconds : localSeconds - 3599) / 3600;
    if (!KnownSteadyOffset(generation, localHour, offsetSeconds)) {
        if (SteadyUtcOffsetAt(localSeconds, offsetSeconds)) {
            RememberSteadyOffset(generation, localHour, offsetSeconds);
        } else {
            struct tm local {};
            local.tm_year = static_cast<int>(year - 1900);
            local.tm_mon = static_cast<int>(month) - 1;
            local.tm_mday = static_cast<int>(day);
            local.tm_hour = hour;
            local.tm_min = minute;
            local.tm_sec = second;
            local.tm_isdst = -1;
            mktime(&local);
            offsetSeconds = local.tm_gmtoff;
        }
    }
    return Iso8601Text(year, month, day, hour, minute, second, millis, offsetSeconds);
}

bool TryParseInt64(const std::string& text, int64_t& value) {
    return TryParseSigned(text, value);
}

bool TryParseInt32(const std::string& text, int32_t& value) {
    return TryParseSigned(text, value);
}

} // namespace orvlib
