#include "common/TextFormat.h"

#include <gtest/gtest.h>

namespace da {
namespace {

RegionalSettings Portuguese() {
  RegionalSettings rs;
  rs.shortDateFormat = "dd/mm/yyyy";
  rs.longTimeFormat = "hh:nn:ss";
  rs.dateSeparator = '-';
  rs.timeSeparator = ':';
  rs.decimalSeparator = ',';
  return rs;
}

TEST(TextFormat, FormatsDatesWithTheRegionalSeparators) {
  RegionalSettings rs = Portuguese();
  TDateTime v = EncodeDateTime({2026, 3, 1, 7, 5, 9, 42});
  EXPECT_EQ(DateToStr(v, rs), "01-03-2026");
  EXPECT_EQ(TimeToStr(v, rs), "07:05:09");
  EXPECT_EQ(DateTimeToStr(v, rs), "01-03-2026 07:05:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 3, 1), rs), "01-03-2026");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", v, rs), "2026-03-01 07:05:09.042");
  EXPECT_EQ(FormatDateTime("d/m/yy h:n:s", v, rs), "1-3-26 7:5:9");
  EXPECT_EQ(FormatDateTime("hh:mm 'h'", v, rs), "07:05 h");
  EXPECT_EQ(FormatDateTime("h AMPM", EncodeTime(15, 0, 0, 0), rs), "3 PM");
  rs.timeSeparator = '.';
  EXPECT_EQ(TimeToStr(v, rs), "07.05.09");
}

TEST(TextFormat, ZeroDateTimeReadsAsDayZero) {
  EXPECT_EQ(DateTimeToStr(0.0, Portuguese()), "30-12-1899");
  EXPECT_EQ(TimeToStr(0.0, Portuguese()), "00:00:00");
}

struct FloatCase {
  double value;
  const char* text;
};

TEST(TextFormat, FloatsUseTheGeneralFormat) {
  RegionalSettings dot;
  const FloatCase cases[] = {
      {0, "0"},          {1, "1"},          {-2.5, "-2.5"},     {23, "23"},
      {0.1, "0.1"},      {1.0 / 3, "0.333333333333333"},        {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},    {1.5e20, "1.5E20"}, {0.0001, "0.0001"}, {0.00001, "1E-5"},
      {1e-7, "1E-7"},    {9.9999999999999999, "10"},
  };
  for (const auto& c : cases) EXPECT_EQ(FloatToStr(c.value, dot), c.text) << c.value;
  EXPECT_EQ(FloatToStr(-2.5, Portuguese()), "-2,5");
}

TEST(TextFormat, CurrencyKeepsFourDecimals) {
  RegionalSettings dot;
  EXPECT_EQ(CurrToStr(123456, dot), "12.3456");
  EXPECT_EQ(CurrToStr(120000, dot), "12");
  EXPECT_EQ(CurrToStr(-5, dot), "-0.0005");
  EXPECT_EQ(CurrToStr(125000, Portuguese()), "12,5");
}

TEST(TextFormat, ReadsNumbersWithTheDecimalSeparator) {
  double d = 0;
  EXPECT_TRUE(TryStrToFloat(" 2,5 ", d, Portuguese()));
  EXPECT_DOUBLE_EQ(d, 2.5);
  EXPECT_TRUE(TryStrToFloat("-1e3", d));
  EXPECT_DOUBLE_EQ(d, -1000);
  EXPECT_FALSE(TryStrToFloat("", d));
  EXPECT_FALSE(TryStrToFloat("12abc", d));
}

TEST(RegionalSettings, ScopedSettingsAreRestored) {
  RegionalSettings before = Regional();
  {
    ScopedRegionalSettings scoped(Portuguese());
    EXPECT_EQ(Regional().decimalSeparator, ',');
    EXPECT_EQ(FloatToStr(0.5), "0,5");
  }
  EXPECT_EQ(Regional().decimalSeparator, before.decimalSeparator);
  EXPECT_EQ(Regional().shortDateFormat, before.shortDateFormat);
}

TEST(RegionalSettings, SystemLocaleGivesUsablePatterns) {
  RegionalSettings rs = RegionalSettings::FromSystemLocale();
  EXPECT_FALSE(rs.shortDateFormat.empty());
  EXPECT_FALSE(rs.longTimeFormat.empty());
  EXPECT_NE(rs.decimalSeparator, 0);
  // A date formatted with them names the year.
  EXPECT_NE(DateToStr(EncodeDate(2026, 3, 1), rs).find("26"), std::string::npos);
}

}  // namespace
}  // namespace da
