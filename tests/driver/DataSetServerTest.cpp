// The dataset over the MySQL record set against the throwaway server: the
// empty result, one row, declared fields and their binding errors, and
// every accessor's conversion and error on the server's values.

#include <gtest/gtest.h>

#include <string>

#include "RecordSetTestSupport.h"
#include "common/DAErrors.h"
#include "common/DateTime.h"
#include "common/Exception.h"
#include "common/RegionalSettings.h"
#include "driver/MemDS.h"

namespace da {
namespace {

using testutil::RecordSetServerTest;

// What a query is to the dataset: a record set it owns.
class QueryDataSet : public TMemDataSet {
 public:
  QueryDataSet(TMySQLConnection& connection, const std::string& sql) {
    SetName("q");
    rs.SetConnection(&connection);
    rs.SetProp(propFetchAll, true);
    rs.SetProp(propFlatBuffers, false);  // the query component's default
    rs.GetCommand()->SetSQL(sql);
    SetData(&rs);
  }
  ~QueryDataSet() override { Close(); }
  TMySQLRecordset rs;
};

template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

class DataSetServerTest : public RecordSetServerTest {
 protected:
  void SetUp() override {
    RecordSetServerTest::SetUp();
    if (IsSkipped() || HasFailure()) return;
    // A table of each test's own: ctest runs the cases side by side.
    table = std::string("ds_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Run("DROP TABLE IF EXISTS " + table);
    Run("CREATE TABLE " + table + " (id INT PRIMARY KEY, sm SMALLINT, bi BIGINT, s VARCHAR(255), num VARCHAR(10),"
        " dt DATE, dtm DATETIME, tx TEXT, bn BINARY(4)) CHARACTER SET latin1");
    Run("INSERT INTO " + table + " VALUES (1, -7, 9000000000, '" + std::string(200, 'a') +
        "', '42', '2026-12-31', '2026-12-31 23:05:09', 'long memo', 'abcd'),"
        " (2, NULL, NULL, NULL, 'abc', NULL, NULL, NULL, NULL)");
  }
  std::string table;

  RegionalSettings PortugueseLike() {
    RegionalSettings rs;
    rs.shortDateFormat = "dd-mm-yyyy";
    rs.dateSeparator = '-';
    rs.longTimeFormat = "hh:nn:ss";
    rs.timeSeparator = ':';
    rs.decimalSeparator = ',';
    return rs;
  }
};

TEST_F(DataSetServerTest, EmptyResult) {
  QueryDataSet q(conn, "SELECT * FROM " + table + " WHERE id = 0");
  q.Open();
  EXPECT_TRUE(q.Eof());
  EXPECT_TRUE(q.Bof());
  EXPECT_TRUE(q.HasNoRows());
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_EQ(q.RecNo(), 0);
  EXPECT_EQ(q.FieldNamed("s").AsString(), "");
  EXPECT_EQ(q.FieldNamed("id").AsInteger(), 0);
  EXPECT_EQ(q.FieldNamed("dtm").AsDateTime(), 0);
  EXPECT_TRUE(q.FieldNamed("dtm").Value().IsNull());
  EXPECT_EQ(ErrorOf([&] { q.FieldNamed("s").AsInteger(); }), "'' is not a valid integer value");
  q.Next();
  EXPECT_TRUE(q.Eof());
}

TEST_F(DataSetServerTest, OneRowThenTheEnd) {
  QueryDataSet q(conn, "SELECT id FROM " + table + " WHERE id = 1");
  q.Open();
  EXPECT_FALSE(q.Eof());
  EXPECT_EQ(q.RecordCount(), 1);
  q.Next();
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.FieldNamed("ID").AsInteger(), 1);
  EXPECT_EQ(ErrorOf([&] { q.FieldNamed("nope"); }), "q: Field 'nope' not found");
}

TEST_F(DataSetServerTest, DeclaredFieldsBindOrFailWithTheirErrors) {
  struct Case {
    const char* name;
    TFieldType type;
    int size;
    const char* error;
  };
  const Case cases[] = {
      {"sm", ftInteger, 0, nullptr},
      {"bi", ftInteger, 0, "q: Type mismatch for field 'bi', expecting: Integer actual: LargeInt"},
      {"bi", ftLargeint, 0, nullptr},
      {"dtm", ftDateTime, 0, nullptr},
      {"dtm", ftString, 20, "q: Type mismatch for field 'dtm', expecting: String actual: DateTime"},
      {"tx", ftMemo, 0, nullptr},
      {"tx", ftString, 255, "q: Type mismatch for field 'tx', expecting: String actual: Memo"},
      {"s", ftString, 255, nullptr},
      {"s", ftString, 10, nullptr},
      {"bn", ftBytes, 5, "q: Size mismatch for field 'bn', expecting: 5 actual: 4"},
      {"bn", ftBytes, 4, nullptr},
      {"missing", ftString, 10, "q: Field 'missing' not found"},
  };
  for (const Case& c : cases) {
    QueryDataSet q(conn, "SELECT * FROM " + table + " ORDER BY id");
    q.rs.SetProp(propBinaryAsString, false);
    TField& field = q.AddField(c.name, c.type, c.size);
    if (c.error) {
      EXPECT_EQ(ErrorOf([&] { q.Open(); }), c.error);
      EXPECT_FALSE(q.Active());
      EXPECT_FALSE(q.rs.Active());
      continue;
    }
    q.Open();
    EXPECT_GT(field.FieldNo(), 0) << c.name;
    EXPECT_EQ(q.FieldCount(), 1);  // only the declared fields
    if (std::string(c.name) == "s") {
      EXPECT_EQ(field.Size(), 255);
      EXPECT_EQ(field.AsString(), std::string(200, 'a'));  // the whole text
    }
    if (std::string(c.name) == "sm") {
      EXPECT_EQ(field.AsInteger(), -7);
    }
    if (std::string(c.name) == "bi") {
      EXPECT_EQ(field.AsLargeInt(), 9000000000);
    }
  }
}

TEST_F(DataSetServerTest, AccessorsAndTheirErrors) {
  ScopedRegionalSettings locale(PortugueseLike());
  QueryDataSet q(conn, "SELECT id, s, num, dt, dtm, tx FROM " + table + " ORDER BY id");
  q.Open();
  TField& id = q.FieldNamed("id");
  TField& num = q.FieldNamed("num");
  TField& dt = q.FieldNamed("dt");
  TField& dtm = q.FieldNamed("dtm");
  TField& tx = q.FieldNamed("tx");
  EXPECT_EQ(tx.DataType(), ftMemo);

  EXPECT_EQ(id.AsString(), "1");
  EXPECT_EQ(id.Value(), Variant(int32_t{1}));
  EXPECT_EQ(num.AsInteger(), 42);
  EXPECT_EQ(num.Value(), Variant(std::string("42")));
  EXPECT_EQ(dt.AsString(), "31-12-2026");  // midnight: no time
  EXPECT_EQ(dtm.AsString(), "31-12-2026 23:05:09");
  EXPECT_DOUBLE_EQ(dtm.AsDateTime(), EncodeDateTime({2026, 12, 31, 23, 5, 9, 0}));
  EXPECT_EQ(dtm.Value(), Variant::FromDateTime(EncodeDateTime({2026, 12, 31, 23, 5, 9, 0})));
  EXPECT_EQ(tx.AsString(), "long memo");
  EXPECT_EQ(tx.Value(), Variant(std::string("long memo")));
  EXPECT_FALSE(tx.IsNull());
  EXPECT_DOUBLE_EQ(q.FieldNamed("s").AsString().size(), 200);

  EXPECT_EQ(ErrorOf([&] { id.AsDateTime(); }), "Cannot access field 'id' as type DateTime");
  EXPECT_EQ(ErrorOf([&] { dtm.AsInteger(); }), "Cannot access field 'dtm' as type Integer");
  EXPECT_EQ(ErrorOf([&] { tx.AsInteger(); }), "Cannot access field 'tx' as type Integer");
  EXPECT_EQ(ErrorOf([&] { tx.AsDateTime(); }), "Cannot access field 'tx' as type DateTime");

  q.Next();
  EXPECT_EQ(ErrorOf([&] { num.AsInteger(); }), "'abc' is not a valid integer value");
  EXPECT_TRUE(dtm.IsNull());
  EXPECT_EQ(dtm.AsDateTime(), 0);
  EXPECT_TRUE(dtm.Value().IsNull());
  EXPECT_EQ(dtm.AsString(), "");
  EXPECT_TRUE(tx.IsNull());
  EXPECT_EQ(tx.AsString(), "");
  EXPECT_EQ(tx.Value(), Variant(std::string()));  // never Null
  EXPECT_TRUE(q.FieldNamed("s").Value().IsNull());
  EXPECT_EQ(q.FieldNamed("s").AsString(), "");
  q.Next();
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.RecNo(), 2);
}

TEST_F(DataSetServerTest, ReadingOnDemandThroughTheDataset) {
  Run("DROP TABLE IF EXISTS ds_many");
  Run("CREATE TABLE ds_many (n INT PRIMARY KEY, s VARCHAR(40))");
  std::string insert = "INSERT INTO ds_many VALUES (1, 'v1')";
  // 98 rows: the block after the last full one finds no row.
  for (int n = 2; n <= 98; ++n) insert += ",(" + std::to_string(n) + ", 'v" + std::to_string(n) + "')";
  Run(insert);
  for (bool uni : {false, true}) {
    QueryDataSet q(conn, "SELECT n, s FROM ds_many ORDER BY n");
    q.rs.SetProp(propFetchAll, false);
    q.rs.SetProp(propUniDirectional, uni);
    q.rs.SetProp(propFetchRows, 7);
    q.Open();
    int n = 0;
    for (; !q.Eof(); q.Next()) {
      ++n;
      ASSERT_EQ(q.FieldNamed("n").AsInteger(), n);
      ASSERT_EQ(q.FieldNamed("s").AsString(), "v" + std::to_string(n));
      ASSERT_EQ(q.RecNo(), n);
    }
    EXPECT_EQ(n, 98);
    EXPECT_EQ(q.RecordCount(), 98);
    // The last row stays readable after the end, also when its block went.
    EXPECT_EQ(q.FieldNamed("s").AsString(), "v98");
    EXPECT_EQ(q.RecNo(), 98);
  }
}

}  // namespace
}  // namespace da
