// The UTC offset shown with a local date-time must be the offset mktime gives (what the tester
// always showed) at every local time, including the skipped and repeated hours around a change
// of offset, rounded to the minute as shown.
#include "OrvLib.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using testsupport::ScopedEnv;

// 1899-12-30, day 0 of the date-time doubles, counted from 1970-01-01.
constexpr int64_t kDayZero = -25569;

// The offset mktime gives for a local time, as "+HH:MM".
std::string MktimeOffset(int64_t localSeconds) {
    const time_t asUtc = static_cast<time_t>(localSeconds);
    struct tm fields {};
    gmtime_r(&asUtc, &fields);
    fields.tm_isdst = -1;
    mktime(&fields);
    const long offset = fields.tm_gmtoff;
    // Local mean time offsets have seconds; they show rounded to the minute.
    const long minutes = (std::labs(offset) + 30) / 60;
    char text[32];
    std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::string ShownOffset(int64_t localSeconds) {
    const double dateTime = static_cast<double>(localSeconds) / 86400.0 - static_cast<double>(kDayZero);
    const std::string shown = orvlib::FormatIso8601(dateTime);
    return shown.size() >= 6 ? shown.substr(shown.size() - 6) : shown;
}

// The instants (UTC seconds) at which the zone's offset changes, found hour by hour.
std::vector<int64_t> OffsetChanges(int firstYear, int lastYear) {
    std::vector<int64_t> changes;
    struct tm start {};
    start.tm_year = firstYear - 1900;
    start.tm_mday = 1;
    const int64_t from = static_cast<int64_t>(timegm(&start));
    start.tm_year = lastYear + 1 - 1900;
    const int64_t to = static_cast<int64_t>(timegm(&start));
    long previous = 0;
    for (int64_t t = from; t < to; t += 3600) {
        const time_t instant = static_cast<time_t>(t);
        struct tm local {};
        localtime_r(&instant, &local);
        if (t != from && local.tm_gmtoff != previous)
            changes.push_back(t);
        previous = local.tm_gmtoff;
    }
    return changes;
}

TEST(LocalTimeOffset, MatchesMktimeAroundEveryChangeOfOffset) {
    struct Zone {
        const char* name;
        int firstYear;
        int lastYear;
        bool changes; // whether the offset changes in those years
    };
    // Summer time of an hour and of half an hour, half-hour zones, a skipped day (Apia, 2011)
    // and local mean time before the first change (Amsterdam, 1899).
    const Zone zones[] = {{"Europe/Amsterdam", 1899, 1900, false},
                          {"Europe/Amsterdam", 2023, 2025, true},
                          {"America/St_Johns", 2024, 2024, true},
                          {"Australia/Lord_Howe", 2024, 2024, true},
                          {"Pacific/Apia", 2011, 2012, true},
                          {"Asia/Kolkata", 2024, 2024, false},
                          {"UTC", 2024, 2024, false}};
    for (const Zone& zone : zones) {
        ScopedEnv tz("TZ", zone.name);
        tzset();
        const std::vector<int64_t> changes = OffsetChanges(zone.firstYear, zone.lastYear);
        std::vector<int64_t> localTimes;
        // Every 10 minutes for a day and a half around each change, on the local clock.
        for (int64_t change : changes)
            for (int64_t local = change - 86400; local <= change + 2 * 86400; local += 600)
                localTimes.push_back(local);
        // And spread over the years, away from the changes.
        struct tm first {};
        first.tm_year = zone.firstYear - 1900;
        first.tm_mday = 1;
        for (int64_t local = static_cast<int64_t>(timegm(&first)), i = 0; i < 400; ++i)
            localTimes.push_back(local + i * 86400 + (i * 7919) % 86400);
        for (int64_t local : localTimes) {
            ASSERT_EQ(MktimeOffset(local), ShownOffset(local)) << zone.name << " at local " << local;
        }
        EXPECT_EQ(zone.changes, !changes.empty()) << zone.name;
    }
    tzset();
}

TEST(LocalTimeOffset, AChangedTimeZoneShowsAtOnce) {
    // 2024-07-01 12:00 local time.
    const double summerNoon = 45474.5;
    {
        ScopedEnv tz("TZ", "Asia/Kolkata");
        EXPECT_EQ("2024-07-01T12:00:00.000+05:30", orvlib::FormatIso8601(summerNoon));
    }
    {
        ScopedEnv tz("TZ", "America/St_Johns");
        EXPECT_EQ("2024-07-01T12:00:00.000-02:30", orvlib::FormatIso8601(summerNoon));
    }
    {
        ScopedEnv tz("TZ", "UTC");
        const double utcNow = orvlib::Now();
        EXPECT_EQ("+00:00", orvlib::NowIso8601().substr(23));
        ScopedEnv other("TZ", "Asia/Kolkata");
        EXPECT_NEAR(5.5 / 24.0, orvlib::Now() - utcNow, 2.0 / 86400.0);
        EXPECT_EQ("+05:30", orvlib::NowIso8601().substr(23));
    }
    tzset();
}

TEST(LocalTimeOffset, TheCurrentTimeShowsWithTheZonesOffset) {
    std::string (*const readings[])() = {[] { return orvlib::FormatIso8601(orvlib::Now()); },
                                         orvlib::NowIso8601};
    for (const auto reading : readings) {
        for (const char* zone : {"UTC", "Asia/Kolkata", "America/St_Johns", "Europe/Amsterdam"}) {
            ScopedEnv tz("TZ", zone);
            tzset();
            // The C library's own reading of the same second, from the clock the reading uses
            // (time() may lag it by a tick); retried when that second ends during the reading.
            std::string formatted;
            time_t before = 0;
            time_t after = 0;
            do {
                before = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
                formatted = reading();
                after = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
            } while (before != after);
            struct tm local {};
            ASSERT_NE(localtime_r(&before, &local), nullptr);
            char text[32];
            strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
            const std::string expected = text;
            EXPECT_EQ(formatted.substr(0, 19), expected) << zone;
            const long offsetMinutes = local.tm_gmtoff / 60;
            char offset[32];
            std::snprintf(offset, sizeof offset, "%c%02ld:%02ld", offsetMinutes < 0 ? '-' : '+',
                          std::labs(offsetMinutes) / 60, std::labs(offsetMinutes) % 60);
            EXPECT_EQ(formatted.substr(23), offset) << zone;
            EXPECT_EQ(29u, formatted.size()) << formatted;
        }
    }
    tzset();
}

} // namespace
