#include "common/Component.h"

#include <algorithm>

namespace da {
namespace {

void Erase(std::vector<TComponent*>& list, TComponent* c) {
  list.erase(std::remove(list.begin(), list.end(), c), list.end());
}

}  // namespace

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->owned_.push_back(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  // Tell everyone who asked, then the owner, so that no weak reference
  // outlives this object.
  std::vector<TComponent*> notified = notified_;
  notified_.clear();
  for (TComponent* c : notified) {
    Erase(c->notified_, this);
    c->Notification(this, TOperation::opRemove);
  }
  if (owner_) {
    owner_->RemoveOwned(this);
    if (!owner_->destroying_) owner_->Notification(this, TOperation::opRemove);
  }
  // Owned components go last-created first.
  while (!owned_.empty()) {
    TComponent* c = owned_.back();
    owned_.pop_back();
    c->owner_ = nullptr;
    delete c;
  }
}

void TComponent::RemoveOwned(TComponent* c) { Erase(owned_, c); }

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(notified_.begin(), notified_.end(), other) == notified_.end()) notified_.push_back(other);
  if (std::find(other->notified_.begin(), other->notified_.end(), this) == other->notified_.end())
    other->notified_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (!other) return;
  Erase(notified_, other);
  Erase(other->notified_, this);
}

void TComponent::EndLoading() {
  if (!loading_) return;
  loading_ = false;
  Loaded();
  for (TComponent* c : owned_) c->EndLoading();
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  // Owned components hear about each other's removal, as they would through
  // their common owner.
  if (operation != TOperation::opRemove) return;
  for (TComponent* c : owned_)
    if (c != component) c->Notification(component, operation);
}

}  // namespace da
