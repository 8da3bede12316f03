#include "CSEZForm.h"

#include <QLineEdit>

#include "WinControls.h"

namespace app {

void TcsEZFormOptions::SetDefaults() {
  NavigationEnabled = true;
  DefaultNavigationKeys = kAllNavigationKeys;
}

TcsEZFormOptions& EZFormOptions() {
  static TcsEZFormOptions options;
  return options;
}

TcsEZKeys::TcsEZKeys(QObject* owner)
    : QObject(owner), navigationKeys_(EZFormOptions().DefaultNavigationKeys) {}

TcsEZForm::TcsEZForm(QWidget* parent) : TForm(parent) {}

void TcsEZForm::AfterConstruction() {
  if (Constructed()) return;
  for (TButton* button : findChildren<TButton*>()) {
    if (button->isDefault()) {
      defaultButton_ = button;
      break;
    }
  }
  chainedKeyDown_ = std::move(OnKeyDown);
  chainedKeyPress_ = std::move(OnKeyPress);
  OnKeyDown = [this](QObject* sender, TKeyCode& key, TShiftState shift) { NavKeyDown(sender, key, shift); };
  OnKeyPress = [this](QObject* sender, char& key) { NavKeyPress(sender, key); };

  if (auto* keys = findChild<TcsEZKeys*>()) {
    SetNavigationKeys(keys->NavigationKeys());
  } else if (navigationKeys_.Empty()) {
    SetNavigationKeys(EZFormOptions().DefaultNavigationKeys);
  }
  if (EZFormOptions().NavigationEnabled) {
    SetKeyPreview(true);
    if (defaultButton_ != nullptr && navigationKeys_.Contains(nkEnter)) defaultButton_->setDefault(false);
  }
  TForm::AfterConstruction();
}

void TcsEZForm::SetNavigationKeys(TNavigationKeys keys) {
  const TNavigationKeys old = navigationKeys_;
  navigationKeys_ = keys;
  if (!EZFormOptions().NavigationEnabled || defaultButton_ == nullptr) return;
  if (old.Contains(nkEnter) != keys.Contains(nkEnter)) defaultButton_->setDefault(!keys.Contains(nkEnter));
}

bool TcsEZForm::HandlesNavigationKey(TNavigationKey key, const QWidget* control) const {
  if (!EZFormOptions().NavigationEnabled || !navigationKeys_.Contains(key)) return false;
  switch (key) {
    case nkEnter: {
      const auto* memo = dynamic_cast<const TMemo*>(control);
      return memo == nullptr || !memo->WantReturns();
    }
    case nkUpDnArrows:
      return qobject_cast<const QLineEdit*>(control) != nullptr ||
             dynamic_cast<const TMaskedEditKind*>(control) != nullptr;
    case nkCtrlTab:
      return true;
  }
  return false;
}

void TcsEZForm::ClickDefaultButton() {
  if (defaultButton_ == nullptr || !defaultButton_->OnClick) return;
  const TNotifyEvent handler = defaultButton_->OnClick;
  handler(this);
}

void TcsEZForm::NavKeyDown(QObject* sender, TKeyCode& key, TShiftState shift) {
  if (chainedKeyDown_) chainedKeyDown_(sender, key, shift);
  if (!EZFormOptions().NavigationEnabled || key == 0) return;
  if (key == vkDown || key == vkUp) {
    // The key stays unconsumed: the control still applies it (the time
    // picker steps its time).
    if (HandlesNavigationKey(nkUpDnArrows, ActiveControl())) SelectNext(ActiveControl(), key == vkDown);
  } else if (shift.Contains(ssCtrl) && key == vkTab && HandlesNavigationKey(nkCtrlTab, ActiveControl())) {
    key = 0;
    SelectNext(ActiveControl(), !shift.Contains(ssShift));
  }
}

void TcsEZForm::NavKeyPress(QObject* sender, char& key) {
  if (chainedKeyPress_) chainedKeyPress_(sender, key);
  if (EZFormOptions().NavigationEnabled && key == '\r' && HandlesNavigationKey(nkEnter, ActiveControl())) {
    key = 0;
    SelectNext(ActiveControl(), true);
  }
}

}  // namespace app
