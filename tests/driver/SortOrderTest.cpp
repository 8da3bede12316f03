// Sort orders as the query gives them, and the order they put records in.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "StoreFixture.h"
#include "common/DAErrors.h"

namespace da {
namespace {

using testutil::TestStore;

TEST(SortOrderTest, Parsing) {
  TestStore store({{"name", dtString, 10}, {"n", dtInt32}, {"my col", dtInt32}});
  struct Case {
    const char* order;
    std::vector<std::tuple<int, bool, TSortType>> columns;  // field number, descending, type
  };
  const Case cases[] = {
      {"name", {{1, false, TSortType::stCaseSensitive}}},
      {"NAME desc; n ASC", {{1, true, TSortType::stCaseSensitive}, {2, false, TSortType::stCaseSensitive}}},
      {"name cis, n DESC bin", {{1, false, TSortType::stCaseInsensitive}, {2, true, TSortType::stBinary}}},
      {" n ;; \"my col\" Cs ;", {{2, false, TSortType::stCaseSensitive}, {3, false, TSortType::stCaseSensitive}}},
      {"[my col] desc", {{3, true, TSortType::stCaseSensitive}}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::vector<TSortColumn> cols = ParseSortOrder(c.order, store.Fields());
    ASSERT_EQ(cols.size(), c.columns.size()) << c.order;
    for (size_t i = 0; i < cols.size(); ++i) {
      EXPECT_EQ(cols[i].field->FieldNo(), std::get<0>(c.columns[i])) << c.order;
      EXPECT_EQ(cols[i].descending, std::get<1>(c.columns[i])) << c.order;
      EXPECT_EQ(cols[i].sortType, std::get<2>(c.columns[i])) << c.order;
    }
  }

  const std::pair<const char*, const char*> errors[] = {
      {"host", "Field host not found"},
      {"name upward", "Syntax error in sort order \"name upward\" at \"upward\""},
      {"\"name", "Syntax error in sort order \"\"name\" at \"\"name\""},
  };
  for (auto [order, message] : errors) {
    try {
      ParseSortOrder(order, store.Fields());
      ADD_FAILURE() << order;
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
}

class SortedStore : public TestStore {
 public:
  SortedStore() : TestStore({{"name", dtExtString}, {"n", dtInt32}}) {}

 protected:
  void InternalOpen() override {
    TestStore::InternalOpen();
    const std::pair<const char*, int> rows[] = {{"b", 1}, {"B", 2}, {"a", 3}, {nullptr, 4}, {"\xE1", 5}, {"A", 6}};
    for (auto [name, n] : rows) {
      TRecBuf rec = AllocRecBuf();
      if (name)
        PutExtString(1, rec.get(), name);
      else
        SetNull(1, rec.get(), true);
      PutField(2, rec.get(), &n, 4);
      AppendRecord(rec.get());
    }
  }
};

std::vector<int> Order(SortedStore& store) {
  std::vector<int> out;
  TRecBuf rec = store.AllocRecBuf();
  store.SetToBegin();
  for (store.StepNextRecord(rec.get()); !store.Eof(); store.StepNextRecord(rec.get())) {
    out.push_back(store.GetFieldAsVariant(2, rec.get()).AsInt32());
    EXPECT_EQ(store.RecNo(), static_cast<int>(out.size()));
  }
  return out;
}

TEST(SortOrderTest, SortingOrdersTheRecords) {
  const std::pair<const char*, std::vector<int>> cases[] = {
      {"name BIN", {4, 6, 2, 3, 1, 5}},
      {"name CIS", {4, 3, 6, 1, 2, 5}},   // stable among equals
      {"name CS", {4, 3, 6, 1, 2, 5}},    // lower case first
      {"name desc CS", {5, 2, 1, 6, 3, 4}},
      {"n desc", {6, 5, 4, 3, 2, 1}},
  };
  for (const auto& [text, expected] : cases) {
    SortedStore store;
    store.Open();
    store.SetIndexFieldNames(text);
    EXPECT_EQ(Order(store), expected) << text;
  }

  // Set before opening: the records are sorted when the store opens.
  SortedStore store;
  store.SetIndexFieldNames("n DESC");
  store.Open();
  EXPECT_EQ(Order(store), (std::vector<int>{6, 5, 4, 3, 2, 1}));
  EXPECT_THROW(store.SetIndexFieldNames("nope"), EDatabaseError);
  EXPECT_EQ(store.IndexFieldNames(), "n DESC");
}

}  // namespace
}  // namespace da
