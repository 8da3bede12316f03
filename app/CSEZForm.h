#pragma once
// Keyboard focus navigation for a form: Enter, and Up and Down, move the
// focus through the form's inputs as Tab and Shift+Tab would, and so do
// Ctrl+Tab and Ctrl+Shift+Tab. A form gets it by deriving from TcsEZForm
// and being created with CreateForm (WinForm.h); a TcsEZKeys the form owns
// gives it a key set of its own.
//
// The layer previews the form's keys (KeyPreview) through NavKeyDown and
// NavKeyPress, after the OnKeyDown and OnKeyPress handlers that the form's
// own constructor had set, which it keeps and calls first.

#include <QObject>
#include <QPointer>

#include "FlagSet.h"
#include "WinControls.h"
#include "WinForm.h"

namespace app {

enum TNavigationKey { nkEnter, nkUpDnArrows, nkCtrlTab };
using TNavigationKeys = TSet<TNavigationKey>;
inline constexpr TNavigationKeys kAllNavigationKeys{nkEnter, nkUpDnArrows, nkCtrlTab};

// The settings of the whole layer.
class TcsEZFormOptions {
 public:
  TcsEZFormOptions() { SetDefaults(); }
  virtual ~TcsEZFormOptions() = default;
  // Navigation on, all three keys.
  virtual void SetDefaults();

  // Off switches the layer off for every form.
  bool NavigationEnabled = true;
  TNavigationKeys DefaultNavigationKeys = kAllNavigationKeys;
};

// The one process-wide instance, created before the first form needs it and
// destroyed at program exit. The program never changes it.
TcsEZFormOptions& EZFormOptions();

// Placed on a form (owned by it) to give that form another key set.
class TcsEZKeys : public QObject {
  Q_OBJECT
 public:
  // Starts with the global DefaultNavigationKeys.
  explicit TcsEZKeys(QObject* owner);
  TNavigationKeys NavigationKeys() const { return navigationKeys_; }
  void SetNavigationKeys(TNavigationKeys keys) { navigationKeys_ = keys; }

 private:
  TNavigationKeys navigationKeys_;
};

class TcsEZForm : public TForm {
  Q_OBJECT
 public:
  explicit TcsEZForm(QWidget* parent = nullptr);

  // The keys in use; a form that sets none gets DefaultNavigationKeys at
  // creation. Setting it gives a Default button its flag back when Enter
  // leaves the set and takes it away when Enter joins it.
  TNavigationKeys NavigationKeys() const { return navigationKeys_; }
  void SetNavigationKeys(TNavigationKeys keys);

  // The form's Default button found at creation, or null.
  TButton* DefaultButton() const { return defaultButton_.data(); }

  // Finds the Default button, chains the form's key handlers, settles the
  // key set, switches the key preview on (and, with Enter navigation, the
  // Default button's flag off), then runs OnCreate.
  void AfterConstruction() override;

  // Whether navigation key `key` applies to `control`: Enter everywhere but
  // in a memo that wants returns; Up and Down in single-line and masked
  // edits only; Ctrl+Tab everywhere. False for keys not in the set and
  // when navigation is off.
  virtual bool HandlesNavigationKey(TNavigationKey key, const QWidget* control) const;
  // Runs the Default button's OnClick with the form as sender, if there are both.
  virtual void ClickDefaultButton();

 protected:
  void NavKeyDown(QObject* sender, TKeyCode& key, TShiftState shift);
  void NavKeyPress(QObject* sender, char& key);

 private:
  TNavigationKeys navigationKeys_;
  QPointer<TButton> defaultButton_;
  TKeyEvent chainedKeyDown_;
  TKeyPressEvent chainedKeyPress_;
};

}  // namespace app
