#include "OrvLib.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <locale>
#include <random>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <utility>
#include <vector>

using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

// A C++ locale that writes and reads numbers with a decimal comma, to show that the
// conversions do not depend on the global locale.
struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

class ScopedCommaLocale {
public:
    ScopedCommaLocale()
        : previous_(std::locale::global(std::locale(std::locale::classic(), new CommaPunct))) {}
    ~ScopedCommaLocale() { std::locale::global(previous_); }
    ScopedCommaLocale(const ScopedCommaLocale&) = delete;
    ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

private:
    std::locale previous_;
};

// Sets TZ for the lifetime of the object and makes the C library notice it, also when restored.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const std::string& zone) : env_("TZ", zone) { tzset(); }

private:
    struct TzsetOnExit {
        ~TzsetOnExit() { tzset(); }
    };
    TzsetOnExit tzsetOnExit_; // destroyed after env_ has put TZ back
    ScopedEnv env_;
};

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(0, stat(path.c_str(), &info)) << path;
    return info.st_mode & 07777;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

TEST(StrToDblTest, AcceptsSignedDecimalsWithCommaOrPoint) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"0", 0.0},
        {"42", 42.0},
        {"-42", -42.0},
        {"+42", 42.0},
        {"2,5", 2.5},
        {"2.5", 2.5},
        {"-0,01", -0.01},
        {"+1.005", 1.005},
        {"007,50", 7.5},
        {"5,", 5.0},
        {"5.", 5.0},
        {",5", 0.5},
        {".5", 0.5},
        {"-,25", -0.25},
        {"1234567,89", 1234567.89},
        {"0,1", 0.1},
        {"123456789012345678901234567890", 1.2345678901234568e29},
    };
    for (const auto& [text, expected] : cases) {
        double value = -999.0;
        EXPECT_TRUE(orvlib::StrToDbl(text, value)) << text;
        EXPECT_EQ(expected, value) << text;
    }
}

TEST(StrToDblTest, RejectsEverythingElseAndLeavesValueUntouched) {
    const std::vector<std::string> cases = {
        "",
        " ",
        " 1",
        "1 ",
        "1 000",
        "+",
        "-",
        ",",
        ".",
        "+,",
        "--1",
        "+-1",
        "-+1",
        "1,2,3",
        "1.2.3",
        "1,2.3",
        "1e5",
        "1E5",
        "1,5e-3",
        "inf",
        "-inf",
        "nan",
        "NaN",
        "0x1A",
        "1a",
        "a1",
        "12%",
        "\t1",
        "1\n",
        "١٢",
        "1,,2",
        "1..2",
        "€1",
        "1_000",
        std::string("1\0", 2),
        // Beyond what a double can hold.
        "1" + std::string(400, '0'),
    };
    for (const auto& text : cases) {
        double value = -999.0;
        EXPECT_FALSE(orvlib::StrToDbl(text, value)) << "'" << text << "'";
        EXPECT_EQ(-999.0, value) << text;
    }
}

TEST(StrToDblTest, TinyValuesReadAsZero) {
    double value = -999.0;
    ASSERT_TRUE(orvlib::StrToDbl("0," + std::string(400, '0') + "1", value));
    EXPECT_EQ(0.0, value);
    ASSERT_TRUE(orvlib::StrToDbl("-0", value));
    EXPECT_FALSE(std::signbit(value)) << "no negative zero";
}

TEST(StrToDblTest, IgnoresTheGlobalLocale) {
    ScopedCommaLocale comma;
    double value = 0.0;
    ASSERT_TRUE(orvlib::StrToDbl("2.5", value));
    EXPECT_EQ(2.5, value);
    ASSERT_TRUE(orvlib::StrToDbl("2,5", value));
    EXPECT_EQ(2.5, value);
    EXPECT_FALSE(orvlib::StrToDbl("1.000,5", value));
    EXPECT_EQ("2,5", orvlib::FormatDouble(2.5, ','));
    EXPECT_EQ("1234.5", orvlib::FormatDouble(1234.5, '.'));
}

TEST(RondafTest, RoundsHalfAwayFromZeroOnTheShownValue) {
    struct Case {
        double value;
        int decimals;
        double expected;
    };
    const std::vector<Case> cases = {
        {1.005, 2, 1.01},
        {-1.005, 2, -1.01},
        {-2.675, 2, -2.68},
        {2.675, 2, 2.68},
        {2.5, 0, 3.0},
        {-2.5, 0, -3.0},
        {0.5, 0, 1.0},
        {-0.5, 0, -1.0},
        {1.5, 0, 2.0},
        {0.285, 2, 0.29},
        {1.004999, 2, 1.0},
        {1.0049, 3, 1.005},
        {9.995, 2, 10.0},
        {-9.995, 2, -10.0},
        {99.5, 0, 100.0},
        {999.9999, 3, 1000.0},
        {0.006, 2, 0.01},
        {0.004, 2, 0.0},
        {0.0004, 2, 0.0},
        {-0.004, 2, 0.0},
        {1e-20, 2, 0.0},
        {12.3456, 0, 12.0},
        {12.3456, 1, 12.3},
        {12.3456, 3, 12.346},
        {1.15 * 3, 1, 3.5},
        {0.1 + 0.2, 2, 0.3},
        {150.0, 0, 150.0},
        {2.99 * 100, 0, 299.0},
        {0.1 * 100, 0, 10.0},
        {1.5 * 100, 0, 150.0},
        // Nothing to round within the digits shown: unchanged, exact.
        {12345678901234567.0, 2, 12345678901234567.0},
        {1e20, 2, 1e20},
        {-1e300, 0, -1e300},
        {0.125, 15, 0.125},
        {0.1, 15, 0.1},
        {std::numeric_limits<double>::max(), 2, std::numeric_limits<double>::max()},
        {std::numeric_limits<double>::denorm_min(), 2, 0.0},
        {0.0, 2, 0.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, rondaf(c.value, c.decimals)) << c.value << " to " << c.decimals;
}

TEST(RondafTest, NonFiniteValuesAndZeroSign) {
    EXPECT_TRUE(std::isnan(rondaf(std::nan(""), 2)));
    EXPECT_EQ(std::numeric_limits<double>::infinity(), rondaf(std::numeric_limits<double>::infinity(), 2));
    EXPECT_EQ(-std::numeric_limits<double>::infinity(), rondaf(-std::numeric_limits<double>::infinity(), 0));
    EXPECT_FALSE(std::signbit(rondaf(-0.001, 2)));
    EXPECT_FALSE(std::signbit(rondaf(-0.0, 2)));
}

// What the configuration file relies on: amounts with two decimals survive being stored as
// whole hundredths and read back.
TEST(RondafTest, HundredthsRoundTrip) {
    for (int64_t cents = -1000000; cents <= 1000000; cents += 7) {
        const double amount = rondaf(static_cast<double>(cents) / 100.0, 2);
        const double stored = rondaf(amount * 100.0, 0);
        ASSERT_EQ(static_cast<double>(cents), stored) << cents;
        ASSERT_EQ(amount, rondaf(stored / 100.0, 2)) << cents;
        ASSERT_EQ(amount, rondaf(amount, 2)) << "rounding twice changes " << cents;
    }
}

// Amounts near whole cents (noise far below what is shown) and ties as shown, over a wide range:
// the result is the double nearest to the rounded decimal value.
TEST(RondafTest, NearAndHalfCentsOverAWideRange) {
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int64_t> centsOf(-100000000, 100000000);
    std::uniform_real_distribution<double> noise(-5e-9, 5e-9);
    for (int i = 0; i < 20000; ++i) {
        const int64_t cents = centsOf(random);
        const double exact = static_cast<double>(cents) / 100;
        ASSERT_EQ(exact, rondaf(exact + noise(random), 2)) << cents;
        const double tie = (static_cast<double>(cents) + 0.5) / 100;
        const int64_t away = tie > 0 ? cents + 1 : cents;
        ASSERT_EQ(static_cast<double>(away) / 100, rondaf(tie, 2)) << tie;
        ASSERT_EQ(static_cast<double>(cents), rondaf(exact * 100, 0)) << cents;
    }
}

TEST(FormatDoubleTest, ShortestGeneralFormUpTo15Digits) {
    const std::vector<std::tuple<double, char, std::string>> cases = {
        {0.1, '.', "0.1"},
        {21.0, ',', "21"},
        {2.5, ',', "2,5"},
        {2.5, '.', "2.5"},
        {-2.5, ',', "-2,5"},
        {1e20, ',', "1e+20"},
        {1e-5, ',', "1e-05"},
        {0.0001, ',', "0,0001"},
        {0.1 + 0.2, ',', "0,3"},
        {1.15 * 3, '.', "3.45"},
        {123456789012345.0, '.', "123456789012345"},
        {1234567890123456.0, '.', "1.23456789012346e+15"},
        {1.0 / 3.0, ',', "0,333333333333333"},
        {0.0, ',', "0"},
        {-0.0, ',', "0"},
        {1e100, '.', "1e+100"},
        {-1.5e-300, ',', "-1,5e-300"},
    };
    for (const auto& [value, separator, expected] : cases)
        EXPECT_EQ(expected, orvlib::FormatDouble(value, separator)) << value;
}

// Against the C library: "%.15g" is the same general form, and every value must come out as
// it would there, whichever way the conversion takes (amounts with few decimals, products of
// amounts, values of every size).
TEST(FormatDoubleTest, SameTextAsTheCLibraryForAmountsProductsAndAnySize) {
    std::mt19937_64 random(11);
    std::uniform_int_distribution<int64_t> cents(-10000000000, 10000000000);
    std::uniform_int_distribution<int> exponent(-12, 18);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::vector<double> values;
    for (int i = 0; i < 20000; ++i) {
        const double amount = static_cast<double>(cents(random)) / 100;
        values.push_back(amount);
        values.push_back(amount * 0.85 - 0.5);
        values.push_back(static_cast<double>(cents(random)) / 1000000);
        values.push_back((i % 2 ? -1 : 1) * mantissa(random) * std::pow(10.0, exponent(random)));
    }
    for (const double edge : {1e-4, 9.9999999999999e-5, 0.00010000000000000001, 999999999999999.0, 1e15,
                              999999999999999.9, 0.1, 0.3, 1.0 / 3, 2.0 / 3, 1e-300, 5e-324})
        values.push_back(edge);
    for (const double value : values) {
        if (value == 0.0)
            continue;
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15g", value);
        ASSERT_EQ(expected, orvlib::FormatDouble(value, '.')) << value;
        std::string withComma = expected;
        for (char& c : withComma)
            if (c == '.')
                c = ',';
        ASSERT_EQ(withComma, orvlib::FormatDouble(value, ',')) << value;
    }
}

// Against strtod: decimal texts of up to 20 digits, with a point or a comma, read as the nearest double.
TEST(StrToDblTest, SameValueAsStrtodForShortAndLongDecimals) {
    std::mt19937_64 random(5);
    std::uniform_int_distribution<int> digitCount(0, 12);
    std::uniform_int_distribution<int> digit(0, 9);
    for (int i = 0; i < 50000; ++i) {
        std::string integer, fraction;
        for (int n = digitCount(random); n > 0; --n)
            integer += static_cast<char>('0' + digit(random));
        for (int n = digitCount(random) - 2; n > 0; --n)
            fraction += static_cast<char>('0' + digit(random));
        if (integer.empty() && fraction.empty())
            continue;
        const std::string sign = i % 3 == 0 ? "-" : (i % 3 == 1 ? "+" : "");
        const std::string withPoint = sign + integer + (fraction.empty() && i % 2 ? "" : ".") + fraction;
        std::string withComma = withPoint;
        for (char& c : withComma)
            if (c == '.')
                c = ',';
        const double expected = std::strtod(withPoint.c_str(), nullptr);
        double value = 42.0;
        ASSERT_TRUE(orvlib::StrToDbl(withComma, value)) << withComma;
        ASSERT_EQ(expected, value) << withComma;
        if (value == 0.0) {
            ASSERT_FALSE(std::signbit(value)) << "no negative zero: " << withComma;
        }
        value = 42.0;
        ASSERT_TRUE(orvlib::StrToDbl(withPoint, value)) << withPoint;
        ASSERT_EQ(expected, value) << withPoint;
    }
}

namespace {

// The rule of rondaf written out the long way: the value's 15 significant digits as text,
// rounded half away from zero at the given decimal, read back with strtod.
double RoundShownValue(double value, int decimals) {
    char shown[64];
    std::snprintf(shown, sizeof shown, "%.14e", std::fabs(value));
    std::string digits = std::string(1, shown[0]) + std::string(shown + 2, 14);
    const int exponent = std::atoi(shown + 17);
    const int keep = exponent + decimals + 1;
    if (keep >= 15)
        return value;
    if (keep < 0)
        return 0.0;
    std::string kept = digits.substr(0, static_cast<std::size_t>(keep));
    if (digits[static_cast<std::size_t>(keep)] >= '5') {
        int i = keep - 1;
        for (; i >= 0 && kept[static_cast<std::size_t>(i)] == '9'; --i)
            kept[static_cast<std::size_t>(i)] = '0';
        if (i >= 0)
            ++kept[static_cast<std::size_t>(i)];
        else
            kept.insert(kept.begin(), '1');
    }
    if (kept.find_first_not_of('0') == std::string::npos)
        return 0.0;
    const double result = std::strtod((kept + "e" + std::to_string(-decimals)).c_str(), nullptr);
    return value < 0 ? -result : result;
}

} // namespace

// Line totals and the like: products of amounts, values just beside a half, ties as shown and
// values of every size, to 0, 2 and 4 decimals, all as the long way gives them.
TEST(RondafTest, SameAsRoundingTheShownDigitsForProductsNearHalvesAndAnySize) {
    std::mt19937_64 random(3);
    std::uniform_int_distribution<int64_t> cents(-100000000, 100000000);
    std::uniform_int_distribution<int> exponent(-10, 16);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> ulps(-40, 40);
    for (int i = 0; i < 30000; ++i) {
        std::vector<double> values;
        const double amount = static_cast<double>(cents(random)) / 100;
        values.push_back(amount * 1.5 * 0.9 - 0.25);
        values.push_back((static_cast<double>(cents(random)) + 0.5) / 100);
        // A few units in the last place beside a half cent.
        double half = (static_cast<double>(cents(random)) + 0.5) / 100;
        for (int n = ulps(random); n != 0; n += n > 0 ? -1 : 1)
            half = std::nextafter(half, n > 0 ? 1e300 : -1e300);
        values.push_back(half);
        values.push_back((i % 2 ? -1 : 1) * mantissa(random) * std::pow(10.0, exponent(random)));
        for (const double value : values)
            for (const int decimals : {0, 2, 4})
                ASSERT_EQ(RoundShownValue(value, decimals), rondaf(value, decimals))
                    << value << " to " << decimals;
    }
}

TEST(TryParseIntTest, SignedDecimalDigitsInRange) {
    int64_t v64 = 7;
    EXPECT_TRUE(orvlib::TryParseInt64("9223372036854775807", v64));
    EXPECT_EQ(INT64_MAX, v64);
    EXPECT_TRUE(orvlib::TryParseInt64("-9223372036854775808", v64));
    EXPECT_EQ(INT64_MIN, v64);
    EXPECT_TRUE(orvlib::TryParseInt64("+0042", v64));
    EXPECT_EQ(42, v64);
    EXPECT_TRUE(orvlib::TryParseInt64("-0", v64));
    EXPECT_EQ(0, v64);

    int32_t v32 = 7;
    EXPECT_TRUE(orvlib::TryParseInt32("2147483647", v32));
    EXPECT_EQ(INT32_MAX, v32);
    EXPECT_TRUE(orvlib::TryParseInt32("-2147483648", v32));
    EXPECT_EQ(INT32_MIN, v32);
    EXPECT_TRUE(orvlib::TryParseInt32("+250", v32));
    EXPECT_EQ(250, v32);

    for (const std::string text :
         {"", "+", "-", " 1", "1 ", "--1", "+-1", "-+1", "++1", "1.0", "1,0", "1e3", "0x10", "12a", "a12",
          "9223372036854775808", "-9223372036854775809", "99999999999999999999999"}) {
        int64_t value = 7;
        EXPECT_FALSE(orvlib::TryParseInt64(text, value)) << "'" << text << "'";
        EXPECT_EQ(7, value) << text;
    }
    for (const std::string text : {"", "+", "2147483648", "-2147483649", "4294967298", " 5", "5,0"}) {
        int32_t value = 7;
        EXPECT_FALSE(orvlib::TryParseInt32(text, value)) << "'" << text << "'";
        EXPECT_EQ(7, value) << text;
    }
}

TEST(JoinPathTest, OneSeparatorBetweenFolderAndName) {
    EXPECT_EQ("/a/b/config.ini", orvlib::JoinPath("/a/b", "config.ini"));
    EXPECT_EQ("/a/b/config.ini", orvlib::JoinPath("/a/b/", "config.ini"));
    EXPECT_EQ("/a/b/config.ini", orvlib::JoinPath("/a/b", "/config.ini"));
    EXPECT_EQ("/config.ini", orvlib::JoinPath("/", "config.ini"));
    EXPECT_EQ("config.ini", orvlib::JoinPath("", "config.ini"));
}

TEST(AppDataPathTest, CreatesPrivateFolderUnderXdgDataHome) {
    TempDir temp;
    const std::string base = temp.File("deep/er");
    ScopedEnv xdg("XDG_DATA_HOME", base);
    const std::string path = orvlib::GetUserLocalAppDataPath();
    EXPECT_EQ(base + "/OrvelWebhookTester", path);
    ASSERT_TRUE(IsFolder(path));
    EXPECT_EQ(0700u, ModeOf(path));
    EXPECT_EQ(0700u, ModeOf(temp.File("deep")));

    // A second call finds the folder and leaves a mode the user chose alone.
    ASSERT_EQ(0, chmod(path.c_str(), 0750));
    EXPECT_EQ(path, orvlib::GetUserLocalAppDataPath());
    EXPECT_EQ(0750u, ModeOf(path));
}

TEST(AppDataPathTest, FallsBackToHomeWhenXdgDataHomeIsEmptyOrUnset) {
    TempDir temp;
    ScopedEnv home("HOME", temp.Path());
    {
        ScopedEnv xdg("XDG_DATA_HOME", "");
        EXPECT_EQ(temp.Path() + "/.local/share/OrvelWebhookTester", orvlib::GetUserLocalAppDataPath());
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "x");
        unsetenv("XDG_DATA_HOME");
        EXPECT_EQ(temp.Path() + "/.local/share/OrvelWebhookTester", orvlib::GetUserLocalAppDataPath());
    }
    EXPECT_TRUE(IsFolder(temp.File(".local/share/OrvelWebhookTester")));
}

TEST(AppDataPathTest, ThrowsWithPathAndReasonWhenAFileIsInTheWay) {
    TempDir temp;
    testsupport::WriteFile(temp.File("blocker"), "not a folder");
    {
        ScopedEnv xdg("XDG_DATA_HOME", temp.File("blocker"));
        try {
            orvlib::GetUserLocalAppDataPath();
            FAIL() << "no exception";
        } catch (const std::runtime_error& e) {
            const std::string message = e.what();
            EXPECT_NE(std::string::npos, message.find(temp.File("blocker"))) << message;
            EXPECT_NE(std::string::npos, message.find(std::strerror(ENOTDIR))) << message;
        }
    }
    {
        testsupport::WriteFile(temp.File("OrvelWebhookTester"), "a file named like the folder");
        ScopedEnv xdg("XDG_DATA_HOME", temp.Path());
        try {
            orvlib::GetUserLocalAppDataPath();
            FAIL() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(temp.File("OrvelWebhookTester")))
                << e.what();
        }
    }
}

TEST(DateTimeTest, FormatsLocalTimeWithTheOffsetThatAppliesThen) {
    // 2024-01-15 is day 45306 and 2024-07-01 day 45474 counted from 1899-12-30.
    const double winterNoon = 45306 + (12 * 3600 + 34 * 60 + 56.789) / 86400.0;
    const double summerEvening = 45474 + (21 * 3600 + 5 * 60 + 0.001) / 86400.0;
    {
        ScopedTimeZone tz("Europe/Amsterdam");
        EXPECT_EQ("2024-01-15T12:34:56.789+01:00", orvlib::FormatIso8601(winterNoon));
        EXPECT_EQ("2024-07-01T21:05:00.001+02:00", orvlib::FormatIso8601(summerEvening));
        EXPECT_EQ("1899-12-30T00:00:00.000", orvlib::FormatIso8601(0.0).substr(0, 23));
    }
    {
        ScopedTimeZone tz("America/St_Johns");
        EXPECT_EQ("2024-01-15T12:34:56.789-03:30", orvlib::FormatIso8601(winterNoon));
        EXPECT_EQ("2024-07-01T21:05:00.001-02:30", orvlib::FormatIso8601(summerEvening));
    }
    {
        ScopedTimeZone tz("UTC");
        EXPECT_EQ("2024-01-15T12:34:56.789+00:00", orvlib::FormatIso8601(winterNoon));
        // The last millisecond of a day rounds within that day, the next one to midnight.
        EXPECT_EQ("2000-01-01T23:59:59.999+00:00", orvlib::FormatIso8601(36526 + 86399.999 / 86400.0));
        EXPECT_EQ("2000-01-02T00:00:00.000+00:00", orvlib::FormatIso8601(36527 - 0.0000001 / 86400.0));
        // Before day 0 the fraction is still the time of day.
        EXPECT_EQ("1899-12-29T06:00:00.000+00:00", orvlib::FormatIso8601(-1.25));
    }
    EXPECT_EQ("", orvlib::FormatIso8601(std::nan("")));
    EXPECT_EQ("", orvlib::FormatIso8601(1e12));
}

TEST(DateTimeTest, NowIsTheLocalClockInDays) {
    double utcNow = 0.0;
    time_t before = 0;
    {
        ScopedTimeZone tz("UTC");
        before = time(nullptr);
        utcNow = orvlib::Now();
    }
    // 1970-01-01 is day 25569.
    const double expected = 25569.0 + static_cast<double>(before) / 86400.0;
    EXPECT_NEAR(expected, utcNow, 2.0 / 86400.0);

    ScopedTimeZone tz("Asia/Kolkata"); // +05:30 all year
    const double localNow = orvlib::Now();
    EXPECT_NEAR(5.5 / 24.0, localNow - utcNow, 2.0 / 86400.0);
    const std::string shown = orvlib::FormatIso8601(localNow);
    EXPECT_EQ("+05:30", shown.substr(shown.size() - 6)) << shown;
}
