#include "support/timestamp.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/civil_time.h"
#include "support/clock.h"

namespace qbsync {
namespace {

TEST(TimestampTest, FormatHostDateTime) {
  struct Case {
    const char* name;
    HostDateTime value;
    const char* expected;
  };
  const Case cases[] = {
      {"host base", 0, "1899-12-30T00:00:00.000000"},
      {"one microsecond", 1, "1899-12-30T00:00:00.000001"},
      {"last microsecond of first day", kMicrosPerDay - 1, "1899-12-30T23:59:59.999999"},
      {"1900 is no leap year", 5270400000000LL, "1900-03-01T00:00:00.000000"},
      {"2000 is a leap year", 3161030399999999LL, "2000-02-29T23:59:59.999999"},
      {"Unix epoch", kHostToUnixMicros, "1970-01-01T00:00:00.000000"},
      {"leap day with microseconds", 3918375930123456LL, "2024-02-29T13:45:30.123456"},
      {"year 9999", 255611462399999999LL, "9999-12-31T23:59:59.999999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(formatHostDateTime(c.value), c.expected);
  }
  const CivilTime civil = hostCivilTime(3918375930123456LL);
  EXPECT_EQ(civil.year, 2024);
  EXPECT_EQ(civil.month, 2);
  EXPECT_EQ(civil.day, 29);
  EXPECT_EQ(civil.hour, 13);
  EXPECT_EQ(civil.minute, 45);
  EXPECT_EQ(civil.second, 30);
  EXPECT_EQ(civil.millisecond, 123);
}

TEST(TimestampTest, NormalizeUtcTimestampTable) {
  struct Case {
    const char* name;
    const char* text;
    const char* expected;  // null: refused
  };
  const Case cases[] = {
      {"no fraction", "2024-01-02T03:04:05Z", "2024-01-02T03:04:05.000000Z"},
      {"one fraction digit", "2024-01-02T03:04:05.5Z", "2024-01-02T03:04:05.500000Z"},
      {"six fraction digits", "2024-01-02T03:04:05.123456Z", "2024-01-02T03:04:05.123456Z"},
      {"leap day 2024", "2024-02-29T00:00:00Z", "2024-02-29T00:00:00.000000Z"},
      {"leap day 2000", "2000-02-29T23:59:59Z", "2000-02-29T23:59:59.000000Z"},
      {"first file-time day", "1601-01-01T00:00:00Z", "1601-01-01T00:00:00.000000Z"},
      {"year 9999", "9999-12-31T23:59:59.999999Z", "9999-12-31T23:59:59.999999Z"},
      {"2023 has no leap day", "2023-02-29T00:00:00Z", nullptr},
      {"1900 has no leap day", "1900-02-29T00:00:00Z", nullptr},
      {"30 February", "2024-02-30T00:00:00Z", nullptr},
      {"31 April", "2024-04-31T00:00:00Z", nullptr},
      {"month 13", "2024-13-01T00:00:00Z", nullptr},
      {"month 0", "2024-00-10T00:00:00Z", nullptr},
      {"day 0", "2024-01-00T00:00:00Z", nullptr},
      {"hour 24", "2024-01-02T24:00:00Z", nullptr},
      {"minute 60", "2024-01-02T03:60:00Z", nullptr},
      {"second 60", "2024-01-02T23:59:60Z", nullptr},
      {"year 1600", "1600-12-31T23:59:59Z", nullptr},
      {"year 0", "0000-01-01T00:00:00Z", nullptr},
      {"missing Z", "2024-01-02T03:04:05", nullptr},
      {"lowercase z", "2024-01-02T03:04:05z", nullptr},
      {"offset", "2024-01-02T03:04:05+00:00", nullptr},
      {"offset after Z", "2024-01-02T03:04:05Z+01:00", nullptr},
      {"seven fraction digits", "2024-01-02T03:04:05.1234567Z", nullptr},
      {"empty fraction", "2024-01-02T03:04:05.Z", nullptr},
      {"space separator", "2024-01-02 03:04:05Z", nullptr},
      {"trailing line feed", "2024-01-02T03:04:05Z\n", nullptr},
      {"short year", "24-01-02T03:04:05Z", nullptr},
      {"empty", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.expected) {
      EXPECT_EQ(normalizeUtcTimestamp(c.text), c.expected);
      continue;
    }
    try {
      normalizeUtcTimestamp(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "UTC_TIMESTAMP_REQUIRED");
    }
  }
}

TEST(TimestampTest, CivilFileTimeConversions) {
  struct Case {
    const char* name;
    CivilTime civil;
    std::uint64_t fileTime;
  };
  const Case cases[] = {
      {"file-time base", {1601, 1, 1, 0, 0, 0, 0}, 0},
      {"1900-03-01", {1900, 3, 1, 0, 0, 0, 0}, 94405824000000000ULL},
      {"leap day", {2024, 2, 29, 13, 45, 30, 123}, 133536879301230000ULL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint64_t fileTime = 1;
    ASSERT_TRUE(civilToFileTime(c.civil, fileTime));
    EXPECT_EQ(fileTime, c.fileTime);
    CivilTime back;
    // Sub-millisecond units are dropped on the way back.
    ASSERT_TRUE(fileTimeToCivil(c.fileTime + 9999, back));
    EXPECT_EQ(back.year, c.civil.year);
    EXPECT_EQ(back.month, c.civil.month);
    EXPECT_EQ(back.day, c.civil.day);
    EXPECT_EQ(back.hour, c.civil.hour);
    EXPECT_EQ(back.minute, c.civil.minute);
    EXPECT_EQ(back.second, c.civil.second);
    EXPECT_EQ(back.millisecond, c.civil.millisecond);
  }
  std::uint64_t ignored = 0;
  EXPECT_FALSE(civilToFileTime({2024, 1, 2, 3, 4, 5, 1000}, ignored));
  EXPECT_FALSE(civilToFileTime({2024, 1, 2, -1, 4, 5, 0}, ignored));
  // A field that would wrap in a 16-bit SYSTEMTIME must not become a valid date.
  EXPECT_FALSE(civilToFileTime({2024 + 65536, 1, 2, 3, 4, 5, 0}, ignored));
  CivilTime civil;
  EXPECT_FALSE(fileTimeToCivil(0x8000000000000000ULL, civil));
}

class ClockScope {
 public:
  explicit ClockScope(Clock* clock) { setClockForTesting(clock); }
  ~ClockScope() { setClockForTesting(nullptr); }
};

TEST(TimestampTest, CurrentTimeFromClock) {
  // 2024-02-29T13:45:30.123456 plus 7 units of 100 ns.
  ManualClock manual(0, 133536879301234567ULL);
  const ClockScope scope(&manual);
  EXPECT_EQ(utcNowText(), "2024-02-29T13:45:30.123000Z");
  EXPECT_EQ(unixMicrosNow(), 1709214330123456LL);
  EXPECT_EQ(normalizeUtcTimestamp(utcNowText()), utcNowText());
}

TEST(TimestampTest, HostTimeConversions) {
  std::string zone;
  const TimeZoneShift shift = [&](HostDateTime value, const char* zoneName) {
    zone = zoneName;
    return value + 3600000000LL;
  };
  EXPECT_EQ(hostTimeToUtc(3918375930123456LL, shift), 3918375930123456LL + 3600000000LL);
  EXPECT_EQ(zone, "UTC+00");

  EXPECT_EQ(unixMicros(0), 0);
  EXPECT_EQ(unixMicros(kHostToUnixMicros + 5), 5);
  EXPECT_EQ(unixMicros(3918375930123456LL), 1709214330123456LL);
}

}  // namespace
}  // namespace qbsync
