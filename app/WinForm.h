#pragma once
// The form: a fixed-size top-level window that owns its controls and runs
// the window's keyboard: key preview, dialog keys and focus in tab order.
//
// Keys. Every key pressed in one of the form's controls passes, before the
// control sees it, through these steps; any step may consume it:
//   1. Ctrl+Tab and Ctrl+Shift+Tab inside a page control go to the page
//      control (TPageControl::SelectNextPage) and stop there;
//   2. with KeyPreview on, OnKeyDown(form, key code, shift state); a key
//      code set to 0 consumes the key;
//   3. dialog keys: Tab and Shift+Tab move the focus in tab order (unless
//      the control wants tabs); Esc clicks the first Cancel button that can
//      take the focus; Enter clicks the focused button, or, in a control
//      that does not want returns, the first Default button that can take
//      the focus;
//   4. with KeyPreview on, OnKeyPress(form, character) for each character
//      the key types; a character set to 0 is not typed, another value is
//      typed instead;
//   5. the control itself (a TEdit's own OnKeyPress comes first there).
//
// Focus. The active control is the control with the input focus. When it
// changes, OnExit runs on the controls (and pages) the focus leaves, then
// OnEnter on those it enters. Moving the focus in tab order visits only
// controls that are visible, enabled and tab stops, and wraps around.

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

#include "WinEvents.h"

namespace app {

class TButton;

class TForm : public QWidget {
  Q_OBJECT
 public:
  explicit TForm(QWidget* parent = nullptr);
  ~TForm() override;
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  TNotifyEvent OnCreate;
  TKeyEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;

  bool KeyPreview() const { return keyPreview_; }
  void SetKeyPreview(bool preview) { keyPreview_ = preview; }

  // Gives the form its client size, not resizable, with only a close box,
  // centred on the screen when first shown.
  void SetFixedClientSize(int width, int height);

  // The control with the input focus (also while the window is inactive:
  // the one that gets it back), or null.
  QWidget* ActiveControl() const;
  // Puts the input focus on a control of this form; OnExit/OnEnter run.
  void SetActiveControl(QWidget* control);
  // Moves the focus from `from` (the first control when null) to the next or
  // previous control in tab order; nothing happens when there is none.
  void SelectNext(QWidget* from, bool forward);
  // Focuses the first control inside `container` in tab order, if any.
  void SelectFirst(QWidget* container);
  // Every widget below `container` (the form when null) in tab order: each
  // parent's children sorted by TabOrder, containers followed by their own.
  std::vector<QWidget*> TabOrderList(QWidget* container = nullptr) const;

  // Closes the window; closing the main window ends the program.
  void Close() { close(); }

  // Finishes the creation after the constructors of the most derived class
  // have built the controls and set the events: runs OnCreate. CreateForm
  // calls it; it runs once.
  virtual void AfterConstruction();
  bool Constructed() const { return constructed_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void showEvent(QShowEvent* event) override;

 private:
  bool PreviewKey(QWidget* target, QKeyEvent& event);
  bool DialogKey(QWidget* target, TKeyCode key, TShiftState shift);
  TButton* FirstButton(bool cancel) const;
  void ActiveControlChanged(QWidget* now);

  bool keyPreview_ = false;
  bool constructed_ = false;
  bool positioned_ = false;
  bool resending_ = false;
  QPointer<QWidget> lastActive_;
  // The key event last seen and where: Qt hands an ignored key event on to
  // each parent of its receiver, and the preview must run once per key.
  struct KeySeen {
    const QEvent* event = nullptr;  // compared, never used
    quint64 timestamp = 0;
    int key = 0;
    Qt::KeyboardModifiers modifiers;
    bool operator==(const KeySeen&) const = default;
  };
  KeySeen lastKey_;
  QPointer<QWidget> lastKeyReceiver_;
  QMetaObject::Connection focusWatch_;
};

// Creates a form and finishes its creation (AfterConstruction).
template <class F, class... Args>
std::unique_ptr<F> CreateForm(Args&&... args) {
  auto form = std::make_unique<F>(std::forward<Args>(args)...);
  form->AfterConstruction();
  return form;
}

// The form a widget lies on, or null.
TForm* ParentForm(const QWidget* widget);

// Tab order of a control among its parent's children (lower first); controls
// without one follow in creation order.
void SetTabOrder(QWidget* control, int order);
int TabOrder(const QWidget* control);  // -1 when it has none
// A tab stop is reached by Tab and by the navigation keys; a control that is
// not one still takes the focus when clicked.
void SetTabStop(QWidget* control, bool tabStop);
bool TabStop(const QWidget* control);
// Visible (with every parent up to its window) and enabled.
bool CanFocus(const QWidget* control);

}  // namespace app
