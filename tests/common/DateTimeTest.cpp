#include "common/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/Exception.h"

namespace da {
namespace {

struct DateCase {
  DateTimeParts parts;
  double value;
};

// Values as the date-time convention defines them: days since 1899-12-30,
// the fraction the time of day, counted forwards also before day zero.
const DateCase kDates[] = {
    {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
    {{1899, 12, 31, 0, 0, 0, 0}, 1.0},
    {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
    {{1900, 1, 1, 12, 0, 0, 0}, 2.5},
    {{1900, 3, 1, 0, 0, 0, 0}, 61.0},
    {{2000, 2, 29, 0, 0, 0, 0}, 36585.0},
    {{2026, 3, 1, 0, 0, 0, 0}, 46082.0},
    {{2026, 12, 31, 23, 5, 9, 600}, 46387.0 + (23 * 3600 + 5 * 60 + 9.6) / 86400.0},
    {{100, 1, 1, 0, 0, 0, 0}, -657434.0},
    {{1, 1, 1, 0, 0, 0, 0}, -693593.0},
    {{9999, 12, 31, 23, 59, 59, 999}, 2958465.0 + 86399.999 / 86400.0},
};

TEST(DateTime, EncodesAndDecodesKnownValues) {
  for (const auto& c : kDates) {
    SCOPED_TRACE(c.value);
    TDateTime encoded = EncodeDateTime(c.parts);
    EXPECT_NEAR(encoded, c.value, 1e-9);
    EXPECT_EQ(DecodeDateTime(c.value), c.parts);
  }
}

TEST(DateTime, RoundTripsEveryDayAcrossCenturies) {
  // Day numbers and calendar dates agree over 0001..9999 in steps of 37 days.
  for (double d = -693593; d <= 2958465; d += 37) {
    int y, m, day;
    DecodeDate(d, y, m, day);
    ASSERT_DOUBLE_EQ(EncodeDate(y, m, day), d) << y << "-" << m << "-" << day;
  }
}

TEST(DateTime, RejectsValuesOutsideCalendarAndClock) {
  TDateTime out;
  EXPECT_FALSE(TryEncodeDate(2026, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, out));
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, out));
  EXPECT_FALSE(TryEncodeDate(2026, 13, 1, out));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, out));
  EXPECT_THROW(EncodeDate(2026, 4, 31), EConvertError);
  EXPECT_THROW(EncodeTime(25, 0, 0, 0), EConvertError);
}

TEST(DateTime, DecodesTimeRoundedToMilliseconds) {
  int h, n, s, ms;
  DecodeTime(0.5 - 1e-10, h, n, s, ms);
  EXPECT_EQ(h, 12);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(ms, 0);
  DecodeTime(EncodeTime(23, 59, 59, 999), h, n, s, ms);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 235959999);
}

TEST(DateTime, ZeroDateMarkerIsYear100) {
  EXPECT_DOUBLE_EQ(MySqlZeroDate(), EncodeDate(100, 1, 1));
  EXPECT_TRUE(IsMySqlZeroDate(-657434.0));
  EXPECT_FALSE(IsMySqlZeroDate(0.0));
}

TEST(DateTime, TimeStampsCountFromYearOne) {
  TTimeStamp ts = DateTimeToTimeStamp(EncodeDateTime({2026, 12, 31, 23, 5, 9, 600}));
  EXPECT_EQ(ts.date, 46387 + kDateDelta);
  EXPECT_EQ(ts.time, (23 * 3600 + 5 * 60 + 9) * 1000 + 600);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(ts), EncodeDateTime({2026, 12, 31, 23, 5, 9, 600}));
  TTimeStamp back = MSecsToTimeStamp(TimeStampToMSecs(ts));
  EXPECT_EQ(back.date, ts.date);
  EXPECT_EQ(back.time, ts.time);
  TTimeStamp before = DateTimeToTimeStamp(-1.25);
  EXPECT_EQ(before.date, kDateDelta - 1);
  EXPECT_EQ(before.time, 6 * 3600000);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(before), -1.25);
}

TEST(DateTime, DayOfWeekStartsOnSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 10)), 5);  // a Thursday
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 13)), 1);  // a Sunday
}

TEST(DateTime, ClockGivesTodayWithTime) {
  TDateTime now = Now();
  EXPECT_GT(now, EncodeDate(2020, 1, 1));
  EXPECT_LE(Today(), now);
  EXPECT_DOUBLE_EQ(Today(), std::trunc(Today()));
}

}  // namespace
}  // namespace da
