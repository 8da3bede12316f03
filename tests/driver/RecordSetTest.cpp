// The MySQL record set against the throwaway server: column types mapped
// under every option that changes the mapping, the conversion of every
// type's text, blocks of FetchRows, reading on demand over a second
// session, batches, and the errors of opening what returns no rows.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "RecordSetTestSupport.h"
#include "common/DAErrors.h"
#include "common/DateTime.h"
#include "common/Exception.h"
#include "driver/BcdText.h"
#include "driver/CRAccess.h"
#include "driver/MyRowConvert.h"
#include "mysql/MySqlApi.h"

namespace da {
namespace {

using testutil::RecordSetServerTest;

class RecordSetTest : public RecordSetServerTest {};

const char* kTypesTable =
    "CREATE TABLE rs_types ("
    " b TINYINT(1), t TINYINT, tu TINYINT UNSIGNED, s SMALLINT, su SMALLINT UNSIGNED,"
    " m MEDIUMINT, i INT, iu INT UNSIGNED, bi BIGINT, bi10 BIGINT(10),"
    " f FLOAT, d DOUBLE, dc DECIMAL(10,2), dw DECIMAL(20,6),"
    " dt DATE, tm TIME, dtm DATETIME, ts TIMESTAMP NULL, y YEAR,"
    " c CHAR(10), vc VARCHAR(40), vl VARCHAR(300), bn BINARY(4), vb VARBINARY(10),"
    " bl BLOB, tx TEXT, en ENUM('a','b'), st SET('x','y'), bt BIT(8),"
    " bu TINYINT(1) UNSIGNED, tb TINYBLOB, mb MEDIUMBLOB, lb LONGBLOB, tt TINYTEXT, mt MEDIUMTEXT, lt LONGTEXT,"
    " g GEOMETRY, dt6 DATETIME(6), ts6 TIMESTAMP(6) NULL) CHARACTER SET latin1";

// Data types of the columns of rs_types, then NULL AS nul.
struct Mapping {
  const char* options;
  std::map<std::string, TDataType> changes;  // against the defaults
};

const std::vector<std::pair<std::string, TDataType>> kDefaults = {
    {"b", dtBoolean},  {"t", dtInt8},       {"tu", dtUInt16},  {"s", dtInt16},    {"su", dtUInt16},
    {"m", dtInt32},    {"i", dtInt32},      {"iu", dtUInt32},  {"bi", dtInt64},   {"bi10", dtInt64},
    {"f", dtFloat},    {"d", dtFloat},      {"dc", dtFloat},   {"dw", dtFloat},   {"dt", dtDate},
    {"tm", dtTime},    {"dtm", dtDateTime}, {"ts", dtDateTime}, {"y", dtUInt16},  {"c", dtString},
    {"vc", dtString},  {"vl", dtString},    {"bn", dtString},  {"vb", dtString},  {"bl", dtBlob},
    {"tx", dtMemo},    {"en", dtString},    {"st", dtString},  {"bt", dtInt64},   {"bu", dtBoolean},
    {"tb", dtBlob},    {"mb", dtBlob},      {"lb", dtBlob},    {"tt", dtMemo},    {"mt", dtMemo},
    {"lt", dtMemo},    {"g", dtBlob},       {"dt6", dtDateTime}, {"ts6", dtDateTime}, {"nul", dtString}};

TEST_F(RecordSetTest, EveryColumnTypeUnderEveryOptionThatChangesItsMapping) {
  Run("DROP TABLE IF EXISTS rs_types");
  Run(kTypesTable);
  std::map<std::string, TDataType> asString;
  for (const auto& [name, type] : kDefaults)
    if (type != dtBlob && type != dtMemo) asString[name] = dtString;
  // Text blobs stay memos, decoded from UTF-8 on a Unicode session.
  std::map<std::string, TDataType> asStringUnicode = asString;
  for (const char* text : {"tx", "tt", "mt", "lt"}) asStringUnicode[text] = dtWideMemo;
  std::map<std::string, TDataType> unicode;
  for (const auto& [name, type] : kDefaults) {
    if (type == dtString) unicode[name] = dtWideString;
    if (type == dtMemo) unicode[name] = dtWideMemo;
  }
  const Mapping cases[] = {
      {"", {}},
      {"FieldsAsString", asString},
      {"FieldsAsString UseUnicode", asStringUnicode},
      {"EnableBoolean=0", {{"b", dtInt8}, {"bu", dtUInt16}}},
      {"BinaryAsString=0", {{"bn", dtBytes}, {"vb", dtVarBytes}}},
      {"OptimizedBigInt", {{"bi10", dtInt32}, {"bt", dtInt32}}},
      {"BCD", {{"dc", dtBCD}, {"dw", dtBCD}}},
      {"FmtBCD", {{"dc", dtFmtBCD}, {"dw", dtFmtBCD}}},
      {"BCD FmtBCD", {{"dc", dtFmtBCD}, {"dw", dtFmtBCD}}},
      {"Limited BCD", {{"dc", dtBCD}}},
      {"Limited BCD FmtBCD", {{"dc", dtBCD}, {"dw", dtFmtBCD}}},
      {"Limited FmtBCD", {{"dc", dtFmtBCD}, {"dw", dtFmtBCD}}},
      {"CommandBCD", {{"dc", dtBCD}, {"dw", dtBCD}}},
      {"FlatBuffers=0", {{"vc", dtExtString}, {"vl", dtExtString}}},
      {"LongStrings=0", {{"vl", dtMemo}}},
      {"LongStrings=0 FlatBuffers=0", {{"vc", dtExtString}, {"vl", dtMemo}}},
      {"UseUnicode", unicode},
      {"UseUnicode FlatBuffers=0", {}},
  };
  for (const Mapping& c : cases) {
    const std::string o = c.options;
    auto has = [&](const char* word) { return (" " + o + " ").find(std::string(" ") + word + " ") != std::string::npos; };
    TMySQLConnection connection;
    Configure(connection);
    connection.SetProp(propUseUnicode, has("UseUnicode"));
    connection.SetProp(propOptimizedBigInt, has("OptimizedBigInt"));
    connection.SetProp(propEnableBCD, has("BCD"));
    connection.SetProp(propEnableFmtBCD, has("FmtBCD"));
    connection.SetProp(propDecimalAsBCDLimited, has("Limited"));
    connection.Connect();
    TMySQLRecordset rs;
    rs.SetConnection(&connection);
    rs.SetProp(propFetchAll, true);
    rs.SetProp(propFieldsAsString, has("FieldsAsString"));
    rs.SetProp(propEnableBoolean, !has("EnableBoolean=0"));
    rs.SetProp(propBinaryAsString, !has("BinaryAsString=0"));
    rs.SetProp(propFlatBuffers, !has("FlatBuffers=0"));
    rs.SetProp(propLongStrings, !has("LongStrings=0"));
    if (has("CommandBCD")) rs.GetCommand()->SetProp(propEnableBCD, true);
    rs.GetCommand()->SetSQL("SELECT *, NULL AS nul FROM rs_types");
    rs.Open();
    ASSERT_EQ(rs.FieldCount(), static_cast<int>(kDefaults.size())) << o;
    for (size_t k = 0; k < kDefaults.size(); ++k) {
      const auto& [name, type] = kDefaults[k];
      TDataType expected = c.changes.count(name) ? c.changes.at(name) : type;
      if (o == "UseUnicode FlatBuffers=0")
        expected = unicode.count(name) ? unicode.at(name) : type;
      if (o == "UseUnicode FlatBuffers=0" && (name == "vc" || name == "vl")) expected = dtExtWideString;
      if (o == "UseUnicode FlatBuffers=0" && name == "nul") expected = dtExtWideString;
      if (o == "FlatBuffers=0" && name == "nul") expected = dtExtString;
      if (o == "LongStrings=0 FlatBuffers=0" && name == "nul") expected = dtExtString;
      EXPECT_EQ(rs.Fields()[static_cast<int>(k)].Name(), name);
      EXPECT_EQ(rs.Fields()[static_cast<int>(k)].DataType(), expected) << o << ": " << name;
    }
    rs.Close();
  }
}

TEST_F(RecordSetTest, LengthsSizesAndFlagsOfTheDescriptions) {
  Run("DROP TABLE IF EXISTS rs_desc");
  Run("CREATE TABLE rs_desc (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, c CHAR(10) NOT NULL,"
      " vc VARCHAR(255), dc DECIMAL(10,2), ts TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP) CHARACTER SET latin1");
  struct Case {
    bool flat;
    const char* name;
    TDataType type;
    int length;
    size_t size;
    bool fixed, required, key;
  };
  const Case cases[] = {
      {true, "id", dtInt32, 11, 4, false, false, true},       {true, "c", dtString, 10, 11, true, true, false},
      {true, "vc", dtString, 255, 256, false, false, false},  {true, "dc", dtFloat, 12, 8, false, false, false},
      {true, "ts", dtDateTime, 19, 8, false, false, false},   {false, "vc", dtExtString, 255, 4, false, false, false},
      {false, "c", dtString, 10, 11, true, true, false},
  };
  for (bool flat : {true, false}) {
    TMySQLRecordset rs;
    Prepare(rs, "SELECT * FROM rs_desc AS d WHERE id > 0");
    rs.SetProp(propFlatBuffers, flat);
    rs.Open();
    for (const Case& c : cases) {
      if (c.flat != flat) continue;
      const auto& f = static_cast<const TMySQLFieldDesc&>(rs.FieldNamed(c.name));
      EXPECT_EQ(f.DataType(), c.type) << c.name;
      EXPECT_EQ(f.Length(), c.length) << c.name;
      EXPECT_EQ(f.Size(), c.size) << c.name;
      EXPECT_EQ(f.Fixed(), c.fixed) << c.name;
      EXPECT_EQ(f.Required(), c.required) << c.name;
      EXPECT_EQ(f.IsKey(), c.key) << c.name;
    }
    EXPECT_EQ(rs.FieldNamed("dc").Scale(), 2);
    EXPECT_TRUE(rs.FieldNamed("id").AutoIncrement());
    ASSERT_NE(rs.FieldNamed("ts").TableInfo(), nullptr);
    EXPECT_EQ(rs.FieldNamed("ts").TableInfo()->TableName(), "rs_desc");
    EXPECT_EQ(rs.FieldNamed("ts").TableInfo()->TableAlias(), "d");
    EXPECT_EQ(rs.FieldNamed("ts").TableInfo()->TimestampField(), &rs.FieldNamed("ts"));
  }
}

// The length rules read keywords from the statement text; a record set
// given a new text reads them anew (a SHOW PROCESSLIST widens "Command",
// a SELECT of a column of that name does not), whatever ran before.
TEST_F(RecordSetTest, LengthRulesFollowTheTextWhenItChanges) {
  const std::string show = "SHOW PROCESSLIST";
  const std::string select = "SELECT COMMAND AS Command FROM information_schema.PROCESSLIST";
  auto commandLength = [&](TMySQLRecordset& rs, const std::string& sql) {
    rs.Close();
    Prepare(rs, sql);
    rs.Open();
    const int length = rs.FieldNamed("Command").Length();
    rs.Close();
    return length;
  };
  TMySQLRecordset freshShow, freshSelect;
  const int showLength = commandLength(freshShow, show);
  const int selectLength = commandLength(freshSelect, select);
  ASSERT_NE(showLength, selectLength);
  TMySQLRecordset rs;
  EXPECT_EQ(commandLength(rs, select), selectLength);
  EXPECT_EQ(commandLength(rs, show), showLength);
  EXPECT_EQ(commandLength(rs, show), showLength);
  EXPECT_EQ(commandLength(rs, select), selectLength);
}

// Every kind of value read from the server's text into the stored form.
TEST_F(RecordSetTest, EveryTypeIsConvertedFromTheServersText) {
  Run("DROP TABLE IF EXISTS rs_types_values");
  Run(std::string(kTypesTable).replace(13, 8, "rs_types_values"));
  Run("INSERT INTO rs_types_values VALUES (1, -128, 255, -32768, 65535, -8388608, -2147483648, 4294967295,"
      " -9223372036854775808, 1234567890, 1.5, -2.5e-300, -12345678.91, 12345678901234.123456,"
      " '2026-12-31', '-12:30:00', '1899-12-30 00:00:00', '2026-01-02 03:04:05', 1999,"
      " 'abc', 'v\xE9''rdade', REPEAT('x', 300), 'ab', 0x00ff10, 'blob\\0bytes', 'memo\\ntext', 'b', 'x,y', 0xA5,"
      " 1, 'tb', 'mb', 'lb', 'tt', 'mt', 'lt', ST_GeomFromText('POINT(1 2)'),"
      " '2026-01-02 03:04:05.123456', '2026-01-02 03:04:05.987654')");
  Run("INSERT INTO rs_types_values (b, tm, dtm) VALUES (0, '838:59:59', '0000-00-00 00:00:00')");

  TMySQLRecordset rs;
  Prepare(rs, "SELECT * FROM rs_types_values");
  rs.GetCommand()->SetProp(propEnableBCD, true);
  rs.SetProp(propBinaryAsString, false);
  rs.SetProp(propFlatBuffers, false);
  rs.SetProp(propNullForZeroDate, false);
  rs.Open();
  ASSERT_EQ(rs.RecordCount(), 2);
  TRecBuf row = rs.AllocRecBuf();
  rs.SetToBegin();
  rs.StepNextRecord(row.get());
  auto v = [&](const char* name) { return rs.GetFieldAsVariant(rs.FieldNamed(name).FieldNo(), row.get()); };
  EXPECT_EQ(v("b"), Variant(true));
  EXPECT_EQ(v("t"), Variant(int8_t{-128}));
  EXPECT_EQ(v("tu"), Variant(uint16_t{255}));
  EXPECT_EQ(v("s"), Variant(int16_t{-32768}));
  EXPECT_EQ(v("su"), Variant(uint16_t{65535}));
  EXPECT_EQ(v("m"), Variant(int32_t{-8388608}));
  EXPECT_EQ(v("i"), Variant(int32_t{-2147483647 - 1}));
  EXPECT_EQ(v("iu"), Variant(int64_t{4294967295}));
  EXPECT_EQ(v("bi"), Variant(int64_t{INT64_MIN}));
  EXPECT_EQ(v("bi10"), Variant(int64_t{1234567890}));
  EXPECT_EQ(v("f"), Variant(1.5));
  EXPECT_EQ(v("d"), Variant(-2.5e-300));
  EXPECT_EQ(v("dc"), Variant(Currency{-123456789100}));
  EXPECT_EQ(v("dw"), Variant(Currency{123456789012341235}));  // rounded to 4 decimals
  EXPECT_EQ(v("dt"), Variant::FromDateTime(EncodeDate(2026, 12, 31)));
  EXPECT_DOUBLE_EQ(*v("tm").GetDateTime(), -(0.5 + 30.0 / 1440));
  EXPECT_EQ(v("dtm"), Variant::FromDateTime(0));  // day zero stays a value without NullForZeroDelphiDate
  EXPECT_EQ(v("ts"), Variant::FromDateTime(EncodeDateTime({2026, 1, 2, 3, 4, 5, 0})));
  EXPECT_EQ(v("y"), Variant(uint16_t{1999}));
  EXPECT_EQ(v("c"), Variant(std::string("abc")));
  EXPECT_EQ(v("vc"), Variant(std::string("v\xE9'rdade")));
  EXPECT_EQ(v("vl"), Variant(std::string(300, 'x')));
  EXPECT_EQ(v("bn"), Variant(Variant::Bytes{'a', 'b', 0, 0}));
  EXPECT_EQ(v("vb"), Variant(Variant::Bytes{0x00, 0xFF, 0x10}));
  EXPECT_EQ(v("bl"), Variant(Variant::Bytes{'b', 'l', 'o', 'b', 0, 'b', 'y', 't', 'e', 's'}));
  EXPECT_EQ(v("tx"), Variant(std::string("memo\ntext")));
  EXPECT_EQ(v("en"), Variant(std::string("b")));
  EXPECT_EQ(v("st"), Variant(std::string("x,y")));
  EXPECT_EQ(v("bt"), Variant(int64_t{0xA5}));
  EXPECT_EQ(v("bu"), Variant(true));
  EXPECT_EQ(v("tb"), Variant(Variant::Bytes{'t', 'b'}));
  EXPECT_EQ(v("mb"), Variant(Variant::Bytes{'m', 'b'}));
  EXPECT_EQ(v("lb"), Variant(Variant::Bytes{'l', 'b'}));
  EXPECT_EQ(v("tt"), Variant(std::string("tt")));
  EXPECT_EQ(v("mt"), Variant(std::string("mt")));
  EXPECT_EQ(v("lt"), Variant(std::string("lt")));
  EXPECT_EQ(v("g").AsBytes().size(), 25u);  // SRID and the point as the server stores it
  EXPECT_EQ(v("dt6"), Variant::FromDateTime(EncodeDateTime({2026, 1, 2, 3, 4, 5, 123})));
  EXPECT_EQ(v("ts6"), Variant::FromDateTime(EncodeDateTime({2026, 1, 2, 3, 4, 5, 987})));

  rs.StepNextRecord(row.get());
  EXPECT_DOUBLE_EQ(*v("tm").GetDateTime(), 838.0 / 24 + (59 * 60 + 59) / 86400.0);
  EXPECT_EQ(v("dtm"), Variant::FromDateTime(MySqlZeroDate()));  // NullForZeroDate off
  EXPECT_TRUE(v("i").IsNull());
  EXPECT_TRUE(v("vc").IsNull());
  EXPECT_TRUE(v("bl").IsNull());
  rs.Close();

  // The zero date and day zero become null when asked.
  TMySQLConnection connection;
  Configure(connection);
  connection.SetProp(propNullForZeroDelphiDate, true);
  connection.Connect();
  TMySQLRecordset nulls;
  nulls.SetConnection(&connection);
  nulls.SetProp(propFetchAll, true);
  nulls.GetCommand()->SetSQL("SELECT dtm FROM rs_types_values ORDER BY b DESC");
  nulls.Open();
  ASSERT_EQ(nulls.RecordCount(), 2);
  for (TItemHeader* item = nulls.FirstItem(); item; item = item->next)
    EXPECT_TRUE(nulls.GetNull(1, TBlockManager::RecordOf(item)));
}

TEST_F(RecordSetTest, FetchAllReadsBlocksOfFetchRowsBeforeOpenReturns) {
  Run("DROP TABLE IF EXISTS rs_sixty");
  Run("CREATE TABLE rs_sixty (n INT PRIMARY KEY, s VARCHAR(40))");
  std::string insert = "INSERT INTO rs_sixty VALUES ";
  for (int n = 1; n <= 60; ++n) insert += (n > 1 ? "," : "") + std::string("(") + std::to_string(n) + ",'row " + std::to_string(n) + "')";
  Run(insert);

  TMySQLRecordset rs;
  Prepare(rs, "SELECT n, s FROM rs_sixty ORDER BY n");
  rs.SetProp(propFetchRows, 25);
  int fetches = 0;
  rs.OnAfterFetch = [&] { ++fetches; };
  rs.Open();
  EXPECT_EQ(rs.RecordCount(), 60);
  EXPECT_EQ(rs.BlockManager().BlockCount(), 3u);  // 25, 25, 10
  EXPECT_TRUE(rs.IsFetched());
  EXPECT_EQ(rs.GetCommand()->GetCursorState(), csFetched);
  EXPECT_FALSE(rs.UsingSecondConnection());
  EXPECT_EQ(fetches, 3);  // the third block found the end
  // The session is free at once.
  EXPECT_EQ(Column("SELECT COUNT(*) FROM rs_sixty"), std::vector<std::string>{"60"});
  rs.GoToRecNo(60);
  EXPECT_EQ(rs.GetFieldAsVariant(1, TBlockManager::RecordOf(rs.CurrentItem())), Variant(int32_t{60}));

  // FetchRows is bounded by what a block can count.
  EXPECT_THROW(rs.SetProp(propFetchRows, 65536), EDatabaseError);
  EXPECT_THROW(rs.SetProp(propFetchRows, 0), EDatabaseError);
  Variant rows;
  rs.GetProp(propFetchRows, rows);
  EXPECT_EQ(rows, Variant(int32_t{25}));
}

class OnDemandTest : public RecordSetServerTest {
 public:
  using RecordSetServerTest::Column;
};

TEST_F(OnDemandTest, RowsAreReadOverASecondSessionThatGoesWhenClosedEarly) {
  Run("DROP TABLE IF EXISTS rs_demand");
  Run("CREATE TABLE rs_demand (n INT PRIMARY KEY)");
  std::string insert = "INSERT INTO rs_demand VALUES (1)";
  for (int n = 2; n <= 2000; ++n) insert += ",(" + std::to_string(n) + ")";
  Run(insert);

  // Other tests run beside this one under the same account: only the
  // sessions of this test are looked at.
  auto listed = [&](uint32_t id) {
    return !Column("SELECT ID FROM information_schema.PROCESSLIST WHERE ID = " + std::to_string(id) +
                   " AND COMMAND <> 'Killed'")
                .empty();
  };

  TMySQLRecordset rs;
  Prepare(rs, "SELECT n FROM rs_demand ORDER BY n", false);
  rs.SetProp(propFetchRows, 25);
  rs.Open();
  ASSERT_TRUE(rs.UsingSecondConnection());
  Variant uses;
  rs.GetProp(propUsesSecondConnection, uses);
  EXPECT_EQ(uses, Variant(true));
  EXPECT_EQ(rs.RecordCount(), 25);
  EXPECT_FALSE(rs.IsFetched());
  TMySQLConnection* second = rs.SecondConnection();
  ASSERT_NE(second, nullptr);
  const uint32_t secondId = second->API().mysql_thread_id(second->GetHandle());
  const uint32_t mainId = conn.API().mysql_thread_id(conn.GetHandle());
  EXPECT_NE(secondId, mainId);

  // The main session runs other statements meanwhile; the second one shows.
  EXPECT_TRUE(listed(secondId));

  // Reading on: further blocks arrive as the reader passes the end.
  TRecBuf buf = rs.AllocRecBuf();
  rs.SetToBegin();
  for (int n = 1; n <= 60; ++n) {
    rs.StepNextRecord(buf.get());
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.GetFieldAsVariant(1, buf.get()), Variant(int32_t{n}));
  }
  EXPECT_EQ(rs.RecordCount(), 75);

  // Closing early: the second session is killed, not read to its end,
  // and leaves no session behind.
  rs.Close();
  EXPECT_FALSE(rs.UsingSecondConnection());
  bool gone = !listed(secondId);
  for (int i = 0; i < 100 && !gone; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gone = !listed(secondId);
  }
  EXPECT_TRUE(gone);
  EXPECT_TRUE(listed(mainId));
  // The main session is fine and the record set opens again.
  rs.Open();
  EXPECT_EQ(rs.RecordCount(), 25);
  rs.SetProp(propFetchAll, true);
  rs.Close();
  rs.Open();
  EXPECT_EQ(rs.RecordCount(), 2000);
  EXPECT_FALSE(rs.UsingSecondConnection());
}

TEST_F(OnDemandTest, ForwardOnlyReadingKeepsOneBlock) {
  Run("DROP TABLE IF EXISTS rs_forward");
  Run("CREATE TABLE rs_forward (n INT PRIMARY KEY, s VARCHAR(40))");
  std::string insert = "INSERT INTO rs_forward VALUES (1, 'value 1')";
  for (int n = 2; n <= 130; ++n) insert += ",(" + std::to_string(n) + ", 'value " + std::to_string(n) + "')";
  Run(insert);
  TMySQLRecordset rs;
  Prepare(rs, "SELECT n, s FROM rs_forward ORDER BY n", false);
  rs.SetProp(propUniDirectional, true);
  rs.SetProp(propFlatBuffers, false);
  rs.SetProp(propFetchRows, 25);
  rs.Open();
  TRecBuf buf = rs.AllocRecBuf();
  rs.SetToBegin();
  int n = 0;
  for (rs.StepNextRecord(buf.get()); !rs.Eof(); rs.StepNextRecord(buf.get())) {
    ++n;
    EXPECT_EQ(rs.RecNo(), n);
    EXPECT_EQ(rs.GetFieldAsVariant(2, buf.get()), Variant("value " + std::to_string(n)));
    EXPECT_LE(rs.BlockManager().BlockCount(), 1u);
  }
  EXPECT_EQ(n, 130);
  EXPECT_EQ(rs.RecordCount(), 130);
  EXPECT_TRUE(rs.IsFetched());
}

TEST_F(RecordSetTest, StatementsWithoutRowsAndBatches) {
  Run("DROP TABLE IF EXISTS rs_norows");
  Run("CREATE TABLE rs_norows (n INT)");
  TMySQLRecordset rs;
  Prepare(rs, "INSERT INTO rs_norows VALUES (1)");
  try {
    SCOPED_TRACE("insert");
    rs.Open();
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Query must return exactly result set - use Execute");
  }
  EXPECT_FALSE(rs.Active());
  EXPECT_FALSE(rs.IsSelectStatement());
  EXPECT_EQ(Column("SELECT COUNT(*) FROM rs_norows"), std::vector<std::string>{"1"});

  // A server error leaves the record set closed and the session usable.
  Prepare(rs, "SELECT * FROM rs_missing_table");
  EXPECT_THROW(rs.Open(), EMyError);
  EXPECT_FALSE(rs.Active());
  EXPECT_EQ(Column("SELECT 1"), std::vector<std::string>{"1"});

  // A batch: the rows of the first SELECT that has rows; its next result
  // read ahead at the end and taken by the next open with OpenNext. With
  // FetchAll the close lets the further results go.
  Prepare(rs, "DO 1; SELECT 'first'; SELECT 'second', 2");
  rs.Open();
  ASSERT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.GetFieldAsVariant(1, TBlockManager::RecordOf(rs.FirstItem())), Variant(std::string("first")));
  EXPECT_TRUE(rs.IsSelect());
  rs.Close();
  EXPECT_EQ(Column("SELECT 4"), std::vector<std::string>{"4"});

  Prepare(rs, "DO 1; SELECT 'first'; SELECT 'second', 2", false);
  rs.SetProp(propCreateConnection, false);
  rs.Open();
  rs.FetchAllRows();
  rs.Close();
  rs.SetProp(propOpenNext, true);
  EXPECT_TRUE(rs.IsSelectStatement());
  rs.Open();
  ASSERT_EQ(rs.FieldCount(), 2);
  EXPECT_EQ(rs.GetFieldAsVariant(1, TBlockManager::RecordOf(rs.FirstItem())), Variant(std::string("second")));
  rs.FetchAllRows();
  rs.Close();
  rs.SetProp(propOpenNext, false);
  EXPECT_EQ(Column("SELECT 3"), std::vector<std::string>{"3"});
}

// Conversion rules that a server does not exercise with well-formed text.
TEST(RowConvertTest, TextRulesAndTheirErrors) {
  struct FloatCase {
    const char* text;
    double value;
  };
  for (const FloatCase& c : std::vector<FloatCase>{{"1.5", 1.5}, {"-0.25e2", -25}, {"1E+3", 1000}, {"+7", 7},
                                                    {"123456789012345678901234567890123456789", 1.2345678901234568e35}})
    EXPECT_DOUBLE_EQ(MySqlTextToFloat(c.text), c.value) << c.text;
  // Rounded exactly as the nearest double, whichever way the text is read:
  // short plain decimals, 2^53 + 1 (the first integer a double cannot hold),
  // more digits than fit, a leading point, a trailing point, negative zero.
  for (const FloatCase& c : std::vector<FloatCase>{{"0.1", 0.1},
                                                    {"0.3", 0.3},
                                                    {"-12345.25", -12345.25},
                                                    {"1250000.01", 1250000.01},
                                                    {"2.2250738585072014", 2.2250738585072014},
                                                    {"9007199254740993", 9007199254740992.0},
                                                    {"900719925474099.3", 900719925474099.3},
                                                    {"1234567890.123456789", 1234567890.123456789},
                                                    {"0.00000000000000000123", 1.23e-18},
                                                    {".5", 0.5},
                                                    {"5.", 5.0},
                                                    {"-0.0", -0.0}}) {
    const double v = MySqlTextToFloat(c.text);
    EXPECT_EQ(std::memcmp(&v, &c.value, sizeof v), 0) << c.text << " read as " << v;
  }
  struct BadCase {
    const char* text;
    const char* message;
  };
  for (const BadCase& c : std::vector<BadCase>{{"1.2.3", "'1.2.3' is not a valid floating point value"},
                                               {"12a", "'12a' is not a valid floating point value"},
                                               {"", "'' is not a valid floating point value"},
                                               {"nan", "'nan' is not a valid floating point value"},
                                               {"-inf", "'-inf' is not a valid floating point value"},
                                               {"1e", "'' is not a valid integer value"},
                                               {"1e+x", "'+x' is not a valid integer value"}}) {
    try {
      MySqlTextToFloat(c.text);
      ADD_FAILURE() << c.text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  EXPECT_EQ(MySqlTextToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(MySqlBitToUInt64(std::string("\x01\x02", 2)), 258u);

  TDateTime v = 0;
  const std::pair<const char*, uint32_t> stamps[] = {{"26", 2}, {"2602", 4}, {"260215", 6}, {"20260215", 8},
                                                    {"2602151030", 10}, {"260215103000", 12},
                                                    {"20260215103000", 14}, {"2026-02-15 10:30:00", 19},
                                                    {"2026-02-15 10:30:00.250", 23}};
  for (const auto& [text, length] : stamps) {
    ASSERT_TRUE(MySqlTextToTimestamp(text, length, v)) << text;
    DateTimeParts p = DecodeDateTime(v);
    EXPECT_EQ(p.year, 2026) << text;
    EXPECT_EQ(p.month, length == 2 ? 1 : 2) << text;
  }
  EXPECT_TRUE(MySqlTextToTimestamp("700101", 6, v));
  EXPECT_EQ(DecodeDateTime(v).year, 1970);
  try {
    MySqlTextToTimestamp("2026", 5, v);
    ADD_FAILURE();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "Invalid FIELD_TYPE_TIMESTAMP Field.Length (5)");
  }
  EXPECT_FALSE(MySqlTextToDate("0000-00-00", v));
  EXPECT_FALSE(MySqlTextToDateTime("2026-02-30 10:00:00", v));
  EXPECT_FALSE(MySqlTextToDateTime("2026-02-15 25:00:00", v));
  try {
    MySqlTextToTime("123456:00:00", "tm");
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Wrong time format. Field tm, value 123456:00:00");
  }
  EXPECT_DOUBLE_EQ(MySqlTextToTime("-00:30:00", "tm"), -30.0 / 1440);
}

}  // namespace
}  // namespace da

namespace da {
namespace {

TEST_F(OnDemandTest, TheSecondSessionCanComeFromTheConnectionsSupply) {
  Run("DROP TABLE IF EXISTS rs_supply");
  Run("CREATE TABLE rs_supply (n INT PRIMARY KEY)");
  std::string insert = "INSERT INTO rs_supply VALUES (1)";
  for (int n = 2; n <= 500; ++n) insert += ",(" + std::to_string(n) + ")";
  Run(insert);
  TMySQLConnection supplied;
  Configure(supplied);
  std::vector<std::pair<TCRConnection*, bool>> returned;  // connection, valid
  conn.OnCreateConnection = [&]() -> TCRConnection* { return &supplied; };
  conn.OnFreeConnection = [&](TCRConnection* c) { returned.emplace_back(c, c->IsValid()); };

  TMySQLRecordset rs;
  Prepare(rs, "SELECT n FROM rs_supply ORDER BY n", false);
  rs.SetProp(propFetchRows, 10);
  // Read to the end: given back valid.
  rs.Open();
  EXPECT_TRUE(supplied.Connected());
  rs.FetchAllRows();
  EXPECT_EQ(rs.RecordCount(), 500);
  rs.Close();
  ASSERT_EQ(returned.size(), 1u);
  EXPECT_EQ(returned[0].first, &supplied);
  EXPECT_TRUE(returned[0].second);
  // Closed early: the session was killed, so it comes back marked invalid.
  supplied.Disconnect();
  rs.Open();
  rs.Close();
  ASSERT_EQ(returned.size(), 2u);
  EXPECT_FALSE(returned[1].second);
}

}  // namespace
}  // namespace da
