#include "WinToolkit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "WinText.h"
#include "common/Exception.h"

namespace app {

void ShowPage(TPageControl* pages, int index) { pages->SetActivePageIndex(index); }

QString Caption(const QWidget* control) {
  if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  if (auto* edit = qobject_cast<const QLineEdit*>(control)) return edit->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
  if (auto* memo = qobject_cast<const QPlainTextEdit*>(control)) return memo->toPlainText();
  throw da::EAssertionFailed("Text of a control that has none: " + control->objectName().toStdString());
}

void SetCaption(QWidget* control, const QString& caption) {
  if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(caption);
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    edit->setText(caption);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(caption);
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(control)) {
    memo->setPlainText(caption);
  } else {
    throw da::EAssertionFailed("Text of a control that has none: " + control->objectName().toStdString());
  }
}

std::string Text(const QWidget* control) { return ToWin1252(Caption(control)); }

void SetText(QWidget* control, std::string_view text) { SetCaption(control, FromWin1252(text)); }

void SetVisible(QWidget* control, bool visible) { control->setVisible(visible); }

void RepaintNow(QWidget* control) { control->repaint(); }

void SetFocus(QWidget* control) {
  if (TForm* form = ParentForm(control)) form->SetActiveControl(control);
}

}  // namespace app
