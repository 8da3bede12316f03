#pragma once
// Helpers shared by the window's tests: a recorder that answers message
// boxes without blocking, showing a window for keyboard input, finding a
// control by name, pressing keys where the focus is.

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <vector>

#include "WinDialogs.h"

namespace apptest {

// Records every message box while it lives and answers each with `answer`
// (Yes/No boxes) or OK.
class MessageBoxRecorder {
 public:
  explicit MessageBoxRecorder(app::TModalResult answer = app::mrOk)
      : hook_([this, answer](const app::MessageBoxRequest& request) {
          boxes.push_back(request);
          return request.buttons == app::mbYesNo ? answer : app::mrOk;
        }) {}

  std::vector<app::MessageBoxRequest> boxes;

 private:
  app::ScopedMessageBoxHook hook_;
};

// Shows the window and makes it the active one, so that it gets the keys.
inline bool ShowActive(QWidget& window) {
  window.show();
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

// Presses a key where the input focus is, as the keyboard would.
inline void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = QApplication::focusWidget();
  if (target == nullptr) target = QApplication::activeWindow();
  QTest::keyClick(target, key, modifiers);
}

inline void Type(const QString& text) {
  for (QChar c : text) QTest::keyClicks(QApplication::focusWidget(), QString(c));
}

template <class T>
T* Find(QObject* root, const char* name) {
  return root->findChild<T*>(QString::fromLatin1(name));
}

inline QString FocusName() {
  QWidget* w = QApplication::focusWidget();
  return w != nullptr ? w->objectName() : QStringLiteral("(none)");
}

}  // namespace apptest
