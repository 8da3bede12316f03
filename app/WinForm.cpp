#include "WinForm.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextEdit>
#include <algorithm>
#include <climits>

#include "WinControls.h"
#include "WinDialogs.h"
#include "WinText.h"

namespace app {
namespace {

constexpr char kTabOrderProperty[] = "daTabOrder";

int SortKey(const QWidget* w) {
  const QVariant v = w->property(kTabOrderProperty);
  return v.isValid() ? v.toInt() : INT_MAX;
}

// Widgets that take no focus hold controls (pages, panels); widgets that do
// are controls, and their own children are their internals.
bool IsContainer(const QWidget* w) { return w->focusPolicy() == Qt::NoFocus; }

void CollectTabOrder(const QWidget* parent, std::vector<QWidget*>& out) {
  std::vector<QWidget*> children;
  for (QObject* child : parent->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w != nullptr && !w->isWindow()) children.push_back(w);
  }
  std::stable_sort(children.begin(), children.end(),
                   [](const QWidget* a, const QWidget* b) { return SortKey(a) < SortKey(b); });
  for (QWidget* w : children) {
    out.push_back(w);
    if (IsContainer(w)) CollectTabOrder(w, out);
  }
}

bool WantsReturns(const QWidget* w) {
  if (auto* memo = dynamic_cast<const TMemo*>(w)) return memo->WantReturns();
  return qobject_cast<const QPlainTextEdit*>(w) != nullptr || qobject_cast<const QTextEdit*>(w) != nullptr;
}

bool WantsTabs(const QWidget* w) {
  if (auto* edit = qobject_cast<const QPlainTextEdit*>(w)) return !edit->tabChangesFocus();
  if (auto* edit = qobject_cast<const QTextEdit*>(w)) return !edit->tabChangesFocus();
  return false;
}

TPageControl* EnclosingPageControl(const QWidget* w) {
  for (QWidget* p = w != nullptr ? w->parentWidget() : nullptr; p != nullptr && !p->isWindow();
       p = p->parentWidget()) {
    if (auto* pages = qobject_cast<TPageControl*>(p)) return pages;
  }
  return nullptr;
}

// The widget and its parents up to (not including) the form, innermost first.
std::vector<QWidget*> ChainOf(QWidget* w, const QWidget* form) {
  std::vector<QWidget*> chain;
  for (; w != nullptr && w != form; w = w->parentWidget()) chain.push_back(w);
  return chain;
}

void RaiseFocusEvent(QWidget* w, bool enter) {
  auto* events = dynamic_cast<TFocusEvents*>(w);
  if (events == nullptr) return;
  const TNotifyEvent handler = enter ? events->OnEnter : events->OnExit;
  if (handler) RunGuarded([&] { handler(w); });
}

}  // namespace

TForm* ParentForm(const QWidget* widget) {
  return widget != nullptr ? dynamic_cast<TForm*>(widget->window()) : nullptr;
}

void SetTabOrder(QWidget* control, int order) { control->setProperty(kTabOrderProperty, order); }

int TabOrder(const QWidget* control) {
  const QVariant v = control->property(kTabOrderProperty);
  return v.isValid() ? v.toInt() : -1;
}

void SetTabStop(QWidget* control, bool tabStop) {
  control->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

bool TabStop(const QWidget* control) { return (control->focusPolicy() & Qt::TabFocus) == Qt::TabFocus; }

bool CanFocus(const QWidget* control) {
  return control->isEnabled() && control->isVisibleTo(control->window());
}

TForm::TForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  qApp->installEventFilter(this);
  focusWatch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now != nullptr && now->window() == this) ActiveControlChanged(now);
  });
}

TForm::~TForm() {
  // QWidget's destructor, which runs after this one, deletes the controls
  // and may move the focus meanwhile: the form must not hear of it.
  disconnect(focusWatch_);
  if (qApp != nullptr) qApp->removeEventFilter(this);
}

void TForm::SetFixedClientSize(int width, int height) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(width, height);
}

void TForm::AfterConstruction() {
  if (constructed_) return;
  constructed_ = true;
  if (OnCreate) {
    const TNotifyEvent handler = OnCreate;
    handler(this);
  }
}

QWidget* TForm::ActiveControl() const { return focusWidget(); }

void TForm::SetActiveControl(QWidget* control) {
  if (control == nullptr || control->window() != this) return;
  control->setFocus(Qt::TabFocusReason);
  // Qt reports focus changes of the active window only; the form keeps its
  // own account of the active control while inactive.
  if (!isActiveWindow()) ActiveControlChanged(focusWidget());
}

std::vector<QWidget*> TForm::TabOrderList(QWidget* container) const {
  std::vector<QWidget*> list;
  CollectTabOrder(container != nullptr ? container : this, list);
  return list;
}

void TForm::SelectNext(QWidget* from, bool forward) {
  const std::vector<QWidget*> list = TabOrderList();
  const int n = static_cast<int>(list.size());
  if (n == 0) return;
  // The control itself, or the control an internal widget belongs to.
  int start = -1;
  for (QWidget* w = from; w != nullptr && w != this && start < 0; w = w->parentWidget()) {
    const auto it = std::find(list.begin(), list.end(), w);
    if (it != list.end()) start = static_cast<int>(it - list.begin());
  }
  if (start < 0) start = forward ? n - 1 : 0;
  int i = start;
  do {
    i = forward ? (i + 1) % n : (i + n - 1) % n;
    QWidget* candidate = list[static_cast<std::size_t>(i)];
    if (TabStop(candidate) && CanFocus(candidate)) {
      candidate->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      if (!isActiveWindow()) ActiveControlChanged(focusWidget());
      return;
    }
  } while (i != start);
}

void TForm::SelectFirst(QWidget* container) {
  for (QWidget* w : TabOrderList(container)) {
    if (TabStop(w) && CanFocus(w)) {
      SetActiveControl(w);
      return;
    }
  }
}

bool TForm::focusNextPrevChild(bool next) {
  SelectNext(ActiveControl(), next);
  return true;
}

void TForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!constructed_) AfterConstruction();
  if (!positioned_) {
    positioned_ = true;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  // The window opens with the focus on its first control in tab order.
  if (ActiveControl() == nullptr) SelectFirst(this);
}

void TForm::ActiveControlChanged(QWidget* now) {
  QWidget* previous = lastActive_.data();
  if (previous == now) return;
  lastActive_ = now;
  const std::vector<QWidget*> left = ChainOf(previous, this);
  const std::vector<QWidget*> entered = ChainOf(now, this);
  auto contains = [](const std::vector<QWidget*>& chain, QWidget* w) {
    return std::find(chain.begin(), chain.end(), w) != chain.end();
  };
  for (QWidget* w : left)
    if (!contains(entered, w)) RaiseFocusEvent(w, false);
  for (auto it = entered.rbegin(); it != entered.rend(); ++it)
    if (!contains(left, *it)) RaiseFocusEvent(*it, true);
}

bool TForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || resending_ || !watched->isWidgetType()) return false;
  auto* target = static_cast<QWidget*>(watched);
  if (target->window() != this) return false;
  auto& key = *static_cast<QKeyEvent*>(event);
  // A key event the receiver ignored travels on to the receiver's parents,
  // as the same object: the preview has seen it already. (The address alone
  // could be a new event's; the key and its time tell them apart.)
  const KeySeen seen{event, key.timestamp(), key.key(), key.modifiers()};
  const bool passedOn = seen == lastKey_ && lastKeyReceiver_ != nullptr && target != lastKeyReceiver_ &&
                        target->isAncestorOf(lastKeyReceiver_);
  lastKey_ = seen;
  lastKeyReceiver_ = target;
  if (passedOn) return false;
  bool consumed = false;
  RunGuarded([&] { consumed = PreviewKey(target, key); });
  if (consumed) event->accept();
  return consumed;
}

bool TForm::PreviewKey(QWidget* target, QKeyEvent& event) {
  TKeyCode key = VirtualKeyOf(event);
  const TShiftState shift = ShiftStateOf(event);
  if (key == vkTab && shift.Contains(ssCtrl)) {
    if (TPageControl* pages = EnclosingPageControl(target)) {
      pages->SelectNextPage(!shift.Contains(ssShift));
      return true;
    }
  }
  if (keyPreview_ && OnKeyDown) {
    const TKeyEvent handler = OnKeyDown;
    handler(this, key, shift);
    if (key == 0) return true;
  }
  if (DialogKey(target, key, shift)) return true;

  const std::string typed = TypedChars(event);
  if (typed.empty() || !keyPreview_ || !OnKeyPress) return false;
  const TKeyPressEvent handler = OnKeyPress;
  std::string kept;
  for (char c : typed) {
    char ch = c;
    handler(this, ch);
    if (ch != 0) kept += ch;
  }
  if (kept == typed) return false;
  if (!kept.empty()) {
    QKeyEvent replaced(event.type(), event.key(), event.modifiers(), FromWin1252(kept), event.isAutoRepeat(),
                       static_cast<quint16>(event.count()));
    resending_ = true;
    QCoreApplication::sendEvent(target, &replaced);
    resending_ = false;
  }
  return true;
}

bool TForm::DialogKey(QWidget* target, TKeyCode key, TShiftState shift) {
  if (key == vkTab && !shift.Contains(ssCtrl) && !shift.Contains(ssAlt)) {
    if (WantsTabs(target)) return false;
    SelectNext(ActiveControl(), !shift.Contains(ssShift));
    return true;
  }
  if (!shift.Empty()) return false;
  if (key == vkEscape) {
    if (TButton* cancel = FirstButton(true)) {
      cancel->click();
      return true;
    }
    return false;
  }
  if (key == vkReturn) {
    if (auto* button = qobject_cast<QPushButton*>(target)) {
      button->click();
      return true;
    }
    if (WantsReturns(target)) return false;
    if (TButton* button = FirstButton(false)) {
      button->click();
      return true;
    }
  }
  return false;
}

TButton* TForm::FirstButton(bool cancel) const {
  for (TButton* button : findChildren<TButton*>()) {
    const bool flagged = cancel ? button->Cancel() : button->isDefault();
    if (flagged && CanFocus(button)) return button;
  }
  return nullptr;
}

}  // namespace app
