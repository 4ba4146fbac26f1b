#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/DeviceLocale.h"
#include "platform/foundation/NSDateFormatter.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSTimeZone.h"

namespace {

// 2026-12-07 04:01:02.345 UTC, a Monday.
const NSDate kDate = NSDate::dateWithTimeIntervalSince1970(1796616062.345);

Ref<NSDateFormatter> formatter(const std::string& pattern, const char* zone = "UTC") {
    auto f = NSDateFormatter::alloc<NSDateFormatter>()->init();
    f->setDateFormat(pattern);
    f->setTimeZone(NSTimeZone::timeZoneWithName(zone));
    return f;
}

bool haveZoneDatabase() { return std::filesystem::exists("/usr/share/zoneinfo/America/New_York"); }

TEST(NSDateFormatter, PatternLetters) {
    EXPECT_EQ(formatter("yyyy-MM-dd HH:mm:ss.SSS")->stringFromDate(kDate), "2026-12-07 04:01:02.345");
    EXPECT_EQ(formatter("y yy M MMM MMMM d EEE EEEE")->stringFromDate(kDate), "2026 26 12 Dec December 7 Mon Monday");
    EXPECT_EQ(formatter("h:mm a|hh|H|k|K")->stringFromDate(kDate), "4:01 AM|04|4|4|4");
    EXPECT_EQ(formatter("h a")->stringFromDate(NSDate::dateWithTimeIntervalSince1970(1796616062 + 8 * 3600)), "12 PM");
    EXPECT_EQ(formatter("h a")->stringFromDate(NSDate::dateWithTimeIntervalSince1970(1796616062 - 4 * 3600)), "12 AM");
    EXPECT_EQ(formatter("Z|ZZZZ|ZZZZZ")->stringFromDate(kDate), "+0000|GMT|Z");
    EXPECT_EQ(formatter("Z|ZZZZ|ZZZZZ|HH:mm", "GMT+5:30")->stringFromDate(kDate), "+0530|GMT+05:30|+05:30|09:31");
    EXPECT_EQ(formatter("Z", "GMT-08:00")->stringFromDate(kDate), "-0800");
    EXPECT_EQ(formatter("'at' HH 'o''clock' ''")->stringFromDate(kDate), "at 04 o'clock '");
    EXPECT_EQ(formatter("yyyyMMdd'T'HHmmss")->stringFromDate(kDate), "20261207T040102");
    EXPECT_EQ(formatter("S|SS|SSSS")->stringFromDate(kDate), "3|34|3450");
}

TEST(NSDateFormatter, Styles) {
    auto f = NSDateFormatter::alloc<NSDateFormatter>()->init();
    f->setTimeZone(NSTimeZone::timeZoneWithName("UTC"));
    f->setDateStyle(NSDateFormatterShortStyle);
    EXPECT_EQ(f->stringFromDate(kDate), "12/7/26");
    f->setTimeStyle(NSDateFormatterShortStyle);
    EXPECT_EQ(f->stringFromDate(kDate), "12/7/26, 4:01 AM");
    f->setDateStyle(NSDateFormatterMediumStyle);
    f->setTimeStyle(NSDateFormatterMediumStyle);
    EXPECT_EQ(f->stringFromDate(kDate), "Dec 7, 2026, 4:01:02 AM");
    f->setDateStyle(NSDateFormatterNoStyle);
    EXPECT_EQ(f->stringFromDate(kDate), "4:01:02 AM");
    f->setTimeStyle(NSDateFormatterNoStyle);
    EXPECT_EQ(f->stringFromDate(kDate), "");
}

TEST(NSDateFormatter, ParsingRoundTripsAndRefusesMismatches) {
    auto f = formatter("yyyy-MM-dd HH:mm:ss");
    auto d = f->dateFromString("2026-12-07 04:01:02");
    ASSERT_TRUE(d);
    EXPECT_DOUBLE_EQ(d->timeIntervalSince1970(), 1796616062);
    EXPECT_FALSE(f->dateFromString("2026-12-07"));
    EXPECT_FALSE(f->dateFromString("2026-12-07 04:01:02 trailing"));
    EXPECT_FALSE(f->dateFromString("2026-02-30 00:00:00"));
    EXPECT_FALSE(f->dateFromString("2026-13-01 00:00:00"));
    EXPECT_FALSE(f->dateFromString("2026-12-07 24:00:00"));
    EXPECT_FALSE(f->dateFromString(""));
    EXPECT_FALSE(f->dateFromString("garbage"));
    EXPECT_TRUE(formatter("yyyy-MM-dd")->dateFromString("2024-02-29"));  // leap day

    auto withZone = formatter("yyyy-MM-dd'T'HH:mm:ssZZZZZ");
    auto z = withZone->dateFromString("2026-12-07T09:31:02+05:30");
    ASSERT_TRUE(z);
    EXPECT_DOUBLE_EQ(z->timeIntervalSince1970(), 1796616062);
    EXPECT_DOUBLE_EQ(withZone->dateFromString("2026-12-07T04:01:02Z")->timeIntervalSince1970(), 1796616062);

    auto names = formatter("EEE, d MMM yyyy h:mm:ss a");
    auto n = names->dateFromString("Mon, 7 dec 2026 4:01:02 am");
    ASSERT_TRUE(n);
    EXPECT_DOUBLE_EQ(n->timeIntervalSince1970(), 1796616062);
    EXPECT_DOUBLE_EQ(names->dateFromString("Mon, 7 Dec 2026 4:01:02 PM")->timeIntervalSince1970(), 1796616062 + 12 * 3600);

    auto compact = formatter("yyyyMMddHHmmss");
    EXPECT_DOUBLE_EQ(compact->dateFromString("20261207040102")->timeIntervalSince1970(), 1796616062);
    auto millis = formatter("HH:mm:ss.SSS");
    EXPECT_NEAR(millis->dateFromString("00:00:01.250")->timeIntervalSince1970(), 1.25, 1e-9);

    // Local times in a zone with an offset.
    auto india = formatter("yyyy-MM-dd HH:mm", "GMT+5:30");
    EXPECT_DOUBLE_EQ(india->dateFromString("2026-12-07 09:31")->timeIntervalSince1970(), 1796616060);
}

TEST(NSTimeZone, FixedAndNamedZones) {
    EXPECT_EQ(NSTimeZone::timeZoneWithName("UTC")->secondsFromGMT(), 0);
    EXPECT_EQ(NSTimeZone::timeZoneWithName("GMT+5:30")->secondsFromGMT(), 19800);
    EXPECT_EQ(NSTimeZone::timeZoneWithName("UTC-0800")->secondsFromGMT(), -28800);
    EXPECT_EQ(NSTimeZone::timeZoneForSecondsFromGMT(19800)->name(), "GMT+0530");
    EXPECT_FALSE(NSTimeZone::timeZoneWithName("No/Such_Zone"));
    EXPECT_FALSE(NSTimeZone::timeZoneWithName("../../etc/passwd"));
    EXPECT_FALSE(NSTimeZone::timeZoneWithName(""));
    EXPECT_FALSE(NSTimeZone::timeZoneWithName("GMT+99"));
    if (!haveZoneDatabase()) GTEST_SKIP() << "no zone database";
    EXPECT_EQ(NSTimeZone::timeZoneWithName("Asia/Kolkata")->secondsFromGMT(), 19800);
    auto ny = NSTimeZone::timeZoneWithName("America/New_York");
    ASSERT_TRUE(ny);
    // Daylight saving, also far beyond the last listed transition.
    EXPECT_EQ(ny->secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(1796616062)), -5 * 3600);  // December
    EXPECT_EQ(ny->secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(1783296000)), -4 * 3600);  // July 2026
    EXPECT_EQ(ny->secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(4118083200.0)), -4 * 3600);  // July 2100
    EXPECT_EQ(ny->secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(4102444800.0)), -5 * 3600);  // Jan 2100
    // The switch itself: 2026-03-08 07:00 UTC (2:00 local standard time).
    EXPECT_EQ(ny->secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(1772953199)), -5 * 3600);
    EXPECT_EQ(ny->secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(1772953200)), -4 * 3600);
    auto sydney = NSTimeZone::timeZoneWithName("Australia/Sydney");
    EXPECT_EQ(sydney->secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(4102444800.0)), 11 * 3600);  // southern summer
}

TEST(NSTimeZone, LocalZoneComesFromTheDevice) {
    EXPECT_EQ(NSTimeZone::localTimeZone()->name(), "UTC");
    platform::setDeviceLocaleSource([] {
        platform::DeviceLocaleFacts facts;
        facts.timeZoneName = "GMT+5:30";
        facts.localeIdentifier = "fr_CA";
        facts.preferredLanguages = {"fr-CA", "en"};
        return facts;
    });
    EXPECT_EQ(NSTimeZone::localTimeZone()->secondsFromGMT(), 19800);
    EXPECT_EQ(NSTimeZone::systemTimeZone()->name(), "GMT+5:30");
    // A formatter without its own zone follows the device.
    auto f = NSDateFormatter::alloc<NSDateFormatter>()->init();
    f->setDateFormat("HH:mm");
    EXPECT_EQ(f->stringFromDate(kDate), "09:31");
    EXPECT_EQ(NSLocale::currentLocale()->localeIdentifier(), "fr_CA");
    EXPECT_EQ(NSLocale::currentLocale()->countryCode(), "CA");
    EXPECT_EQ(NSLocale::currentLocale()->languageCode(), "fr");
    EXPECT_EQ(NSLocale::preferredLanguages(), (std::vector<std::string>{"fr-CA", "en"}));
    platform::setDeviceLocaleSource([] {
        platform::DeviceLocaleFacts facts;
        facts.timeZoneName = "Nowhere/Land";
        return facts;
    });
    EXPECT_EQ(NSTimeZone::localTimeZone()->secondsFromGMT(), 0);  // unknown → UTC
    platform::setDeviceLocaleSource(nullptr);
}

TEST(NSLocale, IdentifierParts) {
    EXPECT_EQ(NSLocale::currentLocale()->localeIdentifier(), "en_US");
    EXPECT_EQ(NSLocale::localeWithLocaleIdentifier("zh_Hans_CN")->countryCode(), "CN");
    EXPECT_EQ(NSLocale::localeWithLocaleIdentifier("es-419")->countryCode(), "419");
    EXPECT_EQ(NSLocale::localeWithLocaleIdentifier("en")->countryCode(), "");
    EXPECT_EQ(NSLocale::localeWithLocaleIdentifier("de_DE@currency=EUR")->languageCode(), "de");
    EXPECT_EQ(NSLocale::localeWithLocaleIdentifier("")->languageCode(), "");
}

}  // namespace
