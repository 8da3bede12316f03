// The scheduler's window: every control as the window definition gives it,
// the page flow by mouse and by keyboard, closing from every page, the
// navigation keys on the rate page, the rate page's own handlers, the reset
// on the way back, and a picture of each page.

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QtTest>

#include "AppTestSupport.h"
#include "WinToolkit.h"
#include "WindowFont.h"
#include "_main.h"
#include "common/DAErrors.h"
#include "common/RegionalSettings.h"

using namespace app;
using apptest::Find;
using apptest::FocusName;
using apptest::MessageBoxRecorder;
using apptest::Press;

namespace {

// The window with its database handlers replaced by counters, so that the
// page flow can be followed without a database.
class CountingMain : public Tmain {
 public:
  int discoveries = 0, overviews = 0, schedulings = 0, removals = 0;
  bool failOverview = false;

 protected:
  void tabsoftwareShow(QObject*) override { ++discoveries; }
  void tabagendaShow(QObject*) override {
    ++overviews;
    if (failOverview) throw da::EDatabaseError("Lost connection to MySQL server during query");
  }
  void btalterarClick(QObject*) override { ++schedulings; }
  void btdelClick(QObject*) override { ++removals; }
};

std::unique_ptr<CountingMain> OpenWindow() {
  auto window = CreateForm<CountingMain>();
  if (!apptest::ShowActive(*window)) qWarning("window not active");
  return window;
}

TPageControl* Pages(QWidget* w) { return Find<TPageControl>(w, "pcontrol"); }
int ActivePage(QWidget* w) { return Pages(w)->ActivePageIndex(); }

void Click(QWidget* w, const char* name) {
  auto* button = Find<QAbstractButton>(w, name);
  QVERIFY2(button != nullptr && button->isVisible(), name);
  QTest::mouseClick(button, Qt::LeftButton);
}

// What a successful store discovery leaves on the stores page.
void PretendDiscovery(QWidget* w) {
  auto* lista = Find<TCheckListBox>(w, "lista");
  lista->Clear();
  lista->Add(std::string(50 - 9, ' ').insert(0, "Loja Sede") + " (A1B2C3)");
  lista->Add("Loja Centro");
  lista->Add("Loja Norte");
  lista->SetItemIndex(0);
  for (const char* name : {"lista", "btall", "btnone", "btnext1", "btag1"}) Find<QWidget>(w, name)->show();
  Find<QWidget>(w, "msg1")->hide();
}

enum Kind { kLabel, kEdit, kCheck, kCheckList, kButton, kCancel, kHelp, kDate, kTime, kPicture, kHidden };

bool IsKind(QWidget* w, Kind kind) {
  switch (kind) {
    case kLabel: return dynamic_cast<TLabel*>(w) != nullptr;
    case kEdit: return dynamic_cast<TEdit*>(w) != nullptr;
    case kCheck: return dynamic_cast<TCheckBox*>(w) != nullptr;
    case kCheckList: return dynamic_cast<TCheckListBox*>(w) != nullptr;
    case kButton: {
      auto* b = dynamic_cast<TBitBtn*>(w);
      return b != nullptr && b->Kind() == bkCustom && !b->Cancel() && !b->icon().isNull();
    }
    case kCancel: {
      auto* b = dynamic_cast<TBitBtn*>(w);
      return b != nullptr && b->Kind() == bkCancel && b->Cancel() && !b->icon().isNull();
    }
    case kHelp: {
      auto* b = dynamic_cast<TBitBtn*>(w);
      return b != nullptr && b->Kind() == bkHelp && !b->icon().isNull();
    }
    case kDate: return dynamic_cast<TDatePicker*>(w) != nullptr;
    case kTime: return dynamic_cast<TTimePicker*>(w) != nullptr;
    case kPicture: return dynamic_cast<TImage*>(w) != nullptr;
    case kHidden: return dynamic_cast<THiddenList*>(w) != nullptr;
  }
  return false;
}

constexpr int kAuto = -1;   // size follows the caption
constexpr int kRight = -2;  // x is the right edge

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  // Every test's window is gone with the test.
  void cleanup() {
    for (QWidget* top : QApplication::topLevelWidgets()) QVERIFY2(!top->isVisible(), qPrintable(top->objectName()));
  }

  void windowAsDefined() {
    auto window = OpenWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Agendar IVA"));
    QCOMPARE(window->size(), QSize(566, 393));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint) && !(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(window->NavigationKeys(), kAllNavigationKeys);
    QVERIFY(window->KeyPreview());
    QCOMPARE(window->font().pointSize(), 8);
    if (QFile::exists(QString::fromLatin1(kTahomaPath))) QCOMPARE(QFontInfo(window->font()).family(), QStringLiteral("Tahoma"));

    TPageControl* pages = Pages(window.get());
    QCOMPARE(pages->geometry(), QRect(-1, 87, 576, 310));
    const QStringList names{"tabcondicoes", "tabsoftware", "tabexec", "tabconcluido", "tabagenda"};
    QCOMPARE(pages->PageCount(), 5);
    for (int i = 0; i < 5; ++i) {
      QCOMPARE(pages->Page(i)->objectName(), names[i]);
      QVERIFY(!pages->Page(i)->TabVisible());
    }

    QCOMPARE(Find<QWidget>(window.get(), "cabecalho")->geometry(), QRect(0, 0, 572, 90));
    QCOMPARE(Find<QWidget>(window.get(), "gradiente")->geometry(), QRect(0, 0, 572, 70));
    QCOMPARE(Find<QWidget>(window.get(), "faixa")->geometry(), QRect(0, 70, 572, 20));
    QCOMPARE(Find<QWidget>(window.get(), "faixa")->palette().color(QPalette::Window), QColor(255, 128, 0));
    auto* title = Find<TLabel>(window.get(), "lbtitulo");
    QCOMPARE(title->text(), QStringLiteral("Morvane"));
    QCOMPARE(title->pos(), QPoint(22, 22));
    QCOMPARE(title->font().pointSize(), 20);
    QCOMPARE(QFontInfo(title->font()).pixelSize(), 27);
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(Qt::white));
    auto* description = Find<TLabel>(window.get(), "lbdescricao");
    QCOMPARE(description->text(), QStringLiteral("Ferramenta para agendar alteração de taxas de IVA"));
    QCOMPARE(description->pos(), QPoint(22, 73));
    auto* logo = Find<TImage>(window.get(), "Image1");
    QCOMPARE(logo->geometry(), QRect(499, 12, 60, 48));
    QCOMPARE(logo->pixmap().size(), QSize(60, 48));
    QVERIFY(logo->pixmap().hasAlphaChannel());
    QCOMPARE(Find<TImage>(window.get(), "Image2")->pixmap().size(), QSize(48, 48));
    for (QWidget* w : Find<QWidget>(window.get(), "cabecalho")->findChildren<QWidget*>())
      QCOMPARE(w->focusPolicy(), Qt::NoFocus);
  }

  void controlsAsDefined_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("where");  // width kAuto: sized to the caption; x kRight: right edge
    QTest::addColumn<int>("right");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("tabOrder");  // -1: none, -2: no tab stop
    auto row = [](const char* name, const char* page, Kind kind, const QString& text, QRect where, bool visible,
                  int tabOrder, int right = 0) {
      QTest::newRow(name) << QString::fromLatin1(page) << int(kind) << text << where << right << visible << tabOrder;
    };
    const char* p0 = "tabcondicoes";
    row("Label1", p0, kLabel,
        QStringLiteral("Este utilitário permite a alteração da taxa de IVA indicada, assim como a substituição dessa "
                       "taxa em todos os produtos.\r\nA sua utilização incorrecta poderá provocar cálculos incorrectos "
                       "nos preços e nos documentos."),
        {84, 40, 387, 56}, true, -1);
    row("Label2", p0, kLabel,
        QStringLiteral("É da inteira responsabilidade do utilizador a utilização desta ferramenta sem o apoio dos "
                       "técnicos da Morvane ou de um parceiro autorizado. Não poderão ser imputados à Morvane ou a um "
                       "parceiro autorizado quaisquer danos resultantes do uso indevido desta aplicação."),
        {84, 104, 387, 56}, true, -1);
    row("Label3", p0, kLabel,
        QStringLiteral("Antes de executar esta aplicação deverá efectuar uma cópia de segurança, podendo ser o único "
                       "meio de reverter as alterações."),
        {84, 175, 387, 28}, true, -1);
    row("btaceito", p0, kButton, QStringLiteral("Li e aceito as condições"), {94, 256, 201, 33}, true, 0);
    row("btnaoaceito", p0, kCancel, QStringLiteral("Não concordo"), {302, 256, 161, 33}, true, 1);

    const char* p1 = "tabsoftware";
    row("lista", p1, kCheckList, QString(), {3, 3, 553, 247}, false, 0);
    row("msg1", p1, kLabel, QString(), {19, 71, 537, 42}, false, -1);
    row("btall", p1, kButton, QStringLiteral("Marcar\r\nTodos"), {4, 256, 84, 41}, false, 1);
    row("btnone", p1, kButton, QStringLiteral("Descmarcar\r\ntodos"), {93, 256, 84, 41}, false, 2);
    row("btag1", p1, kButton, QStringLiteral("Ver agendamentos"), {182, 256, 138, 41}, false, 3);
    row("btnext1", p1, kButton, QStringLiteral("Continuar"), {325, 256, 138, 41}, false, 4);
    row("btsair1", p1, kCancel, QStringLiteral("Sair"), {469, 256, 88, 41}, true, 5);
    row("basedados", p1, kHidden, QString(), {}, false, -1);
    row("Hosts", p1, kHidden, QString(), {}, false, -1);
    row("oldtaxa", p1, kHidden, QString(), {}, false, -1);

    const char* p2 = "tabexec";
    const QRect autoSize(0, 0, kAuto, kAuto);
    row("Label5", p2, kLabel, QStringLiteral("Taxa existente"), {kRight, 16, kAuto, kAuto}, true, -1, 187);
    row("anterior", p2, kEdit, QString(), {201, 13, 23, 21}, true, 0);
    row("Label8", p2, kLabel, QStringLiteral("%"), {227, 16, kAuto, kAuto}, true, -1);
    row("Label6", p2, kLabel, QStringLiteral("Alterar para"), {kRight, 40, kAuto, kAuto}, true, -1, 187);
    row("nova", p2, kEdit, QString(), {201, 37, 23, 21}, true, 1);
    row("Label9", p2, kLabel, QStringLiteral("%"), {227, 40, kAuto, kAuto}, true, -1);
    row("Label10", p2, kLabel, QStringLiteral("Nova descrição"), {250, 40, kAuto, kAuto}, true, -1);
    row("descricao", p2, kEdit, QString(), {329, 37, 142, 21}, true, 2);
    row("Label7", p2, kLabel, QStringLiteral("Opções"), {kRight, 65, kAuto, kAuto}, true, -1, 187);
    row("opnovataxa", p2, kCheck, QStringLiteral("Não eliminar a taxa actual (criar nova)"), {201, 64, 208, 17}, true, 3);
    row("opvenda", p2, kCheck, QStringLiteral("Actualizar os preços de venda"), {201, 88, 171, 17}, true, 4);
    row("oparredondar", p2, kCheck, QStringLiteral("Arredondar novos preços"), {201, 111, 139, 17}, false, 5);
    row("lbcasas", p2, kLabel, QStringLiteral("Arredondamento"), {kRight, 139, kAuto, kAuto}, false, -1, 187);
    row("casas", p2, kEdit, QStringLiteral("1"), {201, 136, 23, 21}, false, 6);
    row("txtcasas", p2, kLabel, QStringLiteral("casas decimais"), {227, 139, kAuto, kAuto}, false, -1);
    row("btajuda", p2, kHelp, QStringLiteral("O que é isto?"), {311, 134, 98, 25}, false, -2);
    row("Label4", p2, kLabel, QStringLiteral("Dia"), {kRight, 171, kAuto, kAuto}, true, -1, 187);
    row("data", p2, kDate, QString(), {201, 168, 104, 21}, true, 7);
    row("Label13", p2, kLabel, QStringLiteral("Às"), {kRight, 203, kAuto, kAuto}, true, -1, 187);
    const QString sep = QString(QChar::fromLatin1(da::Regional().timeSeparator));
    row("hora", p2, kTime, QStringLiteral("00") + sep + QStringLiteral("00") + sep + QStringLiteral("00"),
        {201, 200, 104, 21}, true, 8);
    row("BitBtn1", p2, kButton, QStringLiteral("Bases de Dados"), {1, 256, 120, 41}, true, 11);
    row("BitBtn3", p2, kButton, QStringLiteral("Ver agendamentos"), {182, 256, 138, 41}, true, 13);
    row("btalterar", p2, kButton, QStringLiteral("Agendar"), {325, 256, 138, 41}, true, 9);
    row("BitBtn2", p2, kCancel, QStringLiteral("Sair"), {469, 256, 88, 41}, true, 10);
    (void)autoSize;

    const char* p3 = "tabconcluido";
    row("Image2", p3, kPicture, QString(), {256, 27, 48, 48}, true, -1);
    row("Label11", p3, kLabel,
        QStringLiteral("Agendamento efectuado com sucesso.\r\nSerá executado a partir do dia e hora indicada e poderá "
                       "levar algum tempo.\r\nAs novas taxas e valores poderão levar algum tempo a sincronizar para as "
                       "lojas. Se o servidor estiver desligado, a sincronização só se iniciará após este estar ligado."),
        {72, 82, 417, 127}, true, -1);
    row("btinicio", p3, kButton, QStringLiteral("Bases de Dados"), {1, 256, 120, 41}, true, 1);
    row("btagendados", p3, kButton, QStringLiteral("Ver agendamentos"), {182, 256, 138, 41}, true, 2);
    row("fechar", p3, kCancel, QStringLiteral("Sair"), {469, 256, 88, 41}, true, 0);

    const char* p4 = "tabagenda";
    row("lista2", p4, kCheckList, QString(), {3, 3, 553, 247}, true, 2);
    row("msg2", p4, kLabel, QStringLiteral("Aguarde por favor, a carregar a lista"), {19, 71, 526, 42}, true, -1);
    row("BitBtn4", p4, kButton, QStringLiteral("Bases de Dados"), {1, 256, 120, 41}, true, 0);
    row("btdel", p4, kButton, QStringLiteral("Remover\r\nSeleccionados"), {213, 256, 123, 41}, true, 3);
    row("BitBtn5", p4, kCancel, QStringLiteral("Sair"), {469, 256, 88, 41}, true, 1);
  }
  void controlsAsDefined() {
    QFETCH(QString, page);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QRect, where);
    QFETCH(int, right);
    QFETCH(bool, visible);
    QFETCH(int, tabOrder);
    auto window = CreateForm<Tmain>();
    auto* w = window->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w != nullptr);
    QCOMPARE(w->parentWidget()->objectName(), page);
    QVERIFY(IsKind(w, Kind(kind)));
    if (Kind(kind) == kTime) QCOMPARE(static_cast<QTimeEdit*>(w)->text(), text);
    else if (Kind(kind) != kDate && Kind(kind) != kCheckList && Kind(kind) != kHidden && Kind(kind) != kPicture)
      QCOMPARE(Caption(w), text);
    if (Kind(kind) != kHidden) {
      if (where.x() == kRight) QCOMPARE(w->x() + w->width(), right);
      else QCOMPARE(w->x(), where.x());
      QCOMPARE(w->y(), where.y());
      if (where.width() != kAuto) QCOMPARE(w->size(), where.size());
      else QCOMPARE(w->size(), w->sizeHint());
    }
    QCOMPARE(!w->isHidden(), visible);
    if (tabOrder >= 0) {
      QCOMPARE(TabOrder(w), tabOrder);
      QVERIFY(TabStop(w));
    } else if (tabOrder == -2) {
      QVERIFY(!TabStop(w));
    } else {
      QCOMPARE(w->focusPolicy(), Qt::NoFocus);
    }
  }

  void labelStylesAndLayers() {
    auto window = CreateForm<Tmain>();
    for (const char* name : {"Label3", "Label5", "Label6", "Label7", "lbcasas", "Label4", "Label13"})
      QVERIFY2(Find<TLabel>(window.get(), name)->font().bold(), name);
    for (const char* name : {"Label1", "Label2", "Label8", "Label10", "Label11", "msg1", "msg2"})
      QVERIFY2(!Find<TLabel>(window.get(), name)->font().bold(), name);
    QCOMPARE(Find<TLabel>(window.get(), "Label3")->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(Find<TLabel>(window.get(), "Label1")->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(Find<TLabel>(window.get(), "Label11")->font().pointSize(), 9);
    QVERIFY(Find<TLabel>(window.get(), "Label11")->alignment() & Qt::AlignHCenter);
    QVERIFY(Find<TLabel>(window.get(), "Label1")->wordWrap());
    // msg1 and msg2 lie under their lists.
    for (auto [label, list] : {std::pair{"msg1", "lista"}, std::pair{"msg2", "lista2"}}) {
      QWidget* l = Find<QWidget>(window.get(), label);
      const QObjectList& siblings = l->parentWidget()->children();
      QVERIFY(siblings.indexOf(l) < siblings.indexOf(Find<QWidget>(window.get(), list)));
    }
  }

  void startsOnTheConditionsPage() {
    auto window = OpenWindow();
    QCOMPARE(ActivePage(window.get()), 0);
    QCOMPARE(FocusName(), QStringLiteral("btaceito"));
    QCOMPARE(window->DiscoveryStatus(), std::string("Nenhum"));
  }

  void pageFlowByClicking() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    Click(w, "btaceito");
    QCOMPARE(ActivePage(w), 1);
    QCOMPARE(window->discoveries, 1);
    PretendDiscovery(w);
    Find<TCheckListBox>(w, "lista")->SetItemIndex(-1);
    Click(w, "btnext1");  // nothing highlighted: nothing happens
    QCOMPARE(ActivePage(w), 1);
    Find<TCheckListBox>(w, "lista")->SetItemIndex(2);
    Click(w, "btnext1");
    QCOMPARE(ActivePage(w), 2);
    QCOMPARE(FocusName(), QStringLiteral("anterior"));
    Click(w, "btalterar");
    QCOMPARE(window->schedulings, 1);
    Click(w, "BitBtn1");
    QCOMPARE(ActivePage(w), 1);
    QCOMPARE(window->discoveries, 2);
    PretendDiscovery(w);
    Click(w, "btag1");
    QCOMPARE(ActivePage(w), 4);
    QCOMPARE(window->overviews, 1);
    Click(w, "btdel");
    QCOMPARE(window->removals, 1);
    Click(w, "BitBtn4");
    QCOMPARE(ActivePage(w), 1);
    QCOMPARE(window->discoveries, 3);
    PretendDiscovery(w);
    Click(w, "btnext1");
    Click(w, "BitBtn3");
    QCOMPARE(ActivePage(w), 4);
    QCOMPARE(window->overviews, 2);
    // The completion page, as scheduling ends.
    ShowPage(Pages(w), 3);
    Click(w, "btagendados");
    QCOMPARE(ActivePage(w), 4);
    ShowPage(Pages(w), 3);
    Click(w, "btinicio");
    QCOMPARE(ActivePage(w), 1);
    QCOMPARE(window->discoveries, 4);
    QCOMPARE(window->overviews, 3);
  }

  void pageFlowByKeyboard() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    Press(Qt::Key_Return);  // on "Li e aceito as condições"
    QCOMPARE(ActivePage(w), 1);
    QCOMPARE(FocusName(), QStringLiteral("btsair1"));
    PretendDiscovery(w);
    SetFocus(Find<QWidget>(w, "btnext1"));
    Press(Qt::Key_Return);
    QCOMPARE(ActivePage(w), 2);
    QCOMPARE(FocusName(), QStringLiteral("anterior"));
    Press(Qt::Key_Backtab, Qt::ShiftModifier);  // wraps to the last control
    QCOMPARE(FocusName(), QStringLiteral("BitBtn3"));
    Press(Qt::Key_Return);
    QCOMPARE(ActivePage(w), 4);
    QCOMPARE(FocusName(), QStringLiteral("BitBtn4"));
    Press(Qt::Key_Tab);
    Press(Qt::Key_Tab);
    QCOMPARE(FocusName(), QStringLiteral("lista2"));
    Press(Qt::Key_Tab);
    QCOMPARE(FocusName(), QStringLiteral("btdel"));
    Press(Qt::Key_Return);
    QCOMPARE(window->removals, 1);
    Press(Qt::Key_Tab);
    QCOMPARE(FocusName(), QStringLiteral("BitBtn4"));
    Press(Qt::Key_Space);
    QCOMPARE(ActivePage(w), 1);
    PretendDiscovery(w);
    SetFocus(Find<QWidget>(w, "btag1"));
    Press(Qt::Key_Return);
    QCOMPARE(ActivePage(w), 4);
    // The completion page, as scheduling ends: its first control is "Sair".
    ShowPage(Pages(w), 3);
    QCOMPARE(FocusName(), QStringLiteral("fechar"));
    Press(Qt::Key_Tab);
    Press(Qt::Key_Tab);
    QCOMPARE(FocusName(), QStringLiteral("btagendados"));
    Press(Qt::Key_Return);
    QCOMPARE(ActivePage(w), 4);
    ShowPage(Pages(w), 3);
    Press(Qt::Key_Tab);
    QCOMPARE(FocusName(), QStringLiteral("btinicio"));
    Press(Qt::Key_Return);
    QCOMPARE(ActivePage(w), 1);
    PretendDiscovery(w);
    SetFocus(Find<QWidget>(w, "btnext1"));
    Press(Qt::Key_Return);
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(FocusName(), QStringLiteral("BitBtn1"));
    Press(Qt::Key_Return);
    QCOMPARE(ActivePage(w), 1);
    QCOMPARE(window->discoveries, 4);
  }

  void closingFromEveryPage_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("how");
    const char* buttons[] = {"btnaoaceito", "btsair1", "BitBtn2", "fechar", "BitBtn5"};
    for (int page = 0; page < 5; ++page) {
      QTest::addRow("page %d, %s", page, buttons[page]) << page << QString::fromLatin1(buttons[page]);
      QTest::addRow("page %d, Esc", page) << page << QStringLiteral("Esc");
      QTest::addRow("page %d, close box", page) << page << QStringLiteral("close box");
    }
  }
  void closingFromEveryPage() {
    QFETCH(int, page);
    QFETCH(QString, how);
    auto window = OpenWindow();
    if (page > 0) ShowPage(Pages(window.get()), page);
    if (how == QStringLiteral("Esc")) Press(Qt::Key_Escape);
    else if (how == QStringLiteral("close box")) window->close();
    else Click(window.get(), how.toLatin1().constData());
    // Closed, as the main window whose closing ends the message loop.
    QVERIFY(!window->isVisible());
    QVERIFY(window->testAttribute(Qt::WA_QuitOnClose));
    if (page == 0) QCOMPARE(window->discoveries + window->overviews, 0);
  }

  void ctrlTabDoesNothing() {
    auto window = OpenWindow();
    ShowPage(Pages(window.get()), 2);
    QCOMPARE(FocusName(), QStringLiteral("anterior"));
    Press(Qt::Key_Tab, Qt::ControlModifier);
    Press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(ActivePage(window.get()), 2);
    QCOMPARE(FocusName(), QStringLiteral("anterior"));
  }

  void ratePageNavigation() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    auto* hora = Find<TTimePicker>(w, "hora");
    hora->SetTime(10, 0, 0);
    ShowPage(Pages(w), 2);
    QCOMPARE(FocusName(), QStringLiteral("anterior"));
    Press(Qt::Key_Up);  // wraps back to the last control
    QCOMPARE(FocusName(), QStringLiteral("BitBtn3"));
    SetFocus(Find<QWidget>(w, "anterior"));
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("nova"));
    Press(Qt::Key_6);
    Press(Qt::Key_Down);  // leaving nova writes the description
    QCOMPARE(FocusName(), QStringLiteral("descricao"));
    QCOMPARE(Text(Find<QWidget>(w, "descricao")), std::string("6%"));
    Press(Qt::Key_Up);
    QCOMPARE(FocusName(), QStringLiteral("nova"));
    Press(Qt::Key_Return);
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("opnovataxa"));
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("opvenda"));
    Press(Qt::Key_Return);  // the rounding inputs are hidden
    QCOMPARE(FocusName(), QStringLiteral("data"));
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("hora"));
    Press(Qt::Key_Down);  // moves on, and the picker still steps its hours
    QCOMPARE(FocusName(), QStringLiteral("btalterar"));
    QCOMPARE(hora->time(), QTime(9, 0, 0));
    Press(Qt::Key_Return);
    QCOMPARE(window->schedulings, 1);
    QCOMPARE(ActivePage(w), 2);
  }

  void rateFieldsTakeDigitsOnly() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    ShowPage(Pages(w), 2);
    auto* opvenda = Find<TCheckBox>(w, "opvenda");
    opvenda->SetChecked(true);
    Find<TCheckBox>(w, "oparredondar")->SetChecked(true);
    for (const char* name : {"anterior", "nova", "casas"}) {
      auto* edit = Find<TEdit>(w, name);
      SetFocus(edit);
      edit->selectAll();
      QTest::keyClicks(edit, QStringLiteral("a1-,b 2x"));
      QCOMPARE(edit->text(), QStringLiteral("12"));
      QTest::keyClick(edit, Qt::Key_9);  // at most 2 characters
      QCOMPARE(edit->text(), QStringLiteral("12"));
      QTest::keyClick(edit, Qt::Key_Backspace);
      QCOMPARE(edit->text(), QStringLiteral("1"));
    }
    auto* descricao = Find<TEdit>(w, "descricao");
    QCOMPARE(descricao->maxLength(), 50);
    SetFocus(descricao);
    QTest::keyClicks(descricao, QStringLiteral("Taxa reduzida 6,5%"));
    QCOMPARE(descricao->text(), QStringLiteral("Taxa reduzida 6,5%"));
  }

  void leavingNovaOverwritesTheDescription() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    ShowPage(Pages(w), 2);
    auto* descricao = Find<TEdit>(w, "descricao");
    SetText(descricao, "Taxa interm\xe9" "dia");
    SetFocus(Find<QWidget>(w, "nova"));
    Press(Qt::Key_Tab);
    QCOMPARE(Text(descricao), std::string("%"));
    SetFocus(Find<QWidget>(w, "nova"));
    Press(Qt::Key_6);
    QTest::mouseClick(Find<QWidget>(w, "anterior"), Qt::LeftButton);
    QCOMPARE(Text(descricao), std::string("6%"));
  }

  void enteringTheRatePageSetsTomorrow() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    auto* data = Find<TDatePicker>(w, "data");
    data->SetDate(da::EncodeDate(2020, 1, 1));
    const da::TDateTime before = da::Today();
    ShowPage(Pages(w), 2);
    const da::TDateTime after = da::Today();
    QVERIFY(data->Date() == Tomorrow(before) || data->Date() == Tomorrow(after));
    QVERIFY(Find<QWidget>(w, "opvenda")->isVisible());
  }

  void optionVisibilityChain() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    ShowPage(Pages(w), 2);
    auto visible = [&](const char* name) { return Find<QWidget>(w, name)->isVisible(); };
    auto* opvenda = Find<TCheckBox>(w, "opvenda");
    auto* oparredondar = Find<TCheckBox>(w, "oparredondar");
    QTest::mouseClick(opvenda, Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(visible("oparredondar"));
    QVERIFY(!visible("casas") && !visible("btajuda"));
    QTest::mouseClick(oparredondar, Qt::LeftButton, {}, QPoint(6, 8));
    for (const char* name : {"lbcasas", "casas", "txtcasas", "btajuda"}) QVERIFY2(visible(name), name);
    QTest::mouseClick(oparredondar, Qt::LeftButton, {}, QPoint(6, 8));
    for (const char* name : {"lbcasas", "casas", "txtcasas", "btajuda"}) QVERIFY2(!visible(name), name);
    QVERIFY(visible("oparredondar"));
    oparredondar->SetChecked(true);
    QVERIFY(visible("btajuda"));
    // Unchecking "Actualizar" unchecks and hides everything below it.
    QTest::mouseClick(opvenda, Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(!oparredondar->Checked());
    for (const char* name : {"oparredondar", "lbcasas", "casas", "txtcasas", "btajuda"}) QVERIFY2(!visible(name), name);
    // Checking it from code shows the option too.
    opvenda->SetChecked(true);
    QVERIFY(visible("oparredondar"));
  }

  void helpBox() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    ShowPage(Pages(w), 2);
    Find<TCheckBox>(w, "opvenda")->SetChecked(true);
    Find<TCheckBox>(w, "oparredondar")->SetChecked(true);
    MessageBoxRecorder recorder;
    Click(w, "btajuda");
    QCOMPARE(recorder.boxes.size(), std::size_t{1});
    const MessageBoxRequest& box = recorder.boxes[0];
    QCOMPARE(box.caption, QStringLiteral("Ajuda"));
    QCOMPARE(box.icon, miInformation);
    QCOMPARE(box.buttons, mbOK);
    QCOMPARE(box.text,
             QStringLiteral("Se arredondar a 1 casa decimal, um produto com o preço de 1,33€ ficará a 1,30€. Mas se o "
                            "preço for 1,37€ ficará a 1,40€.\nSe arredondar a 2 casas decimais um produto que tenha um "
                            "novo preço de 1,333€ ficará a 1,33€. Mas se o preço for 1,337€ ficará a 1,34€"));
  }

  void wayBackResetsSomeInputs_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("reset");
    QTest::newRow("rate page") << 2 << "BitBtn1" << false;
    QTest::newRow("completion page") << 3 << "btinicio" << true;
    QTest::newRow("overview page") << 4 << "BitBtn4" << true;
  }
  void wayBackResetsSomeInputs() {
    QFETCH(int, from);
    QFETCH(QString, button);
    QFETCH(bool, reset);
    auto window = OpenWindow();
    QWidget* w = window.get();
    ShowPage(Pages(w), 2);
    SetText(Find<QWidget>(w, "anterior"), "23");
    SetText(Find<QWidget>(w, "nova"), "22");
    SetText(Find<QWidget>(w, "descricao"), "Nova taxa");
    for (const char* name : {"opnovataxa", "opvenda", "oparredondar"}) Find<TCheckBox>(w, name)->SetChecked(true);
    SetText(Find<QWidget>(w, "casas"), "3");
    Find<TTimePicker>(w, "hora")->SetTime(14, 30, 15);
    ShowPage(Pages(w), from);
    Click(w, button.toLatin1().constData());
    QCOMPARE(ActivePage(w), 1);

    const RatePageInputs inputs = window->ReadRatePage();
    QCOMPARE(inputs.anterior, std::string("23"));
    QCOMPARE(inputs.nova, std::string("22"));
    QCOMPARE(inputs.casas, std::string("3"));
    QCOMPARE((QTime(inputs.hour, inputs.minute, inputs.second)), QTime(14, 30, 15));
    QCOMPARE(inputs.descricao, reset ? std::string() : std::string("Nova taxa"));
    QCOMPARE(inputs.opnovataxa, !reset);
    QCOMPARE(inputs.opvenda, !reset);
    QCOMPARE(inputs.oparredondar, !reset);
    for (const char* name : {"oparredondar", "lbcasas", "casas", "txtcasas", "btajuda"})
      QVERIFY2(Find<QWidget>(w, name)->isHidden() == reset, name);
  }

  void ratePageReadsWithFallbacks() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    ShowPage(Pages(w), 2);
    SetText(Find<QWidget>(w, "casas"), "");
    Find<TDatePicker>(w, "data")->SetDate(da::EncodeDate(2026, 3, 1));
    Find<TTimePicker>(w, "hora")->SetTime(6, 7, 8);
    const RateChange change = ReadRateChange(window->ReadRatePage());
    QCOMPARE(change.oldRate, 13);
    QCOMPARE(change.newRate, 23);
    QCOMPARE(change.description, std::string("%"));
    QCOMPARE(change.decimalPlaces, 2);
    QCOMPARE(da::DecodeDateTime(change.moment), (da::DateTimeParts{2026, 3, 1, 6, 7, 8, 0}));
  }

  void markAllAndNone() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    Click(w, "btaceito");
    PretendDiscovery(w);
    auto* lista = Find<TCheckListBox>(w, "lista");
    lista->SetChecked(1, true);
    Click(w, "btall");
    for (int i = 0; i < lista->Count(); ++i) QVERIFY(lista->Checked(i));
    Click(w, "btnone");
    for (int i = 0; i < lista->Count(); ++i) QVERIFY(!lista->Checked(i));
    QCOMPARE(lista->ItemIndex(), 0);
    // The arrows move the highlight in the list, not the focus.
    SetFocus(lista);
    Press(Qt::Key_Down);
    QCOMPARE(FocusName(), QStringLiteral("lista"));
    QCOMPARE(lista->ItemIndex(), 1);
  }

  void anUncaughtErrorLeavesTheWindowUsable() {
    auto window = OpenWindow();
    QWidget* w = window.get();
    window->failOverview = true;
    MessageBoxRecorder recorder;
    ShowPage(Pages(w), 2);
    Click(w, "BitBtn3");
    QCOMPARE(recorder.boxes.size(), std::size_t{1});
    QCOMPARE(recorder.boxes[0].text, QStringLiteral("Lost connection to MySQL server during query."));
    QCOMPARE(recorder.boxes[0].caption, QStringLiteral("Agendar IVA"));
    QCOMPARE(recorder.boxes[0].icon, miStop);
    QCOMPARE(ActivePage(w), 4);
    QVERIFY(window->isVisible());
    Click(w, "BitBtn4");
    QCOMPARE(ActivePage(w), 1);
  }

  void fontFallsBackToSansSerif() {
    QCOMPARE(LoadFontFamily(QStringLiteral("/nonexistent/tahoma.ttf")),
             QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
  }

  // Pictures of the pages, written for people to look at.
  void pagesAsPictures() {
    const QString folder = QStringLiteral(APP_PAGES_DIR);
    QVERIFY(QDir().mkpath(folder));
    auto window = OpenWindow();
    QWidget* w = window.get();
    auto save = [&](const QString& name) {
      const QImage image = w->grab().toImage();
      QCOMPARE(image.size(), QSize(566, 393));
      QVERIFY(image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png")));
    };
    for (int page = 0; page < 5; ++page) {
      ShowPage(Pages(w), page);
      save(QStringLiteral("page%1").arg(page));
    }
    ShowPage(Pages(w), 1);
    PretendDiscovery(w);
    Find<TCheckListBox>(w, "lista")->SetChecked(1, true);
    save(QStringLiteral("page1-stores"));
    ShowPage(Pages(w), 2);
    SetText(Find<QWidget>(w, "anterior"), "23");
    SetText(Find<QWidget>(w, "nova"), "22");
    SetText(Find<QWidget>(w, "descricao"), "22%");
    Find<TCheckBox>(w, "opvenda")->SetChecked(true);
    Find<TCheckBox>(w, "oparredondar")->SetChecked(true);
    save(QStringLiteral("page2-rounding"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
