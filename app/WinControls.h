#pragma once
// The controls of the window toolkit, over Qt Widgets: labels, edits with a
// maximum length and a key filter, check boxes, check lists, buttons with
// glyphs (a Cancel kind that answers Esc), the date and time pickers, the
// page control with hidden-tab pages, and the header's panels.
//
// Events are std::function members named after the event (OnClick); empty
// means unassigned. An event that the toolkit raises from user input runs
// through RunGuarded (WinDialogs.h), so its errors reach the default error
// display. An event raised by a setter called from code (TCheckBox's
// SetChecked, TPageControl's page change) runs inside that call, and its
// errors go back to the caller.
//
// Every control is owned by its Qt parent.

#include <QCheckBox>
#include <QColor>
#include <QDateEdit>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

#include "WinEvents.h"
#include "common/DateTime.h"
#include "common/Exception.h"

namespace app {

// An index outside a list.
class EListError : public da::Exception {
 public:
  using Exception::Exception;
};

// Mixed into the controls that report the input focus entering and leaving
// them (for a page: entering or leaving any control inside it). The form
// raises them when its active control changes (WinForm.h).
class TFocusEvents {
 public:
  virtual ~TFocusEvents() = default;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
};

// Marks the masked edits, among them the time picker: the navigation layer
// lets Up and Down move the focus from them (CSEZForm.h).
class TMaskedEditKind {
 public:
  virtual ~TMaskedEditKind() = default;
};

// A label. Its caption is plain text ("\r\n" breaks a line), never markup.
class TLabel : public QLabel {
  Q_OBJECT
 public:
  TLabel(QWidget* parent, const QString& caption);
  void SetBold(bool bold);
  void SetPointSize(qreal points);
  void SetTextColor(const QColor& color);
  // Sizes the label to its caption with its top left corner at (left, top).
  void AutoSizeAt(int left, int top);
  // Sizes the label to its caption with its right edge at `right`: the
  // labels right-aligned against a column of inputs.
  void AutoSizeRightAt(int right, int top);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // Room above the text for the accents of capitals (À, É), which some
  // fonts draw above their own ascent.
  void UpdateAccentRoom();
};

// A picture.
class TImage : public QLabel {
  Q_OBJECT
 public:
  TImage(QWidget* parent, const QPixmap& picture);
};

// The push button. Enter on a focused button clicks it; Esc clicks the first
// Cancel button that can take the focus; Enter in a control that does not
// want it clicks the first Default button that can take the focus (WinForm).
class TButton : public QPushButton {
  Q_OBJECT
 public:
  TButton(QWidget* parent, const QString& caption);
  TNotifyEvent OnClick;
  bool Cancel() const { return cancel_; }
  void SetCancel(bool cancel) { cancel_ = cancel; }
  // The Default flag is QPushButton's isDefault()/setDefault().

 private:
  bool cancel_ = false;
};

enum TBitBtnKind { bkCustom, bkCancel, bkHelp };

// A button with a glyph beside its caption. bkCancel is a Cancel button with
// the standard cancel glyph, bkHelp carries the help glyph; both click like
// any other button.
class TBitBtn : public TButton {
  Q_OBJECT
 public:
  TBitBtn(QWidget* parent, const QString& caption, TBitBtnKind kind = bkCustom);
  TBitBtnKind Kind() const { return kind_; }
  void SetGlyph(const QPixmap& glyph);

 private:
  TBitBtnKind kind_;
};

// A single-line edit. MaxLength is QLineEdit's maxLength. OnKeyPress sees
// each character typed (not text pasted or dropped) before the edit does,
// and discards it by setting it to 0 or replaces it by another.
class TEdit : public QLineEdit, public TFocusEvents {
  Q_OBJECT
 public:
  explicit TEdit(QWidget* parent);
  TKeyPressEvent OnKeyPress;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  // The typed characters after OnKeyPress; the handler's errors are shown
  // by the default error display and discard the characters.
  std::string Filter(const std::string& typed);
};

// A single-line edit with an input mask (QLineEdit's inputMask).
class TMaskEdit : public TEdit, public TMaskedEditKind {
  Q_OBJECT
 public:
  explicit TMaskEdit(QWidget* parent);
};

// A multi-line edit. WantReturns (default true): Enter starts a new line;
// without it Enter never does (Ctrl+Enter still does). WantTabs (default
// false): Tab types a tab instead of moving the focus.
class TMemo : public QPlainTextEdit, public TFocusEvents {
  Q_OBJECT
 public:
  explicit TMemo(QWidget* parent);
  bool WantReturns() const { return wantReturns_; }
  void SetWantReturns(bool want) { wantReturns_ = want; }
  bool WantTabs() const { return !tabChangesFocus(); }
  void SetWantTabs(bool want) { setTabChangesFocus(!want); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool wantReturns_ = true;
};

// A check box. OnClick runs whenever the checked state changes: on a user's
// click and on SetChecked from code alike.
class TCheckBox : public QCheckBox, public TFocusEvents {
  Q_OBJECT
 public:
  TCheckBox(QWidget* parent, const QString& caption);
  TNotifyEvent OnClick;
  bool Checked() const { return isChecked(); }
  // Runs OnClick when the state changes; its errors go to the caller.
  void SetChecked(bool checked);
};

// A list of 8-bit entries, each with a check mark. Setting a check mark
// from code raises nothing. The highlighted entry (ItemIndex) is the
// selected one, -1 when none is; the focus frame alone highlights nothing.
// An index outside the list raises EListError.
class TCheckListBox : public QListWidget, public TFocusEvents {
  Q_OBJECT
 public:
  explicit TCheckListBox(QWidget* parent);
  void Clear();
  int Add(std::string_view text);  // returns the new entry's index
  int Count() const;
  std::string Item(int index) const;
  bool Checked(int index) const;
  void SetChecked(int index, bool checked);
  int ItemIndex() const;
  void SetItemIndex(int index);  // -1 highlights nothing

 private:
  QListWidgetItem* At(int index) const;
};

// A list of 8-bit strings that is never shown: entry N describes entry N of
// a visible list. An index outside the list raises EListError.
class THiddenList : public QWidget {
  Q_OBJECT
 public:
  explicit THiddenList(QWidget* parent);
  void Clear() { items_.clear(); }
  int Add(std::string text);
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Item(int index) const;

 private:
  std::vector<std::string> items_;
};

// A drop-down date picker for a date without time of day, shown in the
// short date format of the regional settings.
class TDatePicker : public QDateEdit, public TFocusEvents {
  Q_OBJECT
 public:
  explicit TDatePicker(QWidget* parent);
  da::TDateTime Date() const;   // midnight of the date
  void SetDate(da::TDateTime date);  // the time of day is dropped
};

// A time picker with an 8-character text of hours, minutes and seconds
// separated by the regional time separator; it starts at midnight. Up and
// Down step the part at the caret and wrap around the day.
class TTimePicker : public QTimeEdit, public TFocusEvents, public TMaskedEditKind {
  Q_OBJECT
 public:
  explicit TTimePicker(QWidget* parent);
  int Hour() const { return time().hour(); }
  int Minute() const { return time().minute(); }
  int Second() const { return time().second(); }
  void SetTime(int hour, int minute, int second);
};

// The Qt display format for a date pattern of the regional settings (d dd
// ddd dddd, m mm mmm mmmm, yy yyyy, '/' for the date separator, quoted text
// and any other character taken literally).
QString QtDateFormat(std::string_view pattern, char dateSeparator);
// "HH:mm:ss" with the given time separator.
QString QtTimeFormat(char timeSeparator);

// One page of a TPageControl. OnShow runs every time the page becomes the
// active page; OnEnter when the focus moves into it from outside.
class TTabSheet : public QWidget, public TFocusEvents {
  Q_OBJECT
 public:
  explicit TTabSheet(QWidget* parent = nullptr);
  TNotifyEvent OnShow;
  bool TabVisible() const { return tabVisible_; }
  void SetTabVisible(bool visible) { tabVisible_ = visible; }

 private:
  bool tabVisible_ = true;
};

// Pages on top of each other, one active. The pages have no visible tabs
// here: the program switches them (SetActivePageIndex); Ctrl+Tab and
// Ctrl+Shift+Tab, which the page control takes before the form sees them,
// switch only to pages whose tab is visible.
class TPageControl : public QFrame {
  Q_OBJECT
 public:
  explicit TPageControl(QWidget* parent);
  // Takes the page as a child; the first page added becomes active.
  void AddPage(TTabSheet* page);
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabSheet* Page(int index) const;  // null outside the pages
  int ActivePageIndex() const;       // -1 when no page is active
  TTabSheet* ActivePage() const { return active_; }
  // Makes page `index` active (none outside the pages): the new page shows,
  // its OnShow runs, the old page hides. When the focus was on the old page
  // (or nowhere) it moves into the new page and on to the page's first
  // control in tab order. OnShow's errors go to the caller, with the page
  // change completed.
  void SetActivePageIndex(int index);
  void SelectNextPage(bool forward);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ChangeActivePage(TTabSheet* page);
  std::vector<TTabSheet*> pages_;  // children of this control
  TTabSheet* active_ = nullptr;
};

// A panel filled with a left-to-right gradient in a given number of bands.
class TGradientPanel : public QWidget {
  Q_OBJECT
 public:
  TGradientPanel(QWidget* parent, const QColor& from, const QColor& to, int steps);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor from_, to_;
  int steps_;
};

// A panel in one solid colour.
class TPanel : public QWidget {
  Q_OBJECT
 public:
  TPanel(QWidget* parent, const QColor& color);
};

}  // namespace app
