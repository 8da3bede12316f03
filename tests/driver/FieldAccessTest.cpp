// Reading and writing field values: the dataset forms, line breaks, trim
// options, null handling, variants, and the complex values (heap strings,
// blobs, variants) that records share and release.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "StoreFixture.h"
#include "common/DateTime.h"
#include "common/Exception.h"

namespace da {
namespace {

using testutil::TestStore;

std::string ReadText(const TestStore& store, int fieldNo, uint8_t* rec, size_t destSize = 64) {
  std::string dest(destSize, '#');
  bool blank = false;
  store.ReadFieldValue(fieldNo, rec, dest.data(), dest.size(), blank);
  EXPECT_FALSE(blank);
  return std::string(dest.c_str());
}

TEST(FieldAccessTest, StringsWithLineBreaksAndTrimming) {
  TestStore store({{"s", dtString, 10}, {"f", dtString, 6, fkData, true}, {"e", dtExtString}});
  TRecBuf rec = store.AllocRecBuf();
  store.PutField(1, rec.get(), "a\nb\r\nc  ", 9);
  store.PutField(2, rec.get(), "xy    ", 7);
  store.PutExtString(3, rec.get(), "l1\nl2  ");

  struct Case {
    bool eol, trimFixed, trimVar;
    const char *s, *f, *e;
  };
  const Case cases[] = {
      {false, false, false, "a\nb\r\nc  ", "xy    ", "l1\nl2  "},
      {true, false, false, "a\r\nb\r\nc  ", "xy    ", "l1\r\nl2  "},
      {false, true, false, "a\nb\r\nc  ", "xy", "l1\nl2  "},
      {false, false, true, "a\nb\r\nc", "xy    ", "l1\nl2  "},  // ext strings are trimmed when stored
  };
  for (const Case& c : cases) {
    store.SetConvertEOL(c.eol);
    store.SetTrimFixedChar(c.trimFixed);
    store.SetTrimVarChar(c.trimVar);
    EXPECT_EQ(ReadText(store, 1, rec.get()), c.s);
    EXPECT_EQ(ReadText(store, 2, rec.get()), c.f);
    EXPECT_EQ(ReadText(store, 3, rec.get()), c.e);
    EXPECT_EQ(store.GetFieldAsVariant(2, rec.get()).AsString(), c.trimFixed ? "xy" : "xy    ");
  }

  // Line breaks grow the text only within the destination.
  store.SetConvertEOL(true);
  store.SetTrimVarChar(false);
  EXPECT_EQ(ReadText(store, 1, rec.get(), 3), "a");
  EXPECT_EQ(ReadText(store, 1, rec.get(), 4), "a\r\n");
  // A string longer than the field is cut on the way in.
  store.PutField(1, rec.get(), "0123456789ABC", 13);
  EXPECT_EQ(store.GetFieldAsVariant(1, rec.get()).AsString(), "0123456789");
}

TEST(FieldAccessTest, WideStrings) {
  TestStore store({{"w", dtWideString, 3}, {"x", dtExtWideString}});
  TRecBuf rec = store.AllocRecBuf();
  const char16_t in[] = u"a\nbcd";
  store.PutField(1, rec.get(), in, sizeof in);
  store.PutExtWideString(2, rec.get(), u"p\nq ");
  EXPECT_EQ(store.GetFieldAsVariant(1, rec.get()).AsWideString(), u"a\nb");
  EXPECT_EQ(store.GetFieldAsVariant(2, rec.get()).AsWideString(), u"p\nq ");

  store.SetConvertEOL(true);
  char16_t out[8];
  bool blank;
  store.ReadFieldValue(1, rec.get(), out, sizeof out, blank);
  EXPECT_EQ(std::u16string(out), u"a\r\nb");
  store.ReadFieldValue(2, rec.get(), out, 8, blank);  // room for 3 characters
  EXPECT_EQ(std::u16string(out), u"p\r\n");
}

TEST(FieldAccessTest, DatasetFormsOfNumbersAndDates) {
  TestStore store({{"d", dtDate}, {"t", dtTime}, {"dt", dtDateTime}, {"u", dtUInt32}, {"i", dtInt16}});
  TRecBuf rec = store.AllocRecBuf();
  const TDateTime when = EncodeDateTime({2024, 3, 31, 23, 59, 58, 250});

  // Stored forms as the record set writes them.
  std::memcpy(rec.get() + store.Fields()[0].Offset(), &when, 8);
  std::memcpy(rec.get() + store.Fields()[1].Offset(), &when, 8);
  std::memcpy(rec.get() + store.Fields()[2].Offset(), &when, 8);
  uint32_t big = 4000000000u;
  std::memcpy(rec.get() + store.Fields()[3].Offset(), &big, 4);
  int16_t small = -7;
  std::memcpy(rec.get() + store.Fields()[4].Offset(), &small, 2);

  bool blank;
  int32_t day = 0, ms = 0;
  double msecs = 0;
  int64_t wide = 0;
  store.ReadFieldValue(1, rec.get(), &day, 4, blank);
  EXPECT_EQ(day, DateTimeToTimeStamp(when).date);
  EXPECT_EQ(day, 738976);  // 2024-03-31 counted from 0001-01-01 as day 1
  store.ReadFieldValue(2, rec.get(), &ms, 4, blank);
  EXPECT_EQ(ms, ((23 * 60 + 59) * 60 + 58) * 1000 + 250);
  store.ReadFieldValue(3, rec.get(), &msecs, 8, blank);
  EXPECT_DOUBLE_EQ(msecs, 738976.0 * 86400000 + ms);
  store.ReadFieldValue(4, rec.get(), &wide, 8, blank);
  EXPECT_EQ(wide, 4000000000LL);
  EXPECT_THROW(store.ReadFieldValue(4, rec.get(), &ms, 4, blank), EAssertionFailed);  // no room for 8 bytes

  // Written back from the same forms.
  TRecBuf copy = store.AllocRecBuf();
  store.PutField(1, copy.get(), &day, 4);
  store.PutField(2, copy.get(), &ms, 4);
  store.PutField(3, copy.get(), &msecs, 8);
  store.PutField(4, copy.get(), &wide, 8);
  EXPECT_DOUBLE_EQ(store.GetFieldAsVariant(1, copy.get()).AsDateTime(), EncodeDate(2024, 3, 31));
  EXPECT_NEAR(store.GetFieldAsVariant(2, copy.get()).AsDateTime(), when - EncodeDate(2024, 3, 31), 1e-9);
  EXPECT_NEAR(store.GetFieldAsVariant(3, copy.get()).AsDateTime(), when, 1e-9);
  EXPECT_EQ(store.GetFieldAsVariant(4, copy.get()), Variant(int64_t{4000000000LL}));
  EXPECT_EQ(store.GetFieldAsVariant(5, rec.get()), Variant(int16_t{-7}));
}

TEST(FieldAccessTest, VariantKinds) {
  TestStore store({{"i8", dtInt8}, {"b", dtBoolean}, {"w", dtUInt16}, {"i64", dtInt64}, {"f", dtFloat},
                   {"bcd", dtBCD}, {"vb", dtVarBytes, 4}, {"xb", dtExtVarBytes}, {"by", dtBytes, 3}});
  store.Fields()[4].SetScale(2);
  TRecBuf rec = store.AllocRecBuf();
  int16_t i8 = -5, b = -1;
  uint16_t w = 65535;
  int64_t i64 = -1234567890123LL, bcd = 123456;
  double f = 3.14159;
  const uint8_t vb[] = {3, 0, 'a', 'b', 'c'};
  const uint8_t xb[] = {2, 0, 0xFF, 0x00};
  store.PutField(1, rec.get(), &i8, 2);
  store.PutField(2, rec.get(), &b, 2);
  store.PutField(3, rec.get(), &w, 2);
  store.PutField(4, rec.get(), &i64, 8);
  store.PutField(5, rec.get(), &f, 8);
  store.PutField(6, rec.get(), &bcd, 8);
  store.PutField(7, rec.get(), vb, sizeof vb);
  store.PutField(8, rec.get(), xb, sizeof xb);
  store.PutField(9, rec.get(), "xyz", 3);

  EXPECT_EQ(store.GetFieldAsVariant(1, rec.get()), Variant(int8_t{-5}));
  EXPECT_EQ(store.GetFieldAsVariant(2, rec.get()), Variant(true));
  EXPECT_EQ(store.GetFieldAsVariant(3, rec.get()), Variant(uint16_t{65535}));
  EXPECT_EQ(store.GetFieldAsVariant(4, rec.get()), Variant(int64_t{-1234567890123LL}));
  EXPECT_EQ(store.GetFieldAsVariant(5, rec.get()), Variant(3.14));  // rounded to the scale
  EXPECT_EQ(store.GetFieldAsVariant(6, rec.get()), Variant(Currency{123456}));
  EXPECT_EQ(store.GetFieldAsVariant(7, rec.get()), Variant(Variant::Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(store.GetFieldAsVariant(8, rec.get()), Variant(Variant::Bytes{0xFF, 0x00}));
  EXPECT_EQ(store.GetFieldAsVariant(9, rec.get()), Variant(Variant::Bytes{'x', 'y', 'z'}));

  store.PutField(5, rec.get(), &f, 8, true);  // raw: no rounding
  EXPECT_EQ(store.GetFieldAsVariant(5, rec.get()), Variant(3.14159));

  uint8_t out[8] = {};
  bool blank;
  store.ReadFieldValue(8, rec.get(), out, sizeof out, blank);
  EXPECT_EQ(std::memcmp(out, xb, sizeof xb), 0);

  store.SetNull(4, rec.get(), true);
  EXPECT_TRUE(store.GetFieldAsVariant(4, rec.get()).Type() == VarType::Null);
  store.PutField(4, rec.get(), &i64, 8);  // a written value is not null
  EXPECT_FALSE(store.GetNull(4, rec.get()));
}

// The typed accessors' reading without a Variant: the same values, null
// by the flag even where the record still holds the bytes of a value, and
// every other type left to the Variant.
TEST(FieldAccessTest, NumbersAndDatesWithoutAVariant) {
  TestStore store({{"i8", dtInt8}, {"u16", dtUInt16}, {"i32", dtInt32}, {"u32", dtUInt32}, {"i64", dtInt64},
                   {"f", dtFloat}, {"dt", dtDateTime}, {"b", dtBoolean}, {"bcd", dtBCD}, {"s", dtString, 4}});
  TRecBuf rec = store.AllocRecBuf();
  int16_t i8 = -5;
  uint16_t u16 = 65535;
  int32_t i32 = -2147483647 - 1;
  uint32_t u32 = 4294967295u;
  int64_t i64 = -1234567890123LL;
  double f = 2.5, dt = 46000.75;
  store.PutField(1, rec.get(), &i8, 2);
  store.PutField(2, rec.get(), &u16, 2);
  store.PutField(3, rec.get(), &i32, 4);
  store.PutField(4, rec.get(), &u32, 4);
  store.PutField(5, rec.get(), &i64, 8);
  store.PutField(6, rec.get(), &f, 8);
  store.PutField(7, rec.get(), &dt, 8);
  // The store keeps a date-time as its day count, as the record set writes it.
  std::memcpy(rec.get() + store.Fields()[6].Offset(), &dt, sizeof dt);
  using N = TData::TFieldNumber;
  const struct {
    int field;
    N::Kind kind;
    int64_t integer;
    double real;
  } cases[] = {{1, N::kInteger, -5, 0},          {2, N::kInteger, 65535, 0}, {3, N::kInteger, INT32_MIN, 0},
               {4, N::kInteger, 4294967295, 0}, {5, N::kInteger, i64, 0},   {6, N::kFloat, 0, 2.5},
               {7, N::kFloat, 0, 46000.75},      {8, N::kOther, 0, 0},       {9, N::kOther, 0, 0},
               {10, N::kOther, 0, 0}};
  for (const auto& c : cases) {
    const N n = store.GetFieldAsNumber(c.field, rec.get());
    EXPECT_EQ(n.kind, c.kind) << c.field;
    if (c.kind == N::kInteger) {
      EXPECT_EQ(n.integer, c.integer) << c.field;
    }
    if (c.kind == N::kFloat) {
      EXPECT_EQ(n.real, c.real) << c.field;
    }
  }
  for (int field = 1; field <= 7; ++field) {
    store.SetNull(field, rec.get(), true);  // the value's bytes stay in the record
    EXPECT_EQ(store.GetFieldAsNumber(field, rec.get()).kind, N::kNull) << field;
  }
}

TEST(FieldAccessTest, NullComplexFieldsCopyNothing) {
  TestStore store({{"e", dtExtString}, {"m", dtMemo}});
  TRecBuf rec = store.AllocRecBuf();
  store.SetNull(1, rec.get(), true);
  char dest[4] = {'#', '#', '#', '#'};
  bool blank = false;
  store.ReadFieldValue(1, rec.get(), dest, sizeof dest, blank);
  EXPECT_TRUE(blank);
  EXPECT_EQ(dest[0], '#');
  blank = false;
  store.ReadFieldValue(1, rec.get(), nullptr, 0, blank);
  EXPECT_TRUE(blank);

  // A blob without data is null and gets its flag; an empty ext string that
  // is not null reads as the empty text.
  store.CreateBlob(2, rec.get());
  EXPECT_TRUE(store.GetNull(2, rec.get()));
  EXPECT_EQ(rec[store.DataSize() + 1], 1);
  store.SetNull(1, rec.get(), false);
  EXPECT_EQ(ReadText(store, 1, rec.get()), "");
  store.FreeComplexFields(rec.get(), true);
}

TEST(FieldAccessTest, BlobFields) {
  TestStore store({{"m", dtMemo}, {"w", dtWideMemo}, {"b", dtBlob}});
  TRecBuf rec = store.AllocRecBuf();
  store.CreateBlob(1, rec.get()).SetAsString("memo text");
  TBlob& wide = store.CreateBlob(2, rec.get());
  EXPECT_TRUE(wide.IsUnicode());
  wide.SetAsWideString(u"ol\u00E1");
  store.CreateBlob(3, rec.get()).Write(0, 2, "\x01\x02");

  EXPECT_EQ(store.GetFieldAsVariant(1, rec.get()), Variant("memo text"));
  EXPECT_EQ(store.GetFieldAsVariant(2, rec.get()), Variant(u"ol\u00E1"));
  EXPECT_EQ(store.GetFieldAsVariant(3, rec.get()), Variant(Variant::Bytes{1, 2}));
  EXPECT_THROW(store.PutField(1, rec.get(), "x", 1), EAssertionFailed);

  store.SetNull(1, rec.get(), true);  // clears the blob's data
  EXPECT_TRUE(store.GetBlob(1, rec.get())->IsEmpty());
  EXPECT_EQ(store.Objects().LiveCount(), 3u);
  store.FreeComplexFields(rec.get(), false);  // blobs stay
  EXPECT_EQ(store.Objects().LiveCount(), 3u);
  store.FreeComplexFields(rec.get(), true);
  EXPECT_EQ(store.Objects().LiveCount(), 0u);
  EXPECT_EQ(store.GetBlob(1, rec.get()), nullptr);
}

TEST(FieldAccessTest, CopiedComplexFieldsShareAndReleaseTheirValues) {
  TestStore store({{"e", dtExtString}, {"m", dtMemo}, {"v", dtVariant}});
  TRecBuf a = store.AllocRecBuf();
  TRecBuf b = store.AllocRecBuf();
  store.PutExtString(1, a.get(), "shared");
  store.CreateBlob(2, a.get()).SetAsString("blob");
  store.PutVariant(3, a.get(), Variant(int32_t{42}));
  std::memcpy(b.get(), a.get(), store.RecordSize());
  store.CopyComplexFields(a.get(), b.get());

  store.FreeComplexFields(a.get(), true);
  store.FreeComplexFields(a.get(), true);  // twice: the references are gone already
  EXPECT_EQ(store.GetFieldAsVariant(1, b.get()), Variant("shared"));
  EXPECT_EQ(store.GetFieldAsVariant(2, b.get()), Variant("blob"));
  EXPECT_EQ(store.GetFieldAsVariant(3, b.get()), Variant(int32_t{42}));
  store.FreeComplexFields(b.get(), true);
  EXPECT_EQ(store.Objects().LiveCount(), 0u);
}

TEST(FieldAccessTest, ClearDataReleasesEverything) {
  TestStore store({{"e", dtExtString}, {"m", dtMemo}});
  for (int i = 0; i < 30; ++i) {
    TRecBuf rec = store.AllocRecBuf();
    store.PutExtString(1, rec.get(), std::string(i % 2 ? 3000 : 10, 'x'));  // some large items
    store.CreateBlob(2, rec.get()).SetAsString("b");
    store.AppendRecord(rec.get());
  }
  EXPECT_TRUE(store.StringHeap().HasIndividualAllocations());
  store.Close();
  EXPECT_TRUE(store.StringHeap().Empty());
  EXPECT_EQ(store.Objects().LiveCount(), 0u);
  EXPECT_EQ(store.BlockManager().BlockCount(), 0u);
  EXPECT_EQ(store.RecordCount(), 0);
}

TEST(FieldAccessTest, UnwrittenRecordsOfABlockHoldNoReferences) {
  TestStore store({{"e", dtExtString}, {"m", dtMemo}, {"v", dtVariant}});
  TBlockHeader* block = store.BlockManager().AllocBlock(3);
  store.AppendBlock(block, 3);
  TRecBuf rec = store.AllocRecBuf();
  store.SetToBegin();
  store.StepNextRecord(rec.get());
  EXPECT_EQ(ReadText(store, 1, rec.get()), "");
  EXPECT_TRUE(store.GetNull(2, rec.get()));
  store.Close();  // walks the records (blob fields) without tripping over them
  EXPECT_EQ(store.RecordCount(), 0);
}

TEST(FieldAccessTest, FieldNumbersAreChecked) {
  TestStore store({{"a", dtInt32}});
  TRecBuf rec = store.AllocRecBuf();
  bool blank;
  int32_t v;
  EXPECT_THROW(store.ReadFieldValue(0, rec.get(), &v, 4, blank), EAssertionFailed);
  EXPECT_THROW(store.ReadFieldValue(2, rec.get(), &v, 4, blank), EAssertionFailed);
  EXPECT_THROW(store.PutField(2, rec.get(), &v, 4), EAssertionFailed);
  EXPECT_THROW(store.PutField(1, rec.get(), &v, 2), EAssertionFailed);  // too short a source
}

}  // namespace
}  // namespace da
