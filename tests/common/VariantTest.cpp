#include "common/Variant.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/RegionalSettings.h"

namespace da {
namespace {

TEST(Variant, UnassignedAndNullBothCountAsNull) {
  Variant unassigned;
  Variant null = Variant::Null();
  EXPECT_EQ(unassigned.Type(), VarType::Unassigned);
  EXPECT_EQ(null.Type(), VarType::Null);
  EXPECT_TRUE(unassigned.IsNull());
  EXPECT_TRUE(null.IsNull());
  EXPECT_TRUE(unassigned.IsUnassigned());
  EXPECT_FALSE(null.IsUnassigned());
  EXPECT_FALSE(unassigned == null);
  EXPECT_FALSE(Variant(0).IsNull());
  EXPECT_FALSE(Variant("").IsNull());
}

TEST(Variant, KeepsEveryKindApart) {
  struct KindCase {
    Variant value;
    VarType type;
  };
  const KindCase cases[] = {
      {Variant(int8_t{-1}), VarType::Int8},       {Variant(int16_t{-2}), VarType::Int16},
      {Variant(int32_t{3}), VarType::Int32},      {Variant(int64_t{4}), VarType::Int64},
      {Variant(uint16_t{5}), VarType::Word},      {Variant(1.5f), VarType::Single},
      {Variant(2.5), VarType::Double},            {Variant(Currency{25000}), VarType::Currency},
      {Variant::FromDateTime(1.5), VarType::DateTime}, {Variant("abc"), VarType::String},
      {Variant(u"abc"), VarType::WideString},     {Variant(true), VarType::Boolean},
      {Variant(Variant::Bytes{1, 2}), VarType::Bytes},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.Type(), c.type) << VarTypeName(c.type);
  EXPECT_FALSE(Variant(2.5) == Variant::FromDateTime(2.5));
  EXPECT_FALSE(Variant(int32_t{4}) == Variant(int64_t{4}));
}

TEST(Variant, ConvertsBetweenKinds) {
  RegionalSettings rs;
  rs.decimalSeparator = ',';
  ScopedRegionalSettings scoped(rs);
  EXPECT_EQ(Variant("42").AsInt32(), 42);
  EXPECT_EQ(Variant(" 7 ").AsInt64(), 7);
  EXPECT_DOUBLE_EQ(Variant("2,5").AsDouble(), 2.5);
  EXPECT_EQ(Variant(2.5).AsString(), "2,5");
  EXPECT_EQ(Variant(int16_t{-3}).AsString(), "-3");
  EXPECT_EQ(Variant(Currency{125000}).AsString(), "12,5");
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_TRUE(Variant("true").AsBoolean());
  EXPECT_EQ(Variant(Currency::FromDouble(1.23456)).AsCurrency().scaled, 12346);
  // Past ±922337203685477 no currency holds the value: an error, not a wrapped amount.
  EXPECT_EQ(Variant(int64_t{922337203685477}).AsCurrency().scaled, 9223372036854770000);
  EXPECT_THROW(Variant(int64_t{922337203685478}).AsCurrency(), EVariantError);
  EXPECT_THROW(Variant(-1e15).AsCurrency(), EVariantError);
  EXPECT_THROW(Variant(NAN).AsCurrency(), EVariantError);
  EXPECT_EQ(Variant(u"ação").AsString(), "a\xE7\xE3o");
  EXPECT_EQ(Variant("a\xE7\xE3o").AsWideString(), u"ação");
  EXPECT_DOUBLE_EQ(Variant::FromDateTime(46082.5).AsDouble(), 46082.5);
  EXPECT_EQ(Variant::Null().AsString(), "");
  EXPECT_EQ(Variant("\x01\xFF").AsBytes(), (Variant::Bytes{0x01, 0xFF}));
}

TEST(Variant, FailedConversionsNameBothKinds) {
  try {
    Variant::Null().AsInt32();
    FAIL();
  } catch (const EVariantError& e) {
    EXPECT_EQ(e.Message(), "Could not convert variant of type (Null) into type (Integer)");
  }
  EXPECT_THROW(Variant("abc").AsDouble(), EVariantError);
  EXPECT_THROW(Variant("12x").AsInt64(), EVariantError);
  EXPECT_THROW(Variant(int64_t{1} << 40).AsInt32(), EVariantError);
  EXPECT_THROW(Variant(1e300).AsInt64(), EVariantError);
  EXPECT_THROW(Variant().AsDateTime(), EVariantError);
}

}  // namespace
}  // namespace da
