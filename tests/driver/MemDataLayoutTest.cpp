// Record layout, field descriptions and their lookup, and the lifecycle of
// a store (open, close, prepare).

#include <gtest/gtest.h>

#include <stdexcept>

#include "StoreFixture.h"
#include "common/DAErrors.h"

namespace da {
namespace {

using testutil::FieldDef;
using testutil::TestStore;

struct LayoutCase {
  const char* what;
  std::vector<FieldDef> fields;
  std::vector<size_t> offsets;
  size_t dataSize, recordSize, calcRecordSize;
};

TEST(MemDataLayoutTest, Layouts) {
  const LayoutCase cases[] = {
      {"int32, string(10), widestring(3)",
       {{"a", dtInt32}, {"b", dtString, 10}, {"c", dtWideString, 3}}, {0, 4, 16}, 24, 27, 0},
      {"odd total is kept", {{"a", dtInt32}}, {0}, 4, 5, 0},
      {"even total becomes odd", {{"a", dtInt32}, {"b", dtInt32}}, {0, 4}, 8, 11, 0},
      {"wide string already even", {{"a", dtWideString, 1}, {"b", dtInt16}}, {0, 4}, 6, 9, 0},
      {"the storage benchmark's record",
       {{"id", dtInt32}, {"name", dtExtString, 40}, {"when", dtDateTime}, {"rate", dtFloat}}, {0, 4, 8, 16}, 24, 29, 0},
      {"calculated fields after the record",
       {{"a", dtInt32}, {"c", dtInt32, 0, fkCalculated}, {"b", dtString, 2}}, {0, 11, 4}, 7, 11, 5},
      {"wide calculated field aligned",
       {{"a", dtInt32}, {"w", dtWideString, 2, fkLookup}}, {0, 8}, 4, 7, 7},
  };
  for (const LayoutCase& c : cases) {
    TestStore store(c.fields);
    ASSERT_EQ(store.FieldCount(), static_cast<int>(c.offsets.size())) << c.what;
    for (int i = 0; i < store.FieldCount(); ++i) {
      EXPECT_EQ(store.Fields()[i].Offset(), c.offsets[static_cast<size_t>(i)]) << c.what << " field " << i;
      EXPECT_EQ(store.Fields()[i].FieldNo(), i + 1) << c.what;
    }
    EXPECT_EQ(store.DataSize(), c.dataSize) << c.what;
    EXPECT_EQ(store.RecordSize(), c.recordSize) << c.what;
    EXPECT_EQ(store.CalcRecordSize(), c.calcRecordSize) << c.what;
  }
}

TEST(MemDataLayoutTest, NullFlagsFollowTheData) {
  TestStore store({{"a", dtInt32}, {"b", dtString, 10}, {"c", dtWideString, 3}});
  TRecBuf rec = store.AllocRecBuf();
  for (int f = 1; f <= 3; ++f) EXPECT_FALSE(store.GetNull(f, rec.get()));
  store.SetNull(2, rec.get(), true);
  EXPECT_EQ(rec[24], 0);
  EXPECT_EQ(rec[25], 1);
  EXPECT_EQ(rec[26], 0);
  EXPECT_TRUE(store.GetNull(2, rec.get()));
  EXPECT_THROW(store.GetNull(0, rec.get()), EAssertionFailed);
  EXPECT_THROW(store.GetNull(4, rec.get()), EAssertionFailed);
}

TEST(MemDataLayoutTest, FieldLookup) {
  TestStore store({{"Serial", dtInt32}, {"obj", dtInt32}});
  store.Fields()[0].SetActualName("ligacoes.serial");
  auto member = store.CreateFieldDesc();
  member->SetName("inner");
  member->SetActualName("obj.inner");
  member->SetParent(&store.Fields()[1]);
  TFieldDesc& inner = store.Fields().Add(std::move(member));

  EXPECT_EQ(store.LookupField("SERIAL"), &store.Fields()[0]);
  EXPECT_EQ(store.LookupField("Ligacoes.Serial"), &store.Fields()[0]);
  EXPECT_EQ(store.LookupField("INNER"), &inner);
  EXPECT_EQ(store.LookupField("obj.inner"), &inner);
  EXPECT_EQ(store.LookupField("inner.x"), nullptr);
  try {
    store.FieldNamed("host");
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Field host not found");
  }
}

// A store whose open runs a hook that may fail.
class HookedStore : public TMemData {
 public:
  bool failOpen = false;
  int initFieldsCalls = 0, internalCloseCalls = 0, prepareCalls = 0;
  ~HookedStore() override { Close(); }

 protected:
  void InternalInitFields() override {
    ++initFieldsCalls;
    auto f = CreateFieldDesc();
    f->SetName("a");
    f->SetDataType(dtExtString);
    f->SetSize(4);
    Fields().Add(std::move(f));
  }
  void InternalOpen() override {
    TMemData::InternalOpen();
    TRecBuf rec = AllocRecBuf();
    PutExtString(1, rec.get(), "value");
    AppendRecord(rec.get());
    if (failOpen) throw std::runtime_error("no rows today");
  }
  void InternalClose() override { ++internalCloseCalls; }
  void InternalPrepare() override { ++prepareCalls; }
};

TEST(MemDataLayoutTest, OpenBuildsFieldsAndCloseDropsThem) {
  HookedStore store;
  store.Open();
  EXPECT_TRUE(store.Active());
  EXPECT_EQ(store.initFieldsCalls, 1);
  EXPECT_EQ(store.RecordCount(), 1);
  store.Open();  // already open: nothing
  EXPECT_EQ(store.RecordCount(), 1);
  store.Close();
  EXPECT_FALSE(store.Active());
  EXPECT_EQ(store.internalCloseCalls, 1);
  EXPECT_EQ(store.FieldCount(), 0);
  EXPECT_EQ(store.RecordCount(), 0);
  EXPECT_EQ(store.StringHeap().PageCount(), 0u);

  store.Prepare();
  store.Reopen();
  store.Close();
  EXPECT_EQ(store.FieldCount(), 1);  // kept while prepared
  store.UnPrepare();
  EXPECT_EQ(store.FieldCount(), 0);
}

TEST(MemDataLayoutTest, UnprepareClosesAnOpenStore) {
  HookedStore store;
  store.Prepare();
  store.Open();
  store.UnPrepare();
  EXPECT_FALSE(store.Active());
  EXPECT_EQ(store.RecordCount(), 0);
  EXPECT_EQ(store.FieldCount(), 0);
  EXPECT_TRUE(store.StringHeap().Empty());
}

TEST(MemDataLayoutTest, RecordSizeIsFixedWhileRecordsAreStored) {
  TestStore store({{"a", dtInt32}});
  store.AddInt32Block(1, 1, 2);
  auto extra = store.CreateFieldDesc();
  extra->SetDataType(dtInt64);
  extra->SetSize(8);
  store.Fields().Add(std::move(extra));
  EXPECT_THROW(store.ComputeLayout(), EAssertionFailed);
  EXPECT_EQ(store.RecordSize(), 5u);  // the layout in force stays
  store.InitFields();  // rebuilding the fields drops the records first
  EXPECT_EQ(store.RecordCount(), 0);
  EXPECT_EQ(store.RecordSize(), 5u);
}

TEST(MemDataLayoutTest, FailedOpenLeavesTheStoreClosedAndEmpty) {
  HookedStore store;
  store.failOpen = true;
  EXPECT_THROW(store.Open(), std::runtime_error);
  EXPECT_FALSE(store.Active());
  EXPECT_EQ(store.internalCloseCalls, 1);
  EXPECT_EQ(store.RecordCount(), 0);
  EXPECT_EQ(store.FieldCount(), 0);
  EXPECT_EQ(store.BlockManager().BlockCount(), 0u);
  store.failOpen = false;
  store.Open();
  EXPECT_EQ(store.RecordCount(), 1);
}

}  // namespace
}  // namespace da
