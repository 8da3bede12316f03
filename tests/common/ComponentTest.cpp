#include "common/Component.h"

#include <gtest/gtest.h>

#include <vector>

namespace da {
namespace {

// Records its own end and clears a weak reference when told.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::vector<std::string>* log, const std::string& name) : TComponent(owner), log_(log) {
    SetName(name);
  }
  ~Probe() override { log_->push_back("~" + Name()); }
  TComponent* peer = nullptr;
  int loadedCalls = 0;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == TOperation::opRemove && c == peer) peer = nullptr;
  }
  void Loaded() override { ++loadedCalls; }

 private:
  std::vector<std::string>* log_;
};

TEST(Component, OwnerDestroysWhatItOwns) {
  std::vector<std::string> log;
  auto* owner = new Probe(nullptr, &log, "owner");
  new Probe(owner, &log, "a");
  new Probe(owner, &log, "b");
  EXPECT_EQ(owner->Components().size(), 2u);
  delete owner;
  EXPECT_EQ(log, (std::vector<std::string>{"~owner", "~b", "~a"}));
}

TEST(Component, WeakReferencesAreClearedWhenTheTargetGoes) {
  std::vector<std::string> log;
  Probe owner(nullptr, &log, "owner");
  auto* query = new Probe(&owner, &log, "q");
  auto* connection = new Probe(&owner, &log, "cn");
  Probe outsider(nullptr, &log, "outsider");
  query->peer = connection;
  outsider.peer = connection;
  outsider.FreeNotification(connection);
  delete connection;
  EXPECT_EQ(query->peer, nullptr);     // told through the common owner
  EXPECT_EQ(outsider.peer, nullptr);   // told through its free notification
  EXPECT_EQ(owner.Components().size(), 1u);
}

TEST(Component, LoadedRunsOnceAfterLoading) {
  std::vector<std::string> log;
  Probe owner(nullptr, &log, "owner");
  auto* child = new Probe(&owner, &log, "child");
  owner.BeginLoading();
  child->BeginLoading();
  EXPECT_TRUE(child->Loading());
  owner.EndLoading();
  owner.EndLoading();
  EXPECT_FALSE(child->Loading());
  EXPECT_EQ(owner.loadedCalls, 1);
  EXPECT_EQ(child->loadedCalls, 1);
}

}  // namespace
}  // namespace da
