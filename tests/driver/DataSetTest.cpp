// The dataset over a record store, without a server: navigation at the
// edges, declared fields and their binding errors, and the references the
// current-row buffer holds to the store's values.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "StoreFixture.h"
#include "common/DAErrors.h"
#include "common/Exception.h"
#include "common/RegionalSettings.h"
#include "common/Unaligned.h"
#include "driver/MemDS.h"

namespace da {
namespace {

using testutil::FieldDef;
using testutil::TestStore;

// A store that fills itself with `rows` records when it opens.
class FilledStore : public TestStore {
 public:
  using TestStore::TestStore;
  std::function<void(FilledStore&)> fill;
  // As a forward-reading store: readers hold their own references.
  bool releasesRecords = true;
  bool ReleasesRecordsWhileOpen() const override { return releasesRecords; }

  // Appends one record: an Int32 and an ext string.
  void Add(int32_t n, const std::string& s) {
    TBlockHeader* block = BlockManager().AllocBlock(1);
    uint8_t* rec = TBlockManager::RecordOf(BlockManager().ItemAt(block, 0));
    PutField(1, rec, &n, sizeof n);
    if (s.empty())
      SetNull(2, rec, true);
    else
      PutExtString(2, rec, s);
    AppendBlock(block, 1);
  }

 protected:
  void InternalOpen() override {
    TestStore::InternalOpen();
    if (fill) fill(*this);
  }
};

class TestDataSet : public TMemDataSet {
 public:
  explicit TestDataSet(TMemData* store) {
    SetName("ds");
    SetData(store);
  }
  ~TestDataSet() override { Close(); }
};

TEST(DataSetTest, EmptyResult) {
  FilledStore store({{"n", dtInt32}, {"s", dtExtString, 20}});
  TestDataSet ds(&store);
  ds.Open();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.HasNoRows());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_TRUE(ds.FieldNamed("n").IsNull());
  EXPECT_EQ(ds.FieldNamed("n").AsString(), "");
  EXPECT_EQ(ds.FieldNamed("n").AsInteger(), 0);
  EXPECT_EQ(ds.FieldNamed("s").AsString(), "");
  EXPECT_TRUE(ds.FieldNamed("s").Value().IsNull());
  try {
    ds.FieldNamed("s").AsInteger();
    ADD_FAILURE() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'' is not a valid integer value");
  }
  ds.Next();
  EXPECT_TRUE(ds.Eof());
}

TEST(DataSetTest, OneRowStaysCurrentAtTheEnd) {
  FilledStore store({{"n", dtInt32}, {"s", dtExtString, 20}});
  store.fill = [](FilledStore& s) { s.Add(7, "seven"); };
  TestDataSet ds(&store);
  ds.Open();
  EXPECT_FALSE(ds.Eof());
  EXPECT_FALSE(ds.HasNoRows());
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldNamed("N").AsInteger(), 7);
  EXPECT_EQ(ds.FieldNamed("s").AsString(), "seven");
  EXPECT_EQ(ds.RecNo(), 1);
  try {
    ds.FieldNamed("missing");
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "ds: Field 'missing' not found");
  }
  ds.Close();
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.FieldCount(), 0);  // fields made at open go with the close
}

TEST(DataSetTest, DeclaredFieldsBindByNameOrFailToOpen) {
  struct Case {
    const char* name;
    TFieldType type;
    int size;
    const char* error;  // null: binds
  };
  const Case cases[] = {
      {"N", ftInteger, 0, nullptr},
      {"n", ftSmallint, 0, nullptr},  // same class
      {"n", ftLargeint, 0, "ds: Type mismatch for field 'n', expecting: LargeInt actual: Integer"},
      {"n", ftFloat, 0, "ds: Type mismatch for field 'n', expecting: Float actual: Integer"},
      {"s", ftString, 255, nullptr},
      {"s", ftMemo, 0, "ds: Type mismatch for field 's', expecting: Memo actual: String"},
      {"b", ftBytes, 5, "ds: Size mismatch for field 'b', expecting: 5 actual: 4"},
      {"b", ftBytes, 4, nullptr},
      {"x", ftString, 10, "ds: Field 'x' not found"},
  };
  for (const Case& c : cases) {
    FilledStore store({{"n", dtInt32}, {"s", dtExtString, 20}, {"b", dtBytes, 4}});
    store.fill = [](FilledStore& s) { s.Add(1, "a string value of twenty"); };
    TestDataSet ds(&store);
    TField& field = ds.AddField(c.name, c.type, c.size);
    if (!c.error) {
      ds.Open();
      EXPECT_EQ(field.FieldNo(), ds.FieldDefs().Find(c.name)->FieldNo()) << c.name;
      if (c.type == ftString) {
        EXPECT_EQ(field.Size(), 20);  // takes the column's size
        EXPECT_EQ(field.AsString(), "a string value of twenty");
      }
      continue;
    }
    try {
      ds.Open();
      ADD_FAILURE() << "no error for " << c.name << " " << FieldTypeName(c.type);
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.error);
    }
    EXPECT_FALSE(ds.Active());
    EXPECT_FALSE(store.Active());
  }
}

TEST(DataSetTest, TheCurrentRowHoldsItsOwnReferences) {
  FilledStore store({{"n", dtInt32}, {"s", dtExtString, 20}});
  store.fill = [](FilledStore& s) {
    s.Add(1, "first");
    s.Add(2, "second");
  };
  TestDataSet ds(&store);
  ds.Open();
  const THeapRef ref = LoadUnaligned<uint32_t>(TBlockManager::RecordOf(store.FirstItem()) + store.Fields()[1].Offset());
  EXPECT_EQ(store.StringHeap().RefMark(ref), TStringHeap::kMarkOneRef + 1);  // the store's and the row's
  ds.Next();
  EXPECT_EQ(store.StringHeap().RefMark(ref), TStringHeap::kMarkOneRef);

  // The store is reset under the dataset and refilled: the row's old
  // references name the new records' places now and must not release them.
  store.fill = [](FilledStore& s) {
    s.Add(3, "third");
    s.Add(4, "fourth");
  };
  store.Close();
  store.Open();
  const THeapRef third = LoadUnaligned<uint32_t>(TBlockManager::RecordOf(store.FirstItem()) + store.Fields()[1].Offset());
  const THeapRef fourth = LoadUnaligned<uint32_t>(TBlockManager::RecordOf(store.LastItem()) + store.Fields()[1].Offset());
  ASSERT_EQ(fourth, ref + 14);  // where "second" was
  ds.First();  // lets go of the old row
  EXPECT_EQ(store.StringHeap().RefMark(fourth), TStringHeap::kMarkOneRef);
  EXPECT_STREQ(store.StringHeap().Data(fourth), "fourth");
  EXPECT_EQ(store.StringHeap().RefMark(third), TStringHeap::kMarkOneRef + 1);
  EXPECT_EQ(ds.FieldNamed("s").AsString(), "third");
}

TEST(DataSetTest, AccessorsOfStoredKinds) {
  FilledStore store({{"i", dtInt32}, {"d", dtDateTime}, {"m", dtMemo}, {"f", dtFloat}, {"b", dtBoolean}});
  store.fill = [](FilledStore& s) {
    TBlockHeader* block = s.BlockManager().AllocBlock(2);
    uint8_t* rec = TBlockManager::RecordOf(s.BlockManager().ItemAt(block, 0));
    int32_t i = -12;
    s.PutField(1, rec, &i, sizeof i);
    double ms = TimeStampToMSecs(DateTimeToTimeStamp(EncodeDateTime({2026, 12, 31, 23, 5, 9, 0})));
    s.PutField(2, rec, &ms, sizeof ms);
    s.CreateBlob(3, rec).SetAsString("memo text");
    double f = 1.5;
    s.PutField(4, rec, &f, sizeof f);
    int16_t b = -1;
    s.PutField(5, rec, &b, sizeof b);
    uint8_t* nulls = TBlockManager::RecordOf(s.BlockManager().ItemAt(block, 1));
    for (int n = 1; n <= 5; ++n) s.SetNull(n, nulls, true);
    s.AppendBlock(block, 2);
  };
  RegionalSettings rs;
  rs.shortDateFormat = "dd/mm/yyyy";
  rs.longTimeFormat = "hh:nn:ss";
  rs.decimalSeparator = ',';
  ScopedRegionalSettings scoped(rs);
  TestDataSet ds(&store);
  ds.Open();
  TField& i = ds.FieldNamed("i");
  TField& d = ds.FieldNamed("d");
  TField& m = ds.FieldNamed("m");
  EXPECT_EQ(i.AsString(), "-12");
  EXPECT_EQ(i.AsInteger(), -12);
  EXPECT_EQ(i.Value(), Variant(int32_t{-12}));
  EXPECT_EQ(d.AsString(), "31/12/2026 23:05:09");
  EXPECT_DOUBLE_EQ(d.AsDateTime(), EncodeDateTime({2026, 12, 31, 23, 5, 9, 0}));
  EXPECT_EQ(m.AsString(), "memo text");
  EXPECT_EQ(m.Value(), Variant(std::string("memo text")));
  EXPECT_EQ(ds.FieldNamed("f").AsString(), "1,5");
  EXPECT_TRUE(ds.FieldNamed("b").AsBoolean());
  EXPECT_EQ(ds.FieldNamed("b").AsString(), "True");
  const std::pair<TField*, const char*> wrong[] = {{&i, "DateTime"}, {&d, "Integer"}, {&m, "Integer"}, {&m, "DateTime"}};
  for (const auto& [field, type] : wrong) {
    try {
      if (std::string(type) == "Integer")
        field->AsInteger();
      else
        field->AsDateTime();
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), "Cannot access field '" + field->FieldName() + "' as type " + type);
    }
  }
  ds.Next();
  EXPECT_TRUE(i.IsNull());
  EXPECT_EQ(i.AsInteger(), 0);
  EXPECT_TRUE(d.Value().IsNull());
  EXPECT_EQ(d.AsDateTime(), 0);
  EXPECT_EQ(d.AsString(), "");
  EXPECT_TRUE(m.IsNull());
  EXPECT_EQ(m.Value(), Variant(std::string()));  // a memo is never Null
}

TEST(DataSetTest, TextToDateTimeByTheRegionalSettings) {
  RegionalSettings rs;
  rs.shortDateFormat = "dd/mm/yyyy";
  rs.dateSeparator = '/';
  rs.timeSeparator = ':';
  ScopedRegionalSettings scoped(rs);
  EXPECT_DOUBLE_EQ(StrToDateTime("31/12/2026"), EncodeDate(2026, 12, 31));
  EXPECT_DOUBLE_EQ(StrToDateTime(" 1/2/26 10:30 "), EncodeDate(2026, 2, 1) + EncodeTime(10, 30, 0, 0));
  EXPECT_DOUBLE_EQ(StrToDateTime("13:45:10"), EncodeTime(13, 45, 10, 0));
  for (const char* bad : {"", "31/13/2026", "2026-12-31", "31/12/2026 25:00", "x"})
    EXPECT_THROW(StrToDateTime(bad), EConvertError) << bad;
}

}  // namespace
}  // namespace da
