#include "WinControls.h"

#include <QInputMethodEvent>
#include <QPainter>
#include <algorithm>

#include "Pictures.h"
#include "WinDialogs.h"
#include "WinForm.h"
#include "WinText.h"
#include "common/Format.h"
#include "common/RegionalSettings.h"

namespace app {
namespace {

// Runs an event with a copy of the handler, so that a handler that assigns
// its own event does not destroy itself while running.
void Raise(const TNotifyEvent& event, QObject* sender) {
  if (!event) return;
  const TNotifyEvent handler = event;
  handler(sender);
}

[[noreturn]] void IndexError(int index) {
  throw EListError(da::Format("List index out of bounds (%d)", {index}));
}

QString QuotedLiteral(QChar c) {
  if (c == u'\'') return QStringLiteral("''");
  return QStringLiteral("'") + c + QStringLiteral("'");
}

}  // namespace

// --- labels and pictures -----------------------------------------------------

TLabel::TLabel(QWidget* parent, const QString& caption) : QLabel(caption, parent) {
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  UpdateAccentRoom();
}

void TLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateAccentRoom();
}

void TLabel::UpdateAccentRoom() {
  const QFontMetrics metrics(font());
  const int capitalTop = -metrics.tightBoundingRect(QStringLiteral("\u00c0\u00c9")).top();
  setContentsMargins(0, std::max(0, capitalTop - metrics.ascent()), 0, 0);
}

void TLabel::SetBold(bool bold) {
  QFont f = font();
  f.setBold(bold);
  setFont(f);
}

void TLabel::SetPointSize(qreal points) {
  QFont f = font();
  f.setPointSizeF(points);
  setFont(f);
}

void TLabel::SetTextColor(const QColor& color) {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, color);
  setPalette(p);
}

void TLabel::AutoSizeAt(int left, int top) {
  adjustSize();
  move(left, top);
}

void TLabel::AutoSizeRightAt(int right, int top) {
  adjustSize();
  move(right - width(), top);
}

TImage::TImage(QWidget* parent, const QPixmap& picture) : QLabel(parent) {
  setPixmap(picture);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

// --- buttons -----------------------------------------------------------------

TButton::TButton(QWidget* parent, const QString& caption) : QPushButton(caption, parent) {
  // Enter is the form's business (WinForm.h), not Qt's dialog default.
  setAutoDefault(false);
  connect(this, &QAbstractButton::clicked, this, [this] { RunGuarded([this] { Raise(OnClick, this); }); });
}

TBitBtn::TBitBtn(QWidget* parent, const QString& caption, TBitBtnKind kind)
    : TButton(parent, caption), kind_(kind) {
  if (kind == bkCancel) {
    SetCancel(true);
    SetGlyph(Glyph(glyphCancel));
  } else if (kind == bkHelp) {
    SetGlyph(Glyph(glyphHelp));
  }
}

void TBitBtn::SetGlyph(const QPixmap& glyph) {
  setIcon(QIcon(glyph));
  setIconSize(glyph.size());
}

// --- edits -------------------------------------------------------------------

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {
  // Dropped text would pass the key filter by; an edit takes typing and
  // pasting only.
  setAcceptDrops(false);
}

std::string TEdit::Filter(const std::string& typed) {
  std::string kept;
  RunGuarded([&] {
    const TKeyPressEvent handler = OnKeyPress;
    std::string out;
    for (char c : typed) {
      char key = c;
      handler(this, key);
      if (key != 0) out += key;
    }
    kept = std::move(out);
  });
  return kept;
}

void TEdit::keyPressEvent(QKeyEvent* event) {
  const std::string typed = OnKeyPress ? TypedChars(*event) : std::string();
  if (typed.empty()) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  const std::string kept = Filter(typed);
  if (kept == typed) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  event->accept();
  if (kept.empty()) return;
  QKeyEvent replaced(event->type(), event->key(), event->modifiers(), FromWin1252(kept),
                     event->isAutoRepeat(), static_cast<quint16>(event->count()));
  QLineEdit::keyPressEvent(&replaced);
}

void TEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (!OnKeyPress || event->commitString().isEmpty()) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  const std::string typed = ToWin1252(event->commitString());
  const std::string kept = Filter(typed);
  if (kept == typed) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  QInputMethodEvent filtered(event->preeditString(), event->attributes());
  filtered.setCommitString(FromWin1252(kept), event->replacementStart(), event->replacementLength());
  QLineEdit::inputMethodEvent(&filtered);
}

TMaskEdit::TMaskEdit(QWidget* parent) : TEdit(parent) {}

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) { setTabChangesFocus(true); }

void TMemo::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && !wantReturns_ && !(event->modifiers() & Qt::ControlModifier)) {
    event->ignore();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

// --- check boxes and lists ---------------------------------------------------

TCheckBox::TCheckBox(QWidget* parent, const QString& caption) : QCheckBox(caption, parent) {
  // The box and its caption as close as the window's layout expects them.
  setStyleSheet(QStringLiteral("QCheckBox { spacing: 3px; }"));
  // A user's click has toggled the state already when Qt reports it.
  connect(this, &QAbstractButton::clicked, this, [this] { RunGuarded([this] { Raise(OnClick, this); }); });
}

void TCheckBox::SetChecked(bool checked) {
  if (isChecked() == checked) return;
  setChecked(checked);
  Raise(OnClick, this);
}

TCheckListBox::TCheckListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
}

QListWidgetItem* TCheckListBox::At(int index) const {
  QListWidgetItem* entry = index >= 0 && index < count() ? item(index) : nullptr;
  if (entry == nullptr) IndexError(index);
  return entry;
}

void TCheckListBox::Clear() { clear(); }

int TCheckListBox::Add(std::string_view text) {
  auto* entry = new QListWidgetItem(FromWin1252(text));
  entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  entry->setCheckState(Qt::Unchecked);
  addItem(entry);
  return count() - 1;
}

int TCheckListBox::Count() const { return count(); }

std::string TCheckListBox::Item(int index) const { return ToWin1252(At(index)->text()); }

bool TCheckListBox::Checked(int index) const { return At(index)->checkState() == Qt::Checked; }

void TCheckListBox::SetChecked(int index, bool checked) {
  At(index)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

int TCheckListBox::ItemIndex() const {
  QListWidgetItem* current = currentItem();
  return current != nullptr && current->isSelected() ? row(current) : -1;
}

void TCheckListBox::SetItemIndex(int index) {
  if (index < 0) {
    clearSelection();
    setCurrentItem(nullptr);
    return;
  }
  setCurrentItem(At(index), QItemSelectionModel::ClearAndSelect);
}

THiddenList::THiddenList(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  hide();
}

int THiddenList::Add(std::string text) {
  items_.push_back(std::move(text));
  return Count() - 1;
}

const std::string& THiddenList::Item(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return items_[static_cast<std::size_t>(index)];
}

// --- date and time pickers ---------------------------------------------------

QString QtDateFormat(std::string_view pattern, char dateSeparator) {
  QString out;
  std::size_t i = 0;
  auto run = [&](char letter) {
    std::size_t n = 0;
    while (i < pattern.size() && (pattern[i] | 0x20) == letter) ++i, ++n;
    return n;
  };
  while (i < pattern.size()) {
    const char c = pattern[i];
    const char lower = static_cast<char>(c | 0x20);
    if (lower == 'd') {
      out += QString(static_cast<int>(std::min<std::size_t>(run('d'), 4)), u'd');
    } else if (lower == 'm') {
      out += QString(static_cast<int>(std::min<std::size_t>(run('m'), 4)), u'M');
    } else if (lower == 'y') {
      out += run('y') <= 2 ? QStringLiteral("yy") : QStringLiteral("yyyy");
    } else if (c == '/') {
      out += QuotedLiteral(FromWin1252(std::string_view(&dateSeparator, 1)).at(0));
      ++i;
    } else if (c == '\'' || c == '"') {
      const std::size_t end = pattern.find(c, i + 1);
      const std::size_t stop = end == std::string_view::npos ? pattern.size() : end;
      for (QChar q : FromWin1252(pattern.substr(i + 1, stop - i - 1))) out += QuotedLiteral(q);
      i = end == std::string_view::npos ? pattern.size() : end + 1;
    } else {
      out += QuotedLiteral(FromWin1252(pattern.substr(i, 1)).at(0));
      ++i;
    }
  }
  return out;
}

QString QtTimeFormat(char timeSeparator) {
  const QString sep = QuotedLiteral(FromWin1252(std::string_view(&timeSeparator, 1)).at(0));
  return QStringLiteral("HH") + sep + QStringLiteral("mm") + sep + QStringLiteral("ss");
}

TDatePicker::TDatePicker(QWidget* parent) : QDateEdit(parent) {
  const da::RegionalSettings& regional = da::Regional();
  setDisplayFormat(QtDateFormat(regional.shortDateFormat, regional.dateSeparator));
  setCalendarPopup(true);
}

da::TDateTime TDatePicker::Date() const {
  const QDate d = date();
  return da::EncodeDate(d.year(), d.month(), d.day());
}

void TDatePicker::SetDate(da::TDateTime value) {
  int year = 0, month = 0, day = 0;
  da::DecodeDate(value, year, month, day);
  setDate(QDate(year, month, day));
}

TTimePicker::TTimePicker(QWidget* parent) : QTimeEdit(parent) {
  setDisplayFormat(QtTimeFormat(da::Regional().timeSeparator));
  setWrapping(true);
  setTime(QTime(0, 0, 0));
}

void TTimePicker::SetTime(int hour, int minute, int second) { setTime(QTime(hour, minute, second)); }

// --- pages -------------------------------------------------------------------

TTabSheet::TTabSheet(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::NoFocus); }

TPageControl::TPageControl(QWidget* parent) : QFrame(parent) {
  setFocusPolicy(Qt::NoFocus);
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(2);
  // With the frame, the pages lie 4 pixels inside the control.
  setContentsMargins(2, 2, 2, 2);
}

void TPageControl::AddPage(TTabSheet* page) {
  page->setParent(this);
  page->setGeometry(contentsRect());
  pages_.push_back(page);
  if (active_ == nullptr) {
    active_ = page;
    page->show();
  } else {
    page->hide();
  }
}

TTabSheet* TPageControl::Page(int index) const {
  if (index < 0 || index >= PageCount()) return nullptr;
  return pages_[static_cast<std::size_t>(index)];
}

int TPageControl::ActivePageIndex() const {
  for (int i = 0; i < PageCount(); ++i)
    if (pages_[static_cast<std::size_t>(i)] == active_) return i;
  return -1;
}

void TPageControl::SetActivePageIndex(int index) { ChangeActivePage(Page(index)); }

void TPageControl::ChangeActivePage(TTabSheet* page) {
  if (page == active_) return;
  TForm* form = ParentForm(this);
  TTabSheet* old = active_;
  // The focus leaves the old page first (its controls' OnExit run), and
  // waits on the page itself while the pages change.
  bool parked = false;
  if (form != nullptr && old != nullptr) {
    QWidget* focused = form->ActiveControl();
    if (focused == nullptr || focused == old || old->isAncestorOf(focused)) {
      form->SetActiveControl(old);
      parked = true;
    }
  }
  auto finish = [&] {
    if (page != nullptr && parked && form->ActiveControl() == old) form->SetActiveControl(page);
    if (old != nullptr) old->hide();
    active_ = page;
  };
  if (page != nullptr) {
    page->setGeometry(contentsRect());
    page->raise();
    page->show();
    try {
      Raise(page->OnShow, page);
    } catch (...) {
      finish();
      throw;
    }
  }
  finish();
  if (form != nullptr && page != nullptr && form->ActiveControl() == page) form->SelectFirst(page);
}

void TPageControl::SelectNextPage(bool forward) {
  const int n = PageCount();
  if (n == 0) return;
  const int start = ActivePageIndex();
  int i = start < 0 ? (forward ? n - 1 : 0) : start;
  for (int step = 0; step < n; ++step) {
    i = forward ? (i + 1) % n : (i + n - 1) % n;
    if (i == start) return;
    if (pages_[static_cast<std::size_t>(i)]->TabVisible()) {
      SetActivePageIndex(i);
      return;
    }
  }
}

void TPageControl::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  for (TTabSheet* page : pages_) page->setGeometry(contentsRect());
}

// --- panels ------------------------------------------------------------------

TGradientPanel::TGradientPanel(QWidget* parent, const QColor& from, const QColor& to, int steps)
    : QWidget(parent), from_(from), to_(to), steps_(steps < 1 ? 1 : steps) {
  setFocusPolicy(Qt::NoFocus);
}

void TGradientPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int w = width();
  const int last = steps_ > 1 ? steps_ - 1 : 1;
  for (int i = 0; i < steps_; ++i) {
    const int x0 = i * w / steps_;
    const int x1 = (i + 1) * w / steps_;
    if (x1 <= x0) continue;
    auto mix = [&](int a, int b) { return a + (b - a) * i / last; };
    const QColor band(mix(from_.red(), to_.red()), mix(from_.green(), to_.green()),
                      mix(from_.blue(), to_.blue()));
    painter.fillRect(x0, 0, x1 - x0, height(), band);
  }
}

TPanel::TPanel(QWidget* parent, const QColor& color) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  QPalette p = palette();
  p.setColor(QPalette::Window, color);
  setPalette(p);
  setAutoFillBackground(true);
}

}  // namespace app
