// Parameters: values and their types, lookup by name, the list rebuilt
// after a text change, and what the driver command receives.

#include <gtest/gtest.h>

#include <string>

#include "ComponentTestSupport.h"
#include "common/DateTime.h"
#include "common/RegionalSettings.h"
#include "components/DAParams.h"
#include "components/MyAccess.h"
#include "driver/CRAccess.h"

namespace da {
namespace {

using componenttest::MessageOf;

TEST(DAParamTest, NewParameterIsNullBoundAndUntyped) {
  TDAParams params;
  TDAParam& p = params.Add("servidor");
  EXPECT_TRUE(p.IsNull());
  EXPECT_TRUE(p.Value().IsUnassigned());
  EXPECT_TRUE(p.Bound());
  EXPECT_EQ(p.DataType(), ftUnknown);
  EXPECT_EQ(p.ParamType(), ptUnknown);
  EXPECT_EQ(p.Size(), 0);
  EXPECT_EQ(p.AsString(), "");
}

TEST(DAParamTest, AnUntypedParameterTakesItsTypeFromTheValue) {
  struct Case {
    Variant value;
    TFieldType type;
  };
  const Case cases[] = {
      {Variant(int8_t{1}), ftSmallint},        {Variant(int16_t{1}), ftSmallint},
      {Variant(int32_t{1}), ftInteger},        {Variant(uint16_t{1}), ftInteger},
      {Variant(1.5), ftFloat},                 {Variant(1.5f), ftFloat},
      {Variant(Currency{15000}), ftBCD},       {Variant::FromDateTime(45000.5), ftDateTime},
      {Variant("text"), ftString},             {Variant(u"wide"), ftString},
      {Variant(true), ftBoolean},              {Variant(int64_t{1} << 40), ftLargeint},
      {Variant(Variant::Bytes{1, 2}), ftUnknown}, {Variant::Null(), ftUnknown},
  };
  for (const Case& c : cases) {
    TDAParam p;
    p.SetValue(c.value);
    EXPECT_EQ(p.DataType(), c.type) << static_cast<int>(c.value.Type());
    EXPECT_EQ(p.IsNull(), c.value.IsNull());
  }
}

TEST(DAParamTest, ADeclaredTypeIsKeptAndAChangeOfTypeClearsTheValue) {
  TDAParam p;
  p.SetDataType(ftString);
  p.SetValue(Variant(int32_t{42}));
  EXPECT_EQ(p.DataType(), ftString);
  EXPECT_EQ(p.Value(), Variant(int32_t{42}));
  p.SetDataType(ftInteger);
  EXPECT_TRUE(p.IsNull());
  EXPECT_TRUE(p.Value().IsUnassigned());
  // Setting the same type again keeps the value.
  p.SetValue(Variant(int32_t{7}));
  p.SetDataType(ftInteger);
  EXPECT_EQ(p.AsInteger(), 7);
}

TEST(DAParamTest, TypedAccessors) {
  ScopedRegionalSettings rs(RegionalSettings{});  // dd/mm/yyyy
  TDAParam p;
  p.SetAsInteger(12);
  EXPECT_EQ(p.DataType(), ftInteger);
  EXPECT_EQ(p.AsString(), "12");
  p.SetAsString("abc");
  EXPECT_EQ(p.DataType(), ftString);
  EXPECT_EQ(p.AsString(), "abc");
  p.SetAsDateTime(EncodeDate(2024, 3, 9) + EncodeTime(13, 5, 0, 0));
  EXPECT_EQ(p.DataType(), ftDateTime);
  EXPECT_EQ(p.AsString(), "09/03/2024");  // the date part only
  p.SetAsBoolean(true);
  EXPECT_EQ(p.AsString(), "True");
  p.SetAsBoolean(false);
  EXPECT_EQ(p.AsString(), "False");
  // A fixed-char parameter stays one; a wide one keeps wide text.
  TDAParam f;
  f.SetDataType(ftFixedChar);
  f.SetAsString("x");
  EXPECT_EQ(f.DataType(), ftFixedChar);
  TDAParam w;
  w.SetDataType(ftWideString);
  w.SetAsString("caf\xe9");
  EXPECT_EQ(w.Value(), Variant(u"caf\u00e9"));
  // A null value reads as no number.
  TDAParam n;
  EXPECT_THROW(n.AsInteger(), EVariantError);
}

TEST(DAParamTest, BlobParametersKeepTheirValueInAValueObject) {
  TDAParam p;
  p.SetDataType(ftMemo);
  ASSERT_NE(p.ValueObject(), nullptr);
  p.SetValue(Variant("long text"));
  EXPECT_FALSE(p.IsNull());
  EXPECT_EQ(p.AsString(), "long text");
  EXPECT_EQ(p.Value(), Variant("long text"));
  p.SetDataType(ftString);
  EXPECT_EQ(p.ValueObject(), nullptr);
}

TEST(DAParamsTest, LookupIgnoresLetterCaseAndFindsTheFirst) {
  TDAParams params;
  params.Add("servidor").SetValue(Variant("one"));
  params.Add("SERVIDOR").SetValue(Variant("two"));
  EXPECT_EQ(params.ParamNamed("Servidor").AsString(), "one");
  EXPECT_EQ(params.FindParam("nope"), nullptr);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { params.ParamNamed("nope"); }), "Parameter 'nope' not found");
}

TEST(DAParamsTest, AssignValuesCopiesByName) {
  TDAParams a, b;
  a.Add("x");
  a.Add("y");
  b.Add("Y").SetAsInteger(5);
  b.Add("z").SetAsInteger(6);
  a.AssignValues(b);
  EXPECT_EQ(a.Count(), 2);
  EXPECT_TRUE(a[0].IsNull());
  EXPECT_EQ(a[1].AsInteger(), 5);
}

TEST(DAParamsTest, CopyParamFromKeepsADeclaredDirection) {
  TDAParam src, dst;
  src.SetName("a");
  src.SetParamType(ptInputOutput);
  src.SetAsString("v");
  src.SetSize(9);
  dst.SetParamType(ptInput);
  dst.CopyParamFrom(src);
  EXPECT_EQ(dst.Name(), "a");
  EXPECT_EQ(dst.ParamType(), ptInput);
  EXPECT_EQ(dst.DataType(), ftString);
  EXPECT_EQ(dst.AsString(), "v");
  EXPECT_EQ(dst.Size(), 9);
}

// --- The command's list and the hand-off (no server needed) ----------------

TEST(CommandParamsTest, TheListFollowsTheMarkersAndKeepsValuesByName) {
  TMyCommand cmd;
  cmd.SetSQLText("SELECT bd, host FROM ligacoes\r\nWHERE servidor=:server AND basedados=:database ORDER BY cliente");
  ASSERT_EQ(cmd.Params().Count(), 2);
  EXPECT_EQ(cmd.Params()[0].Name(), "server");
  EXPECT_EQ(cmd.Params()[1].Name(), "database");
  cmd.ParamNamed("database").SetAsString("loja");
  cmd.ParamNamed("server").SetAsInteger(3);

  cmd.SetSQLText("SELECT 1 FROM t WHERE db = :DATABASE AND h = :host");
  ASSERT_EQ(cmd.Params().Count(), 2);
  EXPECT_EQ(cmd.Params()[0].Name(), "DATABASE");
  EXPECT_EQ(cmd.Params()[0].AsString(), "loja");
  EXPECT_EQ(cmd.Params()[0].DataType(), ftString);
  EXPECT_EQ(cmd.Params()[1].Name(), "host");
  EXPECT_TRUE(cmd.Params()[1].IsNull());

  // With ParamCheck off the list stays as it is.
  cmd.SetParamCheck(false);
  cmd.SetSQLText("SELECT :other");
  ASSERT_EQ(cmd.Params().Count(), 2);
  EXPECT_EQ(cmd.Params()[0].Name(), "DATABASE");
}

TEST(CommandParamsTest, AMarkerUsedTwiceGivesTwoParametersAndOnlyTheFirstIsFound) {
  TMyCommand cmd;
  cmd.SetSQLText("SELECT :a, :a");
  ASSERT_EQ(cmd.Params().Count(), 2);
  cmd.ParamNamed("A").SetAsInteger(1);
  cmd.PassParamsToDriver(true);
  const TParamDescs& d = cmd.DriverCommand()->Params();
  ASSERT_EQ(d.Count(), 2u);
  EXPECT_FALSE(d[0].IsNull());
  EXPECT_EQ(d[0].Value(), Variant(int32_t{1}));
  EXPECT_TRUE(d[1].IsNull());
  EXPECT_TRUE(d[1].IsBound());
}

TEST(CommandParamsTest, HandOffDescribesEachParameter) {
  TMyCommand cmd;
  cmd.SetSQLText("INSERT INTO t VALUES (:servidor, :n, :d, :when, :never)");
  cmd.ParamNamed("servidor").SetAsString("srv-01.example.internal");  // 23 characters
  cmd.ParamNamed("servidor").SetParamType(ptInput);
  cmd.ParamNamed("n").SetAsInteger(7);
  cmd.ParamNamed("d").SetDataType(ftDate);
  cmd.ParamNamed("d").SetValue(Variant::FromDateTime(45000.75));
  cmd.ParamNamed("when").SetAsDateTime(45000.5);
  cmd.PassParamsToDriver(true);
  const TParamDescs& d = cmd.DriverCommand()->Params();
  ASSERT_EQ(d.Count(), 5u);
  EXPECT_EQ(d[0].Name(), "servidor");
  EXPECT_EQ(d[0].DataType(), dtString);
  EXPECT_EQ(d[0].Size(), 23);  // taken from the value for an input string
  EXPECT_EQ(d[1].DataType(), dtInt32);
  EXPECT_EQ(d[2].DataType(), dtDate);
  EXPECT_EQ(d[2].Value().AsDouble(), 45000.0);  // the date part only
  EXPECT_EQ(d[3].DataType(), dtDateTime);
  EXPECT_EQ(d[4].DataType(), dtUnknown);
  EXPECT_TRUE(d[4].IsNull());

  // Direction ptUnknown: the size stays 0.
  cmd.ParamNamed("servidor").SetParamType(ptUnknown);
  cmd.PassParamsToDriver(true);
  EXPECT_EQ(cmd.DriverCommand()->Params()[0].Size(), 0);
  // An output parameter passes no value.
  cmd.ParamNamed("n").SetParamType(ptOutput);
  cmd.DriverCommand()->Params()[1].SetValue(Variant());
  cmd.PassParamsToDriver(true);
  EXPECT_TRUE(cmd.DriverCommand()->Params()[1].IsNull());
}

TEST(CommandParamsTest, ExtraDriverEntriesAreRemovedUnlessMatchedByName) {
  TMyCommand cmd;
  cmd.SetSQLText("SELECT :a, :b, :c");
  cmd.Params().Delete(2);
  cmd.PassParamsToDriver(false);
  EXPECT_EQ(cmd.DriverCommand()->Params().Count(), 2u);
  // With the change marker set, entries are found by name and none removed.
  cmd.Params().Add("late").SetAsInteger(3);
  cmd.Params().SetChangeMarker(1);
  cmd.PassParamsToDriver(true);
  ASSERT_EQ(cmd.DriverCommand()->Params().Count(), 3u);
  EXPECT_EQ(cmd.DriverCommand()->Params()[2].Name(), "late");
  EXPECT_EQ(cmd.Params().ChangeMarker(), 0);
}

TEST(CommandParamsTest, ExpandedTextTrimsAndExpandsMacros) {
  TMyCommand cmd;
  cmd.SetSQLText("SELECT * FROM &t\r\n  \r\n");
  EXPECT_EQ(cmd.ExpandedSQL(), "SELECT * FROM ");
  cmd.Macros().MacroByName("t").SetValue("users");
  EXPECT_EQ(cmd.ExpandedSQL(), "SELECT * FROM users");
  EXPECT_EQ(cmd.DriverCommand()->SQL(), "SELECT * FROM users");  // the driver saw the change
  cmd.Macros().MacroByName("t").SetActive(false);
  EXPECT_EQ(cmd.ExpandedSQL(), "SELECT * FROM ");
}

TEST(CommandParamsTest, ExecuteWithoutConnectionFails) {
  TMyCommand cmd;
  cmd.SetSQLText("SELECT 1");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { cmd.Execute(); }), "Connection is not defined");
}

}  // namespace
}  // namespace da
