// The SQL literals of parameter values, by tables of values and the exact
// text each must give.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "common/RegionalSettings.h"
#include "driver/Blob.h"
#include "driver/CRAccess.h"
#include "driver/MyLiterals.h"

using namespace da;

namespace {

RegionalSettings Locale(char decimal, char time) {
  RegionalSettings rs;
  rs.decimalSeparator = decimal;
  rs.timeSeparator = time;
  return rs;
}

std::string Literal(TDataType type, const Variant& value, const TMyLiteralOptions& options = {}) {
  TParamDesc p;
  p.SetDataType(type);
  p.SetValue(value);
  std::string out;
  AppendParamLiteral(out, p, options);
  return out;
}

struct Case {
  const char* what;
  TDataType type;
  Variant value;
  std::string expected;
};

TEST(MyLiterals, NullAndUnassignedAreNull) {
  TParamDesc never;
  never.SetDataType(dtString);
  std::string out;
  AppendParamLiteral(out, never, {});
  EXPECT_EQ(out, "NULL");
  EXPECT_EQ(Literal(dtInt32, Variant::Null()), "NULL");
  EXPECT_EQ(Literal(dtDateTime, Variant()), "NULL");
}

TEST(MyLiterals, ValuesByDataType) {
  const RegionalSettings comma = Locale(',', ':');
  ScopedRegionalSettings scope(comma);
  TDateTime when = EncodeDateTime({2026, 12, 31, 23, 5, 9, 600});
  const std::vector<Case> cases = {
      {"int32", dtInt32, Variant(int32_t{-42}), "-42"},
      {"int64 max", dtInt64, Variant(int64_t{9223372036854775807LL}), "9223372036854775807"},
      {"int64 min", dtInt64, Variant(int64_t{-9223372036854775807LL - 1}), "-9223372036854775808"},
      {"uint16 word", dtUInt16, Variant(uint16_t{65535}), "65535"},
      {"int8", dtInt8, Variant(int8_t{-128}), "-128"},
      {"number text for an integer", dtInt32, Variant("  17 "), "17"},
      {"float under a comma locale", dtFloat, Variant(1.5), "1.5"},
      {"float with 15 digits", dtFloat, Variant(0.1 + 0.2), "0.3"},
      {"float large", dtFloat, Variant(1.5e20), "1.5E20"},
      {"float text 1,5", dtFloat, Variant("1,5"), "1.5"},
      {"currency value", dtCurrency, Variant(Currency{123456}), "12.3456"},
      {"bcd rounds to 4 decimals", dtBCD, Variant(2.123456), "2.1235"},
      {"bcd negative", dtBCD, Variant(Currency{-5}), "-0.0005"},
      {"fmtbcd keeps the digits of its text", dtFmtBCD, Variant("12345678901234567890,125"),
       "12345678901234567890.125"},
      {"boolean true", dtBoolean, Variant(true), "1"},
      {"boolean false", dtBoolean, Variant(false), "0"},
      {"date", dtDate, Variant::FromDateTime(EncodeDate(2026, 3, 7)), "'2026-03-07'"},
      {"date of year 1", dtDate, Variant::FromDateTime(EncodeDate(1, 1, 1)), "'0001-01-01'"},
      {"date-time drops the fraction", dtDateTime, Variant::FromDateTime(when), "'2026-12-31 23:05:09'"},
      {"date-time before 1899", dtDateTime, Variant::FromDateTime(EncodeDateTime({1850, 6, 1, 6, 0, 0, 0})),
       "'1850-06-01 06:00:00'"},
      {"zero date as date-time", dtDateTime, Variant::FromDateTime(MySqlZeroDate()), "'0000-00-00 00:00:00'"},
      {"zero date as date", dtDate, Variant::FromDateTime(MySqlZeroDate()), "'0000-00-00 00:00:00'"},
      {"zero date as time", dtTime, Variant::FromDateTime(MySqlZeroDate()), "'0000-00-00 00:00:00'"},
      {"time", dtTime, Variant::FromDateTime(EncodeTime(7, 5, 3, 0)), "'7:05:03'"},
      {"time of 1.5 days", dtTime, Variant(1.5), "'36:00:00'"},
      {"negative time", dtTime, Variant(-0.25), "'-6:00:00'"},
      {"time 838:59:59", dtTime, Variant((838 * 3600 + 59 * 60 + 59) / 86400.0), "'838:59:59'"},
      {"time rounds half to even (0.5 s)", dtTime, Variant(0.5 / 86400), "'0:00:00'"},
      {"time rounds half to even (1.5 s)", dtTime, Variant(1.5 / 86400), "'0:00:02'"},
      {"time rounds 59.6 s up to a minute", dtTime, Variant(59.6 / 86400), "'0:01:00'"},
      {"day zero as date-time", dtDateTime, Variant(0.0), "'1899-12-30 00:00:00'"},
  };
  for (const Case& c : cases) EXPECT_EQ(Literal(c.type, c.value), c.expected) << c.what;
}

TEST(MyLiterals, DateTimeUsesTheLocaleTimeSeparator) {
  const RegionalSettings dots = Locale('.', '.');
  TMyLiteralOptions options;
  options.regional = &dots;
  TDateTime when = EncodeDateTime({2026, 1, 2, 3, 4, 5, 0});
  EXPECT_EQ(Literal(dtDateTime, Variant::FromDateTime(when), options), "'2026-01-02 03.04.05'");
  // The zero-date marker never depends on the locale.
  EXPECT_EQ(Literal(dtDateTime, Variant::FromDateTime(MySqlZeroDate()), options), "'0000-00-00 00:00:00'");
}

TEST(MyLiterals, StringsInBothEscapingModes) {
  TMyLiteralOptions backslash;
  TMyLiteralOptions doubling;
  doubling.backslashEscapes = false;
  struct S {
    std::string value, withBackslashes, withDoubling;
  };
  const std::vector<S> cases = {
      {"12'34", "'12\\'34'", "'12''34'"},
      {"", "''", "''"},
      {std::string("a\0b", 3), "'a\\0b'", std::string("'a\0b'", 5)},
      {"l1\nl2\rx", "'l1\\nl2\\rx'", "'l1\nl2\rx'"},
      {"\x1a", "'\\Z'", "'\x1a'"},
      {"say \"hi\"", "'say \\\"hi\\\"'", "'say \"hi\"'"},
      {"C:\\dir\\", "'C:\\\\dir\\\\'", "'C:\\dir\\'"},
      {"''", "'\\'\\''", "''''''"},
      {"\xe7\xe3o", "'\xe7\xe3o'", "'\xe7\xe3o'"},
  };
  for (const S& c : cases) {
    EXPECT_EQ(Literal(dtString, Variant(c.value), backslash), c.withBackslashes) << c.value;
    EXPECT_EQ(Literal(dtString, Variant(c.value), doubling), c.withDoubling) << c.value;
  }
}

TEST(MyLiterals, LeadBytesOfMultiByteCharsetsAreEscaped) {
  TMyLiteralOptions gbk;
  gbk.charset = "GBK";
  // 0xBF 0x27: the backslash before the quote must not pair with 0xBF.
  EXPECT_EQ(Literal(dtString, Variant(std::string("\xbf'")), gbk), "'\\\xbf\\''");
  EXPECT_EQ(Literal(dtString, Variant(std::string("\xbf\\")), gbk), "'\\\xbf\\\\'");
  EXPECT_EQ(Literal(dtString, Variant(std::string("a\x81@")), gbk), "'a\\\x81@'");
  TMyLiteralOptions euckr;
  euckr.charset = "euckr";
  // The byte after a lead byte is escaped like any other.
  EXPECT_EQ(Literal(dtString, Variant(std::string("\xb0'")), euckr), "'\\\xb0\\''");
  EXPECT_EQ(Literal(dtString, Variant(std::string("\xb0\xa1")), euckr), "'\\\xb0\xa1'");
  // Single-byte character sets leave high bytes alone.
  TMyLiteralOptions latin1;
  latin1.charset = "latin1";
  EXPECT_EQ(Literal(dtString, Variant(std::string("\xbf'")), latin1), "'\xbf\\''");
  // Quote doubling needs no lead-byte rule.
  gbk.backslashEscapes = false;
  EXPECT_EQ(Literal(dtString, Variant(std::string("\xbf'")), gbk), "'\xbf'''");
}

TEST(MyLiterals, UnicodeSessionsGetUtf8) {
  TMyLiteralOptions utf8;
  utf8.useUnicode = true;
  utf8.charset = "gbk";  // ignored: the session speaks UTF-8
  EXPECT_EQ(Literal(dtString, Variant(std::string("a\xe7'")), utf8), "'a\xc3\xa7\\''");
  EXPECT_EQ(Literal(dtWideString, Variant(std::u16string(u"\u20ac'\u4e2d")), utf8), "'\xe2\x82\xac\\'\xe4\xb8\xad'");
  // Byte types are never converted.
  EXPECT_EQ(Literal(dtBlob, Variant(std::string("\xe7")), utf8), "'\xe7'");
  EXPECT_EQ(Literal(dtVarBytes, Variant(Variant::Bytes{0xE7, 0x00, 0x27}), utf8), "'\xe7\\0\\''");
  // Without UTF-8, wide text goes out in the code page.
  EXPECT_EQ(Literal(dtWideString, Variant(std::u16string(u"\u20ac'"))), "'\x80\\''");
}

TEST(MyLiterals, BlobsHeldByReference) {
  auto blob = std::make_shared<TBlob>();
  TParamDesc p;
  p.SetDataType(dtBlob);
  p.SetObject(blob);
  p.SetNull(false);
  std::string out;
  AppendParamLiteral(out, p, {});
  EXPECT_EQ(out, "''");
  blob->SetAsString(std::string("x'\0", 3));
  out.clear();
  AppendParamLiteral(out, p, {});
  EXPECT_EQ(out, "'x\\'\\0'");
  p.SetNull(true);
  out.clear();
  AppendParamLiteral(out, p, {});
  EXPECT_EQ(out, "NULL");
}

TEST(MyLiterals, ValuesWithoutALiteralFormAreRefused) {
  const std::vector<Case> cases = {
      {"text for an integer", dtInt32, Variant("1; DROP TABLE t"), ""},
      {"text for a float", dtFloat, Variant("abc"), ""},
      {"bytes for an integer", dtInt64, Variant(Variant::Bytes{1, 2}), ""},
      {"infinite float", dtFloat, Variant(INFINITY), ""},
      {"not a number", dtFloat, Variant(NAN), ""},
      {"date from text", dtDate, Variant("2026-01-01"), ""},
      {"date beyond 9999", dtDateTime, Variant(3e6), ""},
      {"time beyond any clock", dtTime, Variant(1e300), ""},
      {"bytes for a Boolean", dtBoolean, Variant(Variant::Bytes{1}), ""},
      {"a date for an integer", dtInt32, Variant::FromDateTime(1.0), ""},
      {"BCD text beyond a currency", dtBCD, Variant("1e20"), ""},
      {"BCD text that is infinite", dtBCD, Variant("1e999"), ""},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(Literal(c.type, c.value), ELiteralError) << c.what;
    // The command reports it as a database error like its others.
    EXPECT_THROW(Literal(c.type, c.value), EDatabaseError) << c.what;
  }
}

}  // namespace
