#pragma once
// The component base: a name, an owner that destroys what it owns, and
// free notifications so that weak references to a component being destroyed
// can be cleared by whoever holds them.

#include <string>
#include <vector>

namespace da {

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  // The owner (may be null) takes ownership and destroys this component
  // with itself.
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  TComponent* Owner() const { return owner_; }
  const std::vector<TComponent*>& Components() const { return owned_; }

  // Asks to be told (through Notification with opRemove) when `other` is
  // destroyed; the request is mutual, so both sides learn of either's end.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  // True while the owner's construction assigns stored properties; Loaded
  // runs once after that.
  bool Loading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  void EndLoading();

 protected:
  virtual void Notification(TComponent* component, TOperation operation);
  virtual void Loaded() {}

 private:
  void RemoveOwned(TComponent* c);

  std::string name_;
  TComponent* owner_ = nullptr;       // weak: the owner outlives us
  std::vector<TComponent*> owned_;    // owned: destroyed with us
  std::vector<TComponent*> notified_; // weak: cleared when they go
  bool loading_ = false;
  bool destroying_ = false;
};

}  // namespace da
