// The window toolkit: the default error display, message boxes, check boxes
// and lists, edits with a key filter, 8-bit texts, tab order and the page
// control.

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <stdexcept>

#include "AppTestSupport.h"
#include "WinToolkit.h"
#include "common/DAErrors.h"
#include "common/RegionalSettings.h"

using namespace app;
using apptest::MessageBoxRecorder;
using apptest::Press;

namespace {

// A bare form with a few controls directly on it.
class FocusForm : public TForm {
 public:
  FocusForm() {
    SetFixedClientSize(300, 200);
    first = Make<TEdit>("first", 2);
    zero = Make<TEdit>("zero", 0);
    hidden = Make<TEdit>("hidden", 1);
    hidden->hide();
    disabled = Make<TEdit>("disabled", 3);
    disabled->setEnabled(false);
    noStop = new TButton(this, QStringLiteral("b"));
    noStop->setObjectName(QStringLiteral("noStop"));
    SetTabOrder(noStop, 4);
    SetTabStop(noStop, false);
    box = new TCheckBox(this, QStringLiteral("c"));
    box->setObjectName(QStringLiteral("box"));
    SetTabOrder(box, 5);
    int y = 0;
    for (QWidget* w : std::initializer_list<QWidget*>{first, zero, hidden, disabled, noStop, box}) {
      w->setGeometry(5, y, 100, 22);
      y += 25;
    }
  }
  template <class T>
  T* Make(const char* name, int order) {
    auto* w = new T(this);
    w->setObjectName(QString::fromLatin1(name));
    SetTabOrder(w, order);
    return w;
  }
  TEdit *first, *zero, *hidden, *disabled;
  TButton* noStop;
  TCheckBox* box;
};

// A form with a page control of three pages.
class PagesForm : public TForm {
 public:
  PagesForm() {
    SetFixedClientSize(300, 200);
    pages = new TPageControl(this);
    pages->setGeometry(0, 0, 300, 200);
    for (int i = 0; i < 3; ++i) {
      auto* page = new TTabSheet;
      page->setObjectName(QStringLiteral("page%1").arg(i));
      pages->AddPage(page);
      auto* later = new TEdit(page);
      later->setObjectName(QStringLiteral("later%1").arg(i));
      later->setGeometry(5, 40, 100, 22);
      SetTabOrder(later, 1);
      auto* firstInOrder = new TEdit(page);
      firstInOrder->setObjectName(QStringLiteral("first%1").arg(i));
      firstInOrder->setGeometry(5, 5, 100, 22);
      SetTabOrder(firstInOrder, 0);
    }
  }
  TPageControl* pages;
};

}  // namespace

class ToolkitTest : public QObject {
  Q_OBJECT

 private slots:
  void defaultErrorText_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("letter") << QByteArray("Lost connection") << QByteArray("Lost connection.");
    QTest::newRow("full stop") << QByteArray("Done.") << QByteArray("Done.");
    QTest::newRow("exclamation") << QByteArray("Erro!") << QByteArray("Erro!");
    QTest::newRow("parenthesis") << QByteArray("code (2013)") << QByteArray("code (2013)");
    QTest::newRow("comma") << QByteArray("a,") << QByteArray("a,");
    QTest::newRow("hyphen") << QByteArray("a-") << QByteArray("a-");
    QTest::newRow("slash") << QByteArray("a/") << QByteArray("a/.");
    QTest::newRow("digit") << QByteArray("port 3306") << QByteArray("port 3306.");
    QTest::newRow("question") << QByteArray("erro?") << QByteArray("erro?.");
    QTest::newRow("high byte") << QByteArray("liga\xe7\xe3") << QByteArray("liga\xe7\xe3.");
    QTest::newRow("empty") << QByteArray() << QByteArray();
  }
  void defaultErrorText() {
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, shown);
    QCOMPARE(QByteArray::fromStdString(DefaultErrorText(message.toStdString())), shown);
  }

  void defaultErrorTextFindsTheLastFarEastCharacter() {
    const std::string message = "ab\x81-";  // a lead byte and its trail byte '-'
    QCOMPARE(DefaultErrorText(message), message);
    da::RegionalSettings farEast;
    for (int b = 0x81; b <= 0x9f; ++b) farEast.leadBytes.set(b);
    da::ScopedRegionalSettings scoped(farEast);
    QCOMPARE(DefaultErrorText(message), message + ".");
  }

  void uncaughtErrorsReachTheDefaultDisplay() {
    MessageBoxRecorder recorder;
    bool after = false;
    RunGuarded([] { throw da::EDatabaseError("Tabela 'taxasiva' inexistente"); });
    after = true;
    QVERIFY(after);
    RunGuarded([] { throw da::EAbort(); });
    RunGuarded([] { throw std::runtime_error("bad"); });
    RunGuarded([] { throw 42; });
    QCOMPARE(recorder.boxes.size(), std::size_t{3});
    const MessageBoxRequest& first = recorder.boxes[0];
    QCOMPARE(first.text, QStringLiteral("Tabela 'taxasiva' inexistente."));
    QCOMPARE(first.caption, QStringLiteral("Agendar IVA"));
    QCOMPARE(first.icon, miStop);
    QCOMPARE(first.buttons, mbOK);
    QCOMPARE(recorder.boxes[1].text, QStringLiteral("bad."));
    QCOMPARE(recorder.boxes[2].text, QStringLiteral("Erro desconhecido."));
  }

  void aFailingClickLeavesTheButtonUsable() {
    MessageBoxRecorder recorder;
    TForm form;
    auto* button = new TButton(&form, QStringLiteral("x"));
    int clicks = 0;
    button->OnClick = [&](QObject* sender) {
      QCOMPARE(sender, button);
      if (++clicks == 1) throw da::EDatabaseError("first");
    };
    button->click();
    button->click();
    QCOMPARE(clicks, 2);
    QCOMPARE(recorder.boxes.size(), std::size_t{1});
    QCOMPARE(recorder.boxes[0].text, QStringLiteral("first."));
  }

  // The real box, answered from inside its own modal loop.
  void realYesNoBoxDefaultsToNo() {
    auto answerWith = [](Qt::Key key, bool clickYes) {
      QTimer::singleShot(0, [key, clickYes] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        QCOMPARE(box->icon(), QMessageBox::Question);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        if (clickYes)
          box->button(QMessageBox::Yes)->click();
        else
          QTest::keyClick(box, key);
      });
    };
    const QString text = QStringLiteral("Tem a certeza que deseja agendar a taxa de IVA?");
    answerWith(Qt::Key_Return, false);
    QCOMPARE(MessageBox(nullptr, text, QStringLiteral("Confirmação"), miQuestion, mbYesNo), mrNo);
    answerWith(Qt::Key_Escape, false);
    QCOMPARE(MessageBox(nullptr, text, QStringLiteral("Confirmação"), miQuestion, mbYesNo), mrNo);
    answerWith(Qt::Key_unknown, true);
    QCOMPARE(MessageBox(nullptr, text, QStringLiteral("Confirmação"), miQuestion, mbYesNo), mrYes);
  }

  void checkBoxRunsItsClickFromCodeAndFromTheUser() {
    TForm form;
    auto* box = new TCheckBox(&form, QStringLiteral("opção"));
    box->setGeometry(0, 0, 100, 20);
    int clicks = 0;
    box->OnClick = [&](QObject*) { ++clicks; };
    box->SetChecked(true);
    QCOMPARE(clicks, 1);
    box->SetChecked(true);  // unchanged: no click
    QCOMPARE(clicks, 1);
    QVERIFY(apptest::ShowActive(form));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, 10));
    QCOMPARE(clicks, 2);
    QVERIFY(!box->Checked());
  }

  void checkListHighlightAndBounds() {
    TForm form;
    auto* list = new TCheckListBox(&form);
    list->setGeometry(0, 0, 200, 100);
    QCOMPARE(list->Add("Loja \xe0 beira"), 0);
    list->Add("Loja 2");
    list->Add("Loja 3");
    QCOMPARE(list->Item(0), std::string("Loja \xe0 beira"));
    QVERIFY(apptest::ShowActive(form));
    list->setFocus();
    // The focus frame on the first entry highlights nothing.
    QCOMPARE(list->ItemIndex(), -1);
    list->SetItemIndex(1);
    QCOMPARE(list->ItemIndex(), 1);
    Press(Qt::Key_Down);
    QCOMPARE(list->ItemIndex(), 2);
    list->SetChecked(2, true);
    QVERIFY(list->Checked(2) && !list->Checked(1));
    list->SetItemIndex(-1);
    QCOMPARE(list->ItemIndex(), -1);
    try {
      list->Checked(3);
      QFAIL("no error");
    } catch (const EListError& e) {
      QCOMPARE(QString::fromStdString(e.Message()), QStringLiteral("List index out of bounds (3)"));
    }
    list->Clear();
    QCOMPARE(list->Count(), 0);
    QCOMPARE(list->ItemIndex(), -1);
  }

  void editFilterSeesTypedCharactersOnly() {
    TForm form;
    auto* edit = new TEdit(&form);
    edit->setGeometry(0, 0, 100, 22);
    edit->setMaxLength(3);
    std::string seen;
    edit->OnKeyPress = [&](QObject*, char& key) {
      seen += key;
      if (key == 'x') key = 'y';
      else if (!(key >= '0' && key <= '9') && key != '\b') key = 0;
    };
    QVERIFY(apptest::ShowActive(form));
    edit->setFocus();
    QTest::keyClicks(edit, "1a2");
    QCOMPARE(edit->text(), QStringLiteral("12"));
    QTest::keyClick(edit, Qt::Key_X);
    QCOMPARE(edit->text(), QStringLiteral("12y"));
    QTest::keyClick(edit, Qt::Key_4);  // beyond the maximum length
    QCOMPARE(edit->text(), QStringLiteral("12y"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("12"));
    QTest::keyClick(edit, Qt::Key_Left);  // no character
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(seen, std::string("1a2x4\b\x16"));
    // Text put in as the context menu's paste does is not filtered.
    edit->clear();
    edit->insert(QStringLiteral("ab"));
    QCOMPARE(edit->text(), QStringLiteral("ab"));
  }

  void textsKeepEveryByte() {
    TForm form;
    auto* label = new TLabel(&form, QString());
    auto* edit = new TEdit(&form);
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    SetText(label, all);
    QCOMPARE(Text(label), all);
    const std::string printable = all.substr(0x1f);
    SetText(edit, printable);
    QCOMPARE(Text(edit), printable);
    QVERIFY_THROWS_EXCEPTION(da::EAssertionFailed, Text(&form));
  }

  void focusMovesInTabOrderOverFocusableTabStops() {
    FocusForm form;
    QVERIFY(apptest::ShowActive(form));
    // The window opens on its first control in tab order.
    QCOMPARE(apptest::FocusName(), QStringLiteral("zero"));
    const QStringList forward{"first", "box", "zero", "first"};
    for (const QString& name : forward) {
      Press(Qt::Key_Tab);
      QCOMPARE(apptest::FocusName(), name);
    }
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(apptest::FocusName(), QStringLiteral("zero"));
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(apptest::FocusName(), QStringLiteral("box"));
    // A control that is no tab stop still takes the focus when clicked.
    QTest::mouseClick(form.noStop, Qt::LeftButton);
    QCOMPARE(apptest::FocusName(), QStringLiteral("noStop"));
    Press(Qt::Key_Tab);
    QCOMPARE(apptest::FocusName(), QStringLiteral("box"));
  }

  void pageChangeShowsEntersAndFocusesTheFirstControl() {
    PagesForm form;
    auto* page1 = form.pages->Page(1);
    int shows = 0, enters = 0, exits = 0;
    page1->OnShow = [&](QObject*) { ++shows; };
    page1->OnEnter = [&](QObject*) { ++enters; };
    page1->OnExit = [&](QObject*) { ++exits; };
    QVERIFY(apptest::ShowActive(form));
    QCOMPARE(apptest::FocusName(), QStringLiteral("first0"));
    ShowPage(form.pages, 1);
    QCOMPARE(form.pages->ActivePageIndex(), 1);
    QCOMPARE(apptest::FocusName(), QStringLiteral("first1"));
    QCOMPARE(shows, 1);
    QCOMPARE(enters, 1);
    QVERIFY(!form.pages->Page(0)->isVisible());
    ShowPage(form.pages, 1);  // already active: nothing
    QCOMPARE(shows, 1);
    ShowPage(form.pages, 0);
    QCOMPARE(exits, 1);
    ShowPage(form.pages, 1);
    QCOMPARE(shows, 2);
    QCOMPARE(enters, 2);
  }

  void failingOnShowStillCompletesThePageChange() {
    PagesForm form;
    form.pages->Page(2)->OnShow = [](QObject*) { throw da::EDatabaseError("down"); };
    QVERIFY(apptest::ShowActive(form));
    QVERIFY_THROWS_EXCEPTION(da::EDatabaseError, ShowPage(form.pages, 2));
    QCOMPARE(form.pages->ActivePageIndex(), 2);
    QVERIFY(!form.pages->Page(0)->isVisible());
    QVERIFY(form.pages->Page(2)->isVisible());
  }

  void ctrlTabSwitchesOnlyToVisibleTabs() {
    PagesForm form;
    QVERIFY(apptest::ShowActive(form));
    Press(Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(form.pages->ActivePageIndex(), 1);
    Press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(form.pages->ActivePageIndex(), 0);
    form.pages->Page(1)->SetTabVisible(false);
    Press(Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(form.pages->ActivePageIndex(), 2);
    for (int i = 0; i < 3; ++i) form.pages->Page(i)->SetTabVisible(false);
    Press(Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(form.pages->ActivePageIndex(), 2);
  }

  void dateFormats_data() {
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QString>("qt");
    QTest::newRow("dd/mm/yyyy") << QByteArray("dd/mm/yyyy") << '/' << "dd'/'MM'/'yyyy";
    QTest::newRow("d-m-yy") << QByteArray("d-m-yy") << '/' << "d'-'M'-'yy";
    QTest::newRow("separator") << QByteArray("dd/mm/yyyy") << '.' << "dd'.'MM'.'yyyy";
    QTest::newRow("quoted") << QByteArray("yyyy'\xc4'm") << '/' << QStringLiteral("yyyy'\u00c4'M");
  }
  void dateFormats() {
    QFETCH(QByteArray, pattern);
    QFETCH(char, separator);
    QFETCH(QString, qt);
    QCOMPARE(QtDateFormat(pattern.toStdString(), separator), qt);
  }

  void timePickerUsesTheRegionalSeparator() {
    da::RegionalSettings dots;
    dots.timeSeparator = '.';
    da::ScopedRegionalSettings scoped(dots);
    TForm form;
    auto* picker = new TTimePicker(&form);
    QCOMPARE(picker->text(), QStringLiteral("00.00.00"));
    picker->SetTime(9, 5, 7);
    QCOMPARE(picker->text(), QStringLiteral("09.05.07"));
  }
};

QTEST_MAIN(ToolkitTest)
#include "ToolkitTest.moc"
