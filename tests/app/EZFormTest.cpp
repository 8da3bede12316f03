// Keyboard focus navigation on small forms of its own: Enter, Up/Down and
// Ctrl+Tab moving the focus, the Default button's flag, chained key
// handlers, memos, and forms with a key set of their own.

#include <QtTest>

#include "AppTestSupport.h"
#include "CSEZForm.h"
#include "WinControls.h"

using namespace app;
using apptest::FocusName;
using apptest::Press;

namespace {

// What a test form's design holds besides its controls.
struct Design {
  bool defaultButton = false;
  bool ownKeys = false;  // owns a TcsEZKeys
  TNavigationKeys ownKeySet;
  bool storedKeys = false;  // NavigationKeys set in the design
  TNavigationKeys storedKeySet;
  bool wantReturns = true;
  TKeyEvent onKeyDown;
  TKeyPressEvent onKeyPress;
};

// edit1, memo, edit2, masked, list, date, check, ok: in this tab order.
class NavForm : public TcsEZForm {
 public:
  explicit NavForm(const Design& design) {
    SetFixedClientSize(300, 330);
    edit1 = Add(new TEdit(this), "edit1", 22);
    memo = Add(new TMemo(this), "memo", 50);
    memo->SetWantReturns(design.wantReturns);
    edit2 = Add(new TEdit(this), "edit2", 22);
    masked = Add(new TMaskEdit(this), "masked", 22);
    masked->setInputMask(QStringLiteral("99:99"));
    list = Add(new TCheckListBox(this), "list", 60);
    for (const char* entry : {"a", "b", "c"}) list->Add(entry);
    date = Add(new TDatePicker(this), "date", 22);
    date->setDate(QDate(2026, 3, 1));
    check = Add(new TCheckBox(this, QStringLiteral("check")), "check", 20);
    ok = Add(new TButton(this, QStringLiteral("OK")), "ok", 25);
    ok->OnClick = [this](QObject* sender) {
      ++clicks;
      lastSender = sender;
    };
    ok->setDefault(design.defaultButton);
    if (design.ownKeys) (new TcsEZKeys(this))->SetNavigationKeys(design.ownKeySet);
    if (design.storedKeys) SetNavigationKeys(design.storedKeySet);
    OnKeyDown = design.onKeyDown;
    OnKeyPress = design.onKeyPress;
  }

  template <class W>
  W* Add(W* w, const char* name, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(5, y_, 200, height);
    y_ += height + 4;
    return w;
  }

  TEdit *edit1, *edit2;
  TMemo* memo;
  TMaskEdit* masked;
  TCheckListBox* list;
  TDatePicker* date;
  TCheckBox* check;
  TButton* ok;
  int clicks = 0;
  QObject* lastSender = nullptr;

 private:
  int y_ = 5;
};

Design WantReturns(bool want) {
  Design d;
  d.wantReturns = want;
  return d;
}

Design WithDefaultButton() {
  Design d;
  d.defaultButton = true;
  return d;
}

std::unique_ptr<NavForm> Open(const Design& design = {}) {
  auto form = CreateForm<NavForm>(design);
  if (!apptest::ShowActive(*form)) qWarning("form not active");
  return form;
}

void FocusOn(QWidget* w) {
  ParentForm(w)->SetActiveControl(w);
}

// Two edits in one panel, two in another: a key the first edit ignores
// travels on to its panel, which the focus has left.
class PanelsForm : public TcsEZForm {
 public:
  PanelsForm() {
    SetFixedClientSize(300, 120);
    for (int p = 0; p < 2; ++p) {
      auto* panel = new QWidget(this);
      panel->setGeometry(0, p * 60, 300, 60);
      for (int e = 0; e < 2; ++e) {
        auto* edit = new TEdit(panel);
        edit->setObjectName(QStringLiteral("e%1%2").arg(p).arg(e));
        edit->setGeometry(5 + e * 120, 5, 100, 22);
      }
    }
  }
};

}  // namespace

class EZFormTest : public QObject {
  Q_OBJECT

 private slots:
  void formWithoutOwnSettingsGetsEveryKey() {
    auto form = Open();
    QCOMPARE(form->NavigationKeys(), kAllNavigationKeys);
    QVERIFY(form->KeyPreview());
    QVERIFY(form->DefaultButton() == nullptr);
  }

  void enterArrowsAndCtrlTabMoveTheFocus() {
    auto form = Open(WantReturns(false));
    FocusOn(form->edit1);
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("memo"));
    QVERIFY(form->memo->toPlainText().isEmpty());
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("edit2"));
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("masked"));
    Press(Qt::Key_Up);
    QCOMPARE(FocusName(), QStringLiteral("edit2"));
    Press(Qt::Key_Up);  // a memo is no single-line edit: Up stays there
    QCOMPARE(FocusName(), QStringLiteral("memo"));
    Press(Qt::Key_Up);
    QCOMPARE(FocusName(), QStringLiteral("memo"));
    Press(Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(FocusName(), QStringLiteral("edit2"));
    Press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(FocusName(), QStringLiteral("memo"));
    // Enter moves on from a check box and wraps around at the end.
    FocusOn(form->check);
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("ok"));
    QCOMPARE(form->clicks, 0);
    FocusOn(form->check);
    form->ok->hide();
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("edit1"));
  }

  void oneKeyMovesTheFocusOnce() {
    auto form = CreateForm<PanelsForm>();
    QVERIFY(apptest::ShowActive(*form));
    FocusOn(form->findChild<TEdit*>(QStringLiteral("e01")));
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("e10"));
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("e11"));
    Press(Qt::Key_Up);
    QCOMPARE(FocusName(), QStringLiteral("e10"));
  }

  void arrowsStayWithListsAndTheDatePicker() {
    auto form = Open();
    FocusOn(form->list);
    form->list->SetItemIndex(0);
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("list"));
    QCOMPARE(form->list->ItemIndex(), 1);
    FocusOn(form->date);
    Press(Qt::Key_Up);
    QCOMPARE(FocusName(), QStringLiteral("date"));
    QVERIFY(form->date->date() != QDate(2026, 3, 1));
  }

  void enterOnAFocusedButtonPressesIt() {
    auto form = Open();
    FocusOn(form->ok);
    Press(Qt::Key_Return);
    QCOMPARE(form->clicks, 1);
    QCOMPARE(FocusName(), QStringLiteral("ok"));
  }

  void memoWithWantReturnsKeepsEnter() {
    auto form = Open(WantReturns(true));
    FocusOn(form->memo);
    Press(Qt::Key_A);
    Press(Qt::Key_Return);
    Press(Qt::Key_B);
    QCOMPARE(FocusName(), QStringLiteral("memo"));
    QCOMPARE(form->memo->toPlainText(), QStringLiteral("a\nb"));
  }

  void defaultButtonFlagFollowsEnterNavigation() {
    auto form = Open(WithDefaultButton());
    QCOMPARE(form->DefaultButton(), form->ok);
    QVERIFY(!form->ok->isDefault());
    FocusOn(form->edit1);
    Press(Qt::Key_Return);  // moves, does not press the button
    QCOMPARE(FocusName(), QStringLiteral("memo"));
    QCOMPARE(form->clicks, 0);

    form->SetNavigationKeys({nkUpDnArrows, nkCtrlTab});
    QVERIFY(form->ok->isDefault());
    FocusOn(form->edit1);
    Press(Qt::Key_Return);  // now Enter presses the Default button
    QCOMPARE(form->clicks, 1);
    QCOMPARE(FocusName(), QStringLiteral("edit1"));
    form->SetNavigationKeys({nkUpDnArrows});  // Enter stays out: flag unchanged
    QVERIFY(form->ok->isDefault());
    form->SetNavigationKeys(kAllNavigationKeys);
    QVERIFY(!form->ok->isDefault());

    form->ClickDefaultButton();
    QCOMPARE(form->clicks, 2);
    QCOMPARE(form->lastSender, form.get());
  }

  void keysStoredInTheDesignAreKept() {
    Design withArrows = WithDefaultButton();
    withArrows.storedKeys = true;
    withArrows.storedKeySet = {nkUpDnArrows};
    auto stored = Open(withArrows);
    QCOMPARE(stored->NavigationKeys(), TNavigationKeys({nkUpDnArrows}));
    QVERIFY(stored->ok->isDefault());
    Design emptySet;
    emptySet.storedKeys = true;
    auto empty = Open(emptySet);
    QCOMPARE(empty->NavigationKeys(), kAllNavigationKeys);
  }

  void ownedKeySetWithOnlyCtrlTab() {
    Design ctrlTabOnly;
    ctrlTabOnly.ownKeys = true;
    ctrlTabOnly.ownKeySet = {nkCtrlTab};
    auto form = Open(ctrlTabOnly);
    QCOMPARE(form->NavigationKeys(), TNavigationKeys({nkCtrlTab}));
    FocusOn(form->edit1);
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("edit1"));
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("edit1"));
    Press(Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(FocusName(), QStringLiteral("memo"));
    Press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(FocusName(), QStringLiteral("edit1"));
    // Ctrl+Shift+Tab from the first control wraps to the last.
    Press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(FocusName(), QStringLiteral("ok"));
  }

  void chainedHandlersRunFirstAndCanCancel() {
    bool cancel = true;
    QStringList seen;
    Design design;
    design.onKeyDown = [&](QObject* sender, TKeyCode& key, TShiftState) {
      seen << QStringLiteral("down %1 at %2 from %3").arg(key).arg(FocusName(), sender->objectName());
      if (cancel && key == vkDown) key = 0;
    };
    design.onKeyPress = [&](QObject*, char& key) { seen << QStringLiteral("press %1").arg(int(key)); };
    auto form = Open(design);
    form->setObjectName(QStringLiteral("form"));
    FocusOn(form->edit1);
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("edit1"));
    cancel = false;
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("memo"));
    FocusOn(form->edit1);
    Press(Qt::Key_A);
    QCOMPARE(form->edit1->text(), QStringLiteral("a"));
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("memo"));
    const QStringList expected{"down 40 at edit1 from form", "down 40 at edit1 from form", "down 65 at edit1 from form",
                               "press 97", "down 13 at edit1 from form", "press 13"};
    QCOMPARE(seen, expected);
  }

  void switchedOffAtCreationLeavesTheFormAlone() {
    EZFormOptions().NavigationEnabled = false;
    auto form = CreateForm<NavForm>(WithDefaultButton());
    EZFormOptions().SetDefaults();
    QVERIFY(!form->KeyPreview());
    QVERIFY(form->ok->isDefault());
    QVERIFY(apptest::ShowActive(*form));
    FocusOn(form->edit1);
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("edit1"));
    Press(Qt::Key_Return);
    QCOMPARE(form->clicks, 1);
  }

  void handlesNavigationKeyByControl() {
    auto form = Open(WantReturns(true));
    QVERIFY(!form->HandlesNavigationKey(nkEnter, form->memo));
    form->memo->SetWantReturns(false);
    QVERIFY(form->HandlesNavigationKey(nkEnter, form->memo));
    QVERIFY(form->HandlesNavigationKey(nkEnter, form->list));
    QVERIFY(form->HandlesNavigationKey(nkUpDnArrows, form->edit1));
    QVERIFY(form->HandlesNavigationKey(nkUpDnArrows, form->masked));
    QVERIFY(!form->HandlesNavigationKey(nkUpDnArrows, form->date));
    QVERIFY(!form->HandlesNavigationKey(nkUpDnArrows, form->list));
    QVERIFY(!form->HandlesNavigationKey(nkUpDnArrows, form->check));
    QVERIFY(form->HandlesNavigationKey(nkCtrlTab, form->check));
    EZFormOptions().NavigationEnabled = false;
    const bool whileOff = form->HandlesNavigationKey(nkCtrlTab, form->check);
    EZFormOptions().SetDefaults();
    QVERIFY(!whileOff);
  }
};

QTEST_MAIN(EZFormTest)
#include "EZFormTest.moc"
