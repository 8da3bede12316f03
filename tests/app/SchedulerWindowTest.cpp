// The window on its data, against the throwaway server: store discovery,
// scheduling, the overview and removal, driven as a user would (clicks and
// keys), with the rows checked afterwards through the stock client library.
// Also: unreachable servers, an unreadable identity, NULLs where the tool
// needs text, accented names in Windows-1252, and the way to the server cut
// in the middle of a scheduling run.

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "AppTestSupport.h"
#include "DbTestSupport.h"
#include "ScriptedServer.h"
#include "WinToolkit.h"
#include "_main.h"
#include "common/RegionalSettings.h"
#include "components/MyAccess.h"

using namespace app;
using apptest::Find;
using apptest::FocusName;
using apptest::MessageBoxRecorder;
using apptest::PeerDb;
using apptest::SchedulerDatabases;

namespace {

constexpr const char* kCompany = "Padaria S\xe3o Jo\xe3o";  // 15 characters

InstallationIdentity Identity(const std::string& company = kCompany,
                              const std::string& serial = SchedulerDatabases::kSerial) {
  return {company, serial};
}

std::unique_ptr<Tmain> OpenWindow(const testsupport::TestServerInfo& server, const std::string& centralDatabase,
                                  int port, const InstallationIdentity& identity) {
  auto window = CreateForm<Tmain>();
  window->SetDeployment({server.host, port, centralDatabase, server.user, server.password, {}});
  window->SetIdentitySource([identity](InstallationIdentity& out, std::string&) {
    out = identity;
    return true;
  });
  if (!apptest::ShowActive(*window)) qWarning("window not active");
  return window;
}

void Click(QWidget* w, const char* name) {
  auto* button = Find<QAbstractButton>(w, name);
  QVERIFY2(button != nullptr && button->isVisible(), name);
  QTest::mouseClick(button, Qt::LeftButton);
}

int ActivePage(QWidget* w) { return Find<TPageControl>(w, "pcontrol")->ActivePageIndex(); }

std::vector<std::string> Entries(QWidget* w, const char* list) {
  auto* l = Find<TCheckListBox>(w, list);
  std::vector<std::string> items;
  for (int i = 0; i < l->Count(); ++i) items.push_back(l->Item(i));
  return items;
}

std::vector<bool> Marks(QWidget* w, const char* list) {
  auto* l = Find<TCheckListBox>(w, list);
  std::vector<bool> marks;
  for (int i = 0; i < l->Count(); ++i) marks.push_back(l->Checked(i));
  return marks;
}

std::vector<std::string> Hidden(QWidget* w, const char* list) {
  auto* l = Find<THiddenList>(w, list);
  std::vector<std::string> items;
  for (int i = 0; i < l->Count(); ++i) items.push_back(l->Item(i));
  return items;
}

std::string Padded(const std::string& company, const std::string& serial) {
  std::string entry = company.substr(0, 50);
  entry.resize(50, ' ');
  return entry + " (" + serial + ")";
}

// Types into a control as the keyboard would, after selecting its text.
void TypeInto(QWidget* w, const char* name, const QString& text) {
  auto* edit = Find<QLineEdit>(w, name);
  SetFocus(edit);
  edit->selectAll();
  if (text.isEmpty()) QTest::keyClick(edit, Qt::Key_Delete);
  for (QChar c : text) {
    if (c.unicode() < 0x80) {
      QTest::keyClick(edit, c.toLatin1());
    } else {
      // Keys beyond ASCII, as a keyboard with accented letters types them.
      QTest::sendKeyEvent(QTest::Press, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
      QTest::sendKeyEvent(QTest::Release, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
  }
}

// A listening socket that never accepts: the connection opens and the
// greeting never comes.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 8);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

PeerDb::Row Row(std::initializer_list<std::optional<std::string>> values) { return PeerDb::Row(values); }

QString Describe(const std::vector<PeerDb::Row>& rows) {
  QString out;
  for (const auto& row : rows) {
    QStringList cells;
    for (const auto& cell : row) cells << (cell ? QString::fromLatin1(cell->c_str()) : QStringLiteral("NULL"));
    out += cells.join(QStringLiteral(" | ")) + QLatin1Char('\n');
  }
  return out;
}

#define COMPARE_ROWS(actual, expected)                                                                  \
  do {                                                                                                  \
    const auto a_ = (actual);                                                                           \
    const auto e_ = (expected);                                                                         \
    QVERIFY2(a_ == e_, qPrintable(QStringLiteral("rows:\n") + Describe(a_) + QStringLiteral("expected:\n") + \
                                   Describe(e_)));                                                      \
  } while (false)

std::string DateIn(int days) { return QDate::currentDate().addDays(days).toString(QStringLiteral("yyyy-MM-dd")).toStdString(); }

}  // namespace

class SchedulerWindowTest : public QObject {
  Q_OBJECT

  const testsupport::TestServerInfo* server_ = nullptr;
  int case_ = 0;

  // The databases of the running test, with a name of their own.
  std::unique_ptr<SchedulerDatabases> Databases() {
    return std::make_unique<SchedulerDatabases>(*server_, std::to_string(::getpid()) + "_" + std::to_string(++case_));
  }

  std::unique_ptr<Tmain> Window(const SchedulerDatabases& dbs, const InstallationIdentity& identity = Identity()) {
    return OpenWindow(*server_, dbs.central(), server_->port, identity);
  }

  // Goes to the stores page (which runs discovery) and on to the rate page.
  void ToRatePage(Tmain& window) {
    Click(&window, "btaceito");
    QCOMPARE(ActivePage(&window), 1);
    Click(&window, "btnext1");
    QCOMPARE(ActivePage(&window), 2);
  }

 private slots:
  void initTestCase() {
    server_ = testsupport::FindTestServer();
    if (server_ == nullptr) {
      if (testsupport::ServerRequired()) QFAIL("the throwaway test server is not running");
      QSKIP("no test server (run the tests through ctest)");
    }
  }

  void cleanup() {
    for (QWidget* top : QApplication::topLevelWidgets()) QVERIFY2(!top->isVisible(), qPrintable(top->objectName()));
  }

  // --- store discovery ---------------------------------------------------------

  void discoveryListsTheStores() {
    auto dbs = Databases();
    dbs->AddPartner("Loja Norte", "127.0.0.1", " loja_norte ");
    dbs->AddPartner(" Loja Centro ", "\t10.0.0.2 ", "loja_centro");
    dbs->AddPartner("Loja \xc9vora", "10.0.0.3", "loja_evora");
    dbs->AddPartner("Loja Porto", "10.0.0.4", "loja_porto");
    // The customer's own store: an executed row still pre-marks.
    dbs->AddScheduled("127.0.0.1", dbs->customer(), "Sede", 23, 22, "2020-01-01 00:00:00", 1);
    dbs->AddScheduled("127.0.0.1", "loja_norte", "Loja Norte", 13, 12, std::nullopt);
    // Another store on another host, and a row of the same database elsewhere.
    dbs->AddScheduled("10.9.9.9", "loja_porto", "Outra", 23, 22, std::nullopt);
    MessageBoxRecorder boxes;
    auto window = Window(*dbs);
    QWidget* w = window.get();
    Click(w, "btaceito");

    QVERIFY2(boxes.boxes.empty(), boxes.boxes.empty() ? "" : qPrintable(boxes.boxes[0].text));
    const std::vector<std::string> expected{Padded(kCompany, "SERIAL-1"), " Loja Centro ", "Loja \xc9vora",
                                            "Loja Norte", "Loja Porto"};
    QCOMPARE(Entries(w, "lista"), expected);
    QCOMPARE(Find<TCheckListBox>(w, "lista")->item(2)->text(), QStringLiteral("Loja Évora"));
    QCOMPARE(Marks(w, "lista"), (std::vector<bool>{true, false, false, true, false}));
    QCOMPARE(Hidden(w, "basedados"),
             (std::vector<std::string>{dbs->customer(), "loja_centro", "loja_evora", "loja_norte", "loja_porto"}));
    QCOMPARE(Hidden(w, "Hosts"),
             (std::vector<std::string>{"127.0.0.1", "10.0.0.2", "10.0.0.3", "127.0.0.1", "10.0.0.4"}));
    QCOMPARE(Find<TCheckListBox>(w, "lista")->ItemIndex(), 0);
    for (const char* name : {"lista", "btall", "btnone", "btnext1", "btag1"})
      QVERIFY2(Find<QWidget>(w, name)->isVisible(), name);
    QVERIFY(!Find<QWidget>(w, "msg1")->isVisible());
    QCOMPARE(FocusName(), QStringLiteral("btnext1"));
    QVERIFY(window->DiscoveryStatus() != "Nenhum");
    const SchedulerDatabase& db = window->Database();
    QVERIFY(db.cn->Connected());
    QCOMPARE(db.cn->Server(), std::string("127.0.0.1"));
    QCOMPARE(db.cn->Database(), dbs->customer());
    QVERIFY(!db.cnlic->Connected());

    // Every visit recomputes the marks from the database.
    Find<TCheckListBox>(w, "lista")->SetChecked(1, true);
    Find<TCheckListBox>(w, "lista")->SetChecked(0, false);
    dbs->db().Exec("DELETE FROM " + dbs->central() + ".taxasiva WHERE basedados = 'loja_norte'");
    Click(w, "btnext1");
    Click(w, "BitBtn1");
    QCOMPARE(ActivePage(w), 1);
    QCOMPARE(Marks(w, "lista"), (std::vector<bool>{true, false, false, false, false}));
  }

  // The identity is asked for after the page's waiting text and before any
  // database work: by then the text must be on the screen.
  void waitingTextIsPaintedBeforeTheDatabaseWork() {
    auto dbs = Databases();
    MessageBoxRecorder boxes;
    auto window = Window(*dbs);
    auto* msg1 = Find<TLabel>(window.get(), "msg1");
    struct PaintCounter : QObject {
      int paints = 0;
      bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
      }
    } counter;
    msg1->installEventFilter(&counter);
    QString shownText;
    int paintsBefore = -1;
    window->SetIdentitySource([&](InstallationIdentity& identity, std::string&) {
      shownText = msg1->isVisible() ? msg1->text() : QString();
      paintsBefore = counter.paints;
      identity = Identity();
      return true;
    });
    Click(window.get(), "btaceito");
    QCOMPARE(shownText, QStringLiteral("Aguarde por favor, a criar a lista..."));
    QVERIFY(paintsBefore > 0);
    QCOMPARE(Find<TCheckListBox>(window.get(), "lista")->Count(), 1);
    msg1->removeEventFilter(&counter);
  }

  void ownStoreEntry_data() {
    QTest::addColumn<QByteArray>("company");
    const QByteArray fifty("Supermercados Reunidos do Norte e Centro, SA 12345");
    QTest::newRow("10 characters") << QByteArray("Loja Sede.");
    QTest::newRow("50 characters") << fifty;
    QTest::newRow("51 characters") << (fifty + "Z");
  }
  void ownStoreEntry() {
    QFETCH(QByteArray, company);
    auto dbs = Databases();
    MessageBoxRecorder boxes;
    auto window = Window(*dbs, Identity(company.toStdString()));
    Click(window.get(), "btaceito");
    const std::string expected = company.size() == 10
                                     ? std::string("Loja Sede.") + std::string(40, ' ') + " (SERIAL-1)"
                                     : std::string("Supermercados Reunidos do Norte e Centro, SA 12345 (SERIAL-1)");
    QCOMPARE(Entries(window.get(), "lista"), std::vector<std::string>{expected});
    QCOMPARE(Marks(window.get(), "lista"), std::vector<bool>{false});
    QVERIFY(boxes.boxes.empty());
  }

  void unknownSerialEndsInTheListingError() {
    auto dbs = Databases();
    MessageBoxRecorder boxes;
    auto window = Window(*dbs, Identity(kCompany, "NAO-EXISTE"));
    QWidget* w = window.get();
    Click(w, "btaceito");
    QCOMPARE(boxes.boxes.size(), std::size_t{1});
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Base de dados Talvero não acessível!"));
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Aviso"));
    QCOMPARE(boxes.boxes[0].icon, miStop);
    QCOMPARE(window->DiscoveryStatus(), std::string("Nenhum"));
    QCOMPARE(Caption(Find<QWidget>(w, "msg1")), NoStoreListText());
    QVERIFY(Find<QWidget>(w, "msg1")->isVisible());
    for (const char* name : {"lista", "btall", "btnone", "btnext1", "btag1"})
      QVERIFY2(!Find<QWidget>(w, name)->isVisible(), name);
    // cn was pointed at an empty host and database.
    QCOMPARE(window->Database().cn->Server(), std::string());
    QCOMPARE(window->Database().cn->Database(), std::string());
    Click(w, "btsair1");
    QVERIFY(!window->isVisible());
  }

  void partnerWithNullHostOrDatabase_data() {
    QTest::addColumn<bool>("nullHost");
    QTest::newRow("host") << true;
    QTest::newRow("database") << false;
  }
  void partnerWithNullHostOrDatabase() {
    QFETCH(bool, nullHost);
    auto dbs = Databases();
    dbs->AddPartner("Loja A", "10.0.0.1", "loja_a");
    if (nullHost) dbs->AddPartner("Loja B", std::nullopt, "loja_b");
    else dbs->AddPartner("Loja B", "10.0.0.2", std::nullopt);
    dbs->AddPartner("Loja C", "10.0.0.3", "loja_c");
    MessageBoxRecorder boxes;
    auto window = Window(*dbs);
    QWidget* w = window.get();
    Click(w, "btaceito");
    QCOMPARE(boxes.boxes.size(), std::size_t{1});
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Base de dados Talvero não acessível!"));
    QCOMPARE(window->DiscoveryStatus(), std::string("Nenhum"));
    QVERIFY(!Find<QWidget>(w, "lista")->isVisible());
    QCOMPARE(Caption(Find<QWidget>(w, "msg1")), NoStoreListText());
    // The stores before it stay in the hidden lists, aligned.
    QCOMPARE(Entries(w, "lista"), (std::vector<std::string>{Padded(kCompany, "SERIAL-1"), "Loja A"}));
    QCOMPARE(Hidden(w, "Hosts"), (std::vector<std::string>{"127.0.0.1", "10.0.0.1"}));
    QCOMPARE(Hidden(w, "basedados"), (std::vector<std::string>{dbs->customer(), "loja_a"}));
  }

  // As installed: the deployment file names the server, the account and
  // the identity file (Windows-1252).
  void deploymentAndIdentityFiles() {
    auto dbs = Databases();
    QTemporaryDir dir;
    auto write = [&](const char* name, const std::string& bytes) {
      const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
      std::ofstream(path, std::ios::binary) << bytes;
      return path;
    };
    const std::string identity =
        write("identidade.conf", std::string("empresa=") + kCompany + "\r\nserial=SERIAL-1\r\n");
    const std::string deployment =
        write("agendaiva.conf", "servidor=" + server_->host + "\r\nporta=" + std::to_string(server_->port) +
                                    "\r\nbasedados=" + dbs->central() + "\r\nutilizador=" + server_->user +
                                    "\r\npalavrapasse=" + server_->password + "\r\nidentidade=" + identity + "\r\n");
    MessageBoxRecorder boxes;
    auto window = CreateForm<Tmain>();
    window->UseDeploymentFile(deployment);
    apptest::ShowActive(*window);
    Click(window.get(), "btaceito");
    QVERIFY(boxes.boxes.empty());
    QCOMPARE(Entries(window.get(), "lista"), std::vector<std::string>{Padded(kCompany, "SERIAL-1")});
    QCOMPARE(window->Database().cn->Database(), dbs->customer());
  }

  void unusableDeploymentFileFailsTheLookup() {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("agendaiva.conf")).toStdString();
    std::ofstream(path, std::ios::binary) << "porta=33o6\r\n";
    MessageBoxRecorder boxes;
    auto window = CreateForm<Tmain>();
    window->UseDeploymentFile(path);
    window->SetIdentitySource([](InstallationIdentity& identity, std::string&) {
      identity = Identity();
      return true;
    });
    apptest::ShowActive(*window);
    Click(window.get(), "btaceito");
    QCOMPARE(boxes.boxes.size(), std::size_t{1});
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Falha na ligação à base de dados!"));
    QVERIFY(!window->Database().cnlic->Connected());
    QCOMPARE(window->DiscoveryStatus(), std::string("Nenhum"));
  }

  void identityUnreadableTouchesNoDatabase() {
    MessageBoxRecorder boxes;
    // Nothing listens there: any attempt to connect would show a box.
    auto window = OpenWindow(*server_, "agendaiva", testsupport::UnusedPort(), Identity());
    window->SetIdentitySource([](InstallationIdentity&, std::string& error) {
      error = "no file";
      return false;
    });
    QWidget* w = window.get();
    Click(w, "btaceito");
    QVERIFY(boxes.boxes.empty());
    QCOMPARE(Caption(Find<QWidget>(w, "msg1")), IdentityUnreadableText());
    QVERIFY(Find<QWidget>(w, "msg1")->isVisible());
    QVERIFY(!Find<QWidget>(w, "lista")->isVisible());
    QCOMPARE(window->DiscoveryStatus(), std::string("Nenhum"));
    QVERIFY(!window->Database().cnlic->Connected() && !window->Database().cn->Connected());
  }

  void identityFileMissing() {
    MessageBoxRecorder boxes;
    auto window = CreateForm<Tmain>();
    window->SetDeployment({"127.0.0.1", testsupport::UnusedPort(), "agendaiva", "x", "x", "/nonexistent/identidade"});
    apptest::ShowActive(*window);
    Click(window.get(), "btaceito");
    QVERIFY(boxes.boxes.empty());
    QCOMPARE(Caption(Find<QWidget>(window.get(), "msg1")), IdentityUnreadableText());
  }

  void unreachableCentralServer_data() {
    QTest::addColumn<bool>("silent");
    QTest::newRow("refused") << false;
    QTest::newRow("no answer") << true;
  }
  void unreachableCentralServer() {
    QFETCH(bool, silent);
    SilentListener listener;
    const int port = silent ? listener.port() : testsupport::UnusedPort();
    MessageBoxRecorder boxes;
    auto window = OpenWindow(*server_, "agendaiva", port, Identity());
    QWidget* w = window.get();
    QElapsedTimer clock;
    clock.start();
    Click(w, "btaceito");
    // Within the connection time-out of 15 seconds, and some room for a
    // loaded machine.
    QVERIFY2(clock.elapsed() < 25000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(boxes.boxes.size(), std::size_t{1});
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Falha na ligação à base de dados!"));
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Aviso"));
    QCOMPARE(boxes.boxes[0].icon, miStop);
    QCOMPARE(Caption(Find<QWidget>(w, "msg1")), NoStoreListText());
    QVERIFY(!Find<QWidget>(w, "btnext1")->isVisible());
    // Still usable: Esc closes it.
    apptest::Press(Qt::Key_Escape);
    QVERIFY(!window->isVisible());
  }

  // --- scheduling --------------------------------------------------------------

  void scheduleWritesEveryColumn() {
    auto dbs = Databases();
    dbs->AddPartner("Loja \xc9vora", "10.0.0.3", "loja_evora");
    dbs->AddPartner("Loja Norte", "10.0.0.4", "loja_norte");
    dbs->AddPartner("Loja Porto", "10.0.0.5", "loja_porto");
    dbs->AddScheduled("10.0.0.4", "loja_norte", "Loja Norte antiga", 23, 21, "2030-01-01 00:00:00");
    dbs->AddScheduled("10.0.0.4", "loja_norte", "Loja Norte", 13, 12, "2030-01-01 00:00:00");
    MessageBoxRecorder boxes(mrYes);
    auto window = Window(*dbs);
    QWidget* w = window.get();
    Click(w, "btaceito");
    auto* lista = Find<TCheckListBox>(w, "lista");
    lista->SetChecked(0, true);
    lista->SetChecked(1, true);
    lista->SetChecked(2, true);  // pre-marked already
    lista->SetChecked(3, false);
    Click(w, "btnext1");
    TypeInto(w, "anterior", QStringLiteral("23"));
    TypeInto(w, "nova", QStringLiteral("22"));
    apptest::Press(Qt::Key_Return);  // leaving nova writes "22%"
    QCOMPARE(FocusName(), QStringLiteral("descricao"));
    QCOMPARE(Text(Find<QWidget>(w, "descricao")), std::string("22%"));
    TypeInto(w, "descricao", QStringLiteral("Taxa intermédia"));
    QTest::mouseClick(Find<QWidget>(w, "opnovataxa"), Qt::LeftButton, {}, QPoint(6, 8));
    QTest::mouseClick(Find<QWidget>(w, "opvenda"), Qt::LeftButton, {}, QPoint(6, 8));
    QTest::mouseClick(Find<QWidget>(w, "oparredondar"), Qt::LeftButton, {}, QPoint(6, 8));
    TypeInto(w, "casas", QStringLiteral("3"));
    Find<TDatePicker>(w, "data")->SetDate(da::Today() + 10);
    Find<TTimePicker>(w, "hora")->SetTime(14, 30, 15);
    Click(w, "btalterar");

    QCOMPARE(boxes.boxes.size(), std::size_t{1});
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Tem a certeza que deseja agendar a taxa de IVA?"));
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Confirmação"));
    QCOMPARE(boxes.boxes[0].icon, miQuestion);
    QCOMPARE(boxes.boxes[0].buttons, mbYesNo);
    QCOMPARE(ActivePage(w), 3);
    QVERIFY(!window->Database().cnlic->Connected());
    QVERIFY(window->Database().cn->Connected());

    const std::string when = DateIn(10) + " 14:30:15";
    const std::string own = Padded(kCompany, "SERIAL-1");
    COMPARE_ROWS(dbs->Scheduled(),
                 (std::vector<PeerDb::Row>{
                     Row({"10.0.0.3", "loja_evora", "Loja \xc9vora", "1", "0", "1", "Taxa interm\xe9" "dia", "1", "3",
                          "23", "22", when, "0", std::nullopt, std::nullopt}),
                     Row({"10.0.0.4", "loja_norte", "Loja Norte", "1", "0", "0", "12%", "0", "2", "13", "12",
                          "2030-01-01 00:00:00", "0", std::nullopt, std::nullopt}),
                     Row({"10.0.0.4", "loja_norte", "Loja Norte", "1", "0", "1", "Taxa interm\xe9" "dia", "1", "3",
                          "23", "22", when, "0", std::nullopt, std::nullopt}),
                     Row({"127.0.0.1", dbs->customer(), own, "1", "0", "1", "Taxa interm\xe9" "dia", "1", "3", "23",
                          "22", when, "0", std::nullopt, std::nullopt}),
                 }));
    // Windows-1252 bytes in the table, not UTF-8.
    QCOMPARE(dbs->db().Scalar("SELECT HEX(cliente) FROM " + dbs->central() + ".taxasiva WHERE basedados='loja_evora'"),
             std::string("4C6F6A6120C9766F7261"));
  }

  void reschedulingLeavesOneRowPerStoreAndOldRate() {
    auto dbs = Databases();
    dbs->AddPartner("Loja Norte", "10.0.0.4", "loja_norte");
    MessageBoxRecorder boxes(mrYes);
    auto window = Window(*dbs);
    QWidget* w = window.get();
    ToRatePage(*window);
    Find<TCheckListBox>(w, "lista")->SetChecked(0, true);
    Find<TCheckListBox>(w, "lista")->SetChecked(1, true);
    SetText(Find<QWidget>(w, "anterior"), "23");
    SetText(Find<QWidget>(w, "nova"), "22");
    Click(w, "btalterar");
    QCOMPARE(ActivePage(w), 3);
    // Again, from the completion page, with another new rate and time.
    Click(w, "btinicio");
    Click(w, "btnext1");
    SetText(Find<QWidget>(w, "nova"), "21");
    Find<TTimePicker>(w, "hora")->SetTime(8, 0, 1);
    Click(w, "btalterar");
    QCOMPARE(ActivePage(w), 3);
    const std::string when = DateIn(1) + " 08:00:01";
    COMPARE_ROWS(dbs->db().Rows("SELECT servidor, basedados, anterior, nova, datahora, descricaoiva FROM " +
                                dbs->central() + ".taxasiva ORDER BY servidor"),
                 (std::vector<PeerDb::Row>{Row({"10.0.0.4", "loja_norte", "23", "21", when, "21%"}),
                                           Row({"127.0.0.1", dbs->customer(), "23", "21", when, "21%"})}));
  }

  void emptyInputsTakeTheFallbacks() {
    auto dbs = Databases();
    MessageBoxRecorder boxes(mrYes);
    auto window = Window(*dbs);
    QWidget* w = window.get();
    ToRatePage(*window);
    Find<TCheckListBox>(w, "lista")->SetChecked(0, true);
    SetText(Find<QWidget>(w, "casas"), "");  // hidden: not checked, written as 2
    Click(w, "btalterar");
    QCOMPARE(ActivePage(w), 3);
    COMPARE_ROWS(dbs->db().Rows("SELECT anterior, nova, descricaoiva, casasdecimais, opvenda, oparredondar, "
                                "opnovataxa, datahora FROM " +
                                dbs->central() + ".taxasiva"),
                 (std::vector<PeerDb::Row>{Row({"13", "23", "%", "2", "0", "0", "0", DateIn(1) + " 00:00:00"})}));
  }

  void refusedRunsWriteNothing_data() {
    QTest::addColumn<QString>("casas");  // "-": rounding unchecked
    QTest::addColumn<int>("days");      // the date, from today
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    const QString date = QStringLiteral("A Data e Hora agendadas são inválidas!");
    const QString places = QStringLiteral("O número de casas de arredondamento deve estar compreendido entre \"1\" e \"3\"!");
    const QString sure = QStringLiteral("Tem a certeza que deseja agendar a taxa de IVA?");
    QTest::newRow("yesterday") << QStringLiteral("-") << -1 << int(mrYes) << date << QStringLiteral("data");
    QTest::newRow("today at midnight") << QStringLiteral("-") << 0 << int(mrYes) << date << QStringLiteral("data");
    QTest::newRow("0 places") << QStringLiteral("0") << 1 << int(mrYes) << places << QStringLiteral("casas");
    QTest::newRow("4 places") << QStringLiteral("4") << 1 << int(mrYes) << places << QStringLiteral("casas");
    QTest::newRow("no places") << QString() << 1 << int(mrYes) << places << QStringLiteral("casas");
    QTest::newRow("answer No") << QStringLiteral("2") << 1 << int(mrNo) << sure << QStringLiteral("btalterar");
  }
  void refusedRunsWriteNothing() {
    QFETCH(QString, casas);
    QFETCH(int, days);
    QFETCH(int, answer);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    auto dbs = Databases();
    MessageBoxRecorder boxes(static_cast<TModalResult>(answer));
    auto window = Window(*dbs);
    QWidget* w = window.get();
    ToRatePage(*window);
    Find<TCheckListBox>(w, "lista")->SetChecked(0, true);
    if (casas != QStringLiteral("-")) {
      Find<TCheckBox>(w, "opvenda")->SetChecked(true);
      Find<TCheckBox>(w, "oparredondar")->SetChecked(true);
      TypeInto(w, "casas", casas);
    }
    Find<TDatePicker>(w, "data")->SetDate(da::Today() + days);
    Click(w, "btalterar");
    QCOMPARE(boxes.boxes.size(), std::size_t{1});
    QCOMPARE(boxes.boxes[0].text, message);
    if (answer == mrYes) {
      QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Erro"));
      QCOMPARE(boxes.boxes[0].icon, miStop);
    }
    QCOMPARE(ActivePage(w), 2);
    QCOMPARE(FocusName(), focus);
    QCOMPARE(dbs->db().Scalar("SELECT COUNT(*) FROM " + dbs->central() + ".taxasiva"), std::string("0"));
  }

  void noStoreCheckedWritesNothing() {
    auto dbs = Databases();
    dbs->AddPartner("Loja Norte", "10.0.0.4", "loja_norte");
    MessageBoxRecorder boxes(mrYes);
    auto window = Window(*dbs);
    QWidget* w = window.get();
    Click(w, "btaceito");
    Click(w, "btnone");
    Click(w, "btnext1");
    Click(w, "btalterar");
    QCOMPARE(ActivePage(w), 3);
    QCOMPARE(dbs->db().Scalar("SELECT COUNT(*) FROM " + dbs->central() + ".taxasiva"), std::string("0"));
  }

  // The way to the server is cut while the INSERT of the twelfth store is
  // on its way: the error reaches the default display, the stores done
  // before stay written, no store has lost its earlier row, and the retry
  // leaves one row per store and old rate.
  void cutInTheMiddleOfARun() {
    constexpr int kPartners = 30;
    auto dbs = Databases();
    std::vector<std::string> databases{dbs->customer()};
    dbs->AddScheduled("127.0.0.1", dbs->customer(), "antiga", 23, 21, "2030-01-01 00:00:00");
    for (int i = 1; i <= kPartners; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "Loja %02d", i);
      const std::string database = "loja_" + std::to_string(i);
      dbs->AddPartner(name, "127.0.0.1", database);
      dbs->AddScheduled("127.0.0.1", database, "antiga", 23, 21, "2030-01-01 00:00:00");
    }
    apptest::CutProxy proxy(server_->port);
    MessageBoxRecorder boxes(mrYes);
    auto window = OpenWindow(*server_, dbs->central(), proxy.port(), Identity());
    QWidget* w = window.get();
    Click(w, "btaceito");
    QCOMPARE(Find<TCheckListBox>(w, "lista")->Count(), kPartners + 1);
    Click(w, "btall");
    Click(w, "btnext1");
    SetText(Find<QWidget>(w, "anterior"), "23");
    SetText(Find<QWidget>(w, "nova"), "22");
    proxy.CutAtCommand("INSERT INTO taxasiva", 12);
    Click(w, "btalterar");

    QCOMPARE(proxy.Seen(), 11);
    QCOMPARE(boxes.boxes.size(), std::size_t{2});  // the confirmation, then the error
    QCOMPARE(boxes.boxes[1].caption, QStringLiteral("Agendar IVA"));
    QCOMPARE(boxes.boxes[1].icon, miStop);
    QVERIFY(!boxes.boxes[1].text.isEmpty());
    QCOMPARE(ActivePage(w), 2);
    const std::string perStore = "SELECT basedados, COUNT(*), MIN(nova), MAX(nova) FROM " + dbs->central() +
                                 ".taxasiva WHERE anterior = 23 GROUP BY servidor, basedados";
    auto rows = dbs->db().Rows(perStore);
    QCOMPARE(int(rows.size()), kPartners + 1);  // no store without its row
    int written = 0;
    for (const auto& row : rows) {
      QCOMPARE(*row[1], std::string("1"));
      if (*row[2] == "22") ++written;
      else QCOMPARE(*row[2], std::string("21"));
    }
    QCOMPARE(written, 11);

    proxy.Restore();
    boxes.boxes.clear();
    Click(w, "btalterar");
    QVERIFY2(boxes.boxes.size() == 1, boxes.boxes.size() > 1 ? qPrintable(boxes.boxes[1].text) : "");
    QCOMPARE(ActivePage(w), 3);
    rows = dbs->db().Rows(perStore);
    QCOMPARE(int(rows.size()), kPartners + 1);
    for (const auto& row : rows) {
      QCOMPARE(*row[1], std::string("1"));
      QCOMPARE(*row[2], std::string("22"));
    }
  }

  // The server refuses the INSERT of the third store on a live session: its
  // DELETE is rolled back with it, so that store keeps its earlier row; the
  // stores before it are written, and the retry, once the server accepts
  // the row, leaves one row per store.
  void refusedInsertKeepsTheStoresEarlierRow() {
    auto dbs = Databases();
    dbs->AddScheduled("127.0.0.1", dbs->customer(), "antiga", 23, 21, "2030-01-01 00:00:00");
    for (int i = 1; i <= 3; ++i) {
      const std::string database = "loja_r" + std::to_string(i);
      dbs->AddPartner("Loja R" + std::to_string(i), "127.0.0.1", database);
      dbs->AddScheduled("127.0.0.1", database, "antiga", 23, 21, "2030-01-01 00:00:00");
    }
    const std::string trigger = dbs->central() + ".recusa";
    dbs->db().Exec("CREATE TRIGGER " + trigger + " BEFORE INSERT ON " + dbs->central() +
                   ".taxasiva FOR EACH ROW IF NEW.basedados = 'loja_r2' THEN "
                   "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'recusada'; END IF");
    MessageBoxRecorder boxes(mrYes);
    auto window = Window(*dbs);
    QWidget* w = window.get();
    Click(w, "btaceito");
    QCOMPARE(Find<TCheckListBox>(w, "lista")->Count(), 4);
    Click(w, "btall");
    Click(w, "btnext1");
    SetText(Find<QWidget>(w, "anterior"), "23");
    SetText(Find<QWidget>(w, "nova"), "22");
    Click(w, "btalterar");

    QCOMPARE(boxes.boxes.size(), std::size_t{2});  // the confirmation, then the error
    QVERIFY2(boxes.boxes[1].text.contains(QStringLiteral("recusada")), qPrintable(boxes.boxes[1].text));
    QCOMPARE(ActivePage(w), 2);
    const std::string perStore = "SELECT basedados, COUNT(*), MIN(nova) FROM " + dbs->central() +
                                 ".taxasiva WHERE anterior = 23 GROUP BY basedados ORDER BY basedados";
    std::map<std::string, std::string> rate;
    for (const auto& row : dbs->db().Rows(perStore)) {
      QCOMPARE(*row[1], std::string("1"));
      rate[*row[0]] = *row[2];
    }
    QCOMPARE(int(rate.size()), 4);  // no store without its row
    QCOMPARE(rate["loja_r2"], std::string("21"));  // the refused store kept its earlier row
    int written = 0;
    for (const auto& [database, nova] : rate) written += nova == "22";
    QVERIFY(written >= 1);

    dbs->db().Exec("DROP TRIGGER " + trigger);
    boxes.boxes.clear();
    Click(w, "btalterar");
    QCOMPARE(boxes.boxes.size(), std::size_t{1});
    QCOMPARE(ActivePage(w), 3);
    for (const auto& row : dbs->db().Rows(perStore)) {
      QCOMPARE(*row[1], std::string("1"));
      QCOMPARE(*row[2], std::string("22"));
    }
  }

  // --- overview and removal ------------------------------------------------------

  void overviewListsEveryRowOfTheStores() {
    da::RegionalSettings regional;
    regional.shortDateFormat = "dd/mm/yyyy";
    regional.dateSeparator = '-';
    regional.longTimeFormat = "hh:nn:ss";
    regional.timeSeparator = ':';
    da::ScopedRegionalSettings scoped(regional);
    auto dbs = Databases();
    dbs->AddPartner("Loja \xc9vora", " 10.0.0.3 ", "loja_evora ");
    dbs->AddPartner("Loja Antiga", "10.0.0.9", "loja_antiga");
    dbs->AddScheduled("127.0.0.1", dbs->customer(), "Sede", 23, 22, "2026-03-01 00:00:00");
    dbs->AddScheduled("127.0.0.1", dbs->customer(), "Sede", 6, 5, std::nullopt, 1);  // executed, no date
    dbs->AddScheduled("10.0.0.3", "loja_evora", "Loja \xc9vora", 13, 12, "2027-12-31 23:59:58");
    dbs->AddScheduled("10.0.0.9", "loja_antiga", "Loja Antiga", 23, 22, "2026-03-01 00:00:00");
    dbs->AddScheduled("10.0.0.7", "outra", "Outra", 23, 22, "2026-03-01 00:00:00");
    MessageBoxRecorder boxes;
    auto window = Window(*dbs);
    QWidget* w = window.get();
    Click(w, "btaceito");
    // A partner gone from parceiros: its rows stay, unlisted.
    dbs->db().Exec("DELETE FROM " + dbs->customer() + ".parceiros WHERE nome = 'Loja Antiga'");
    Click(w, "btag1");
    QCOMPARE(ActivePage(w), 4);
    QVERIFY(boxes.boxes.empty());
    QCOMPARE(Entries(w, "lista2"), (std::vector<std::string>{"[6%->5% 30-12-1899 00:00:00] Sede",
                                                             "[23%->22% 01-03-2026 00:00:00] Sede",
                                                             "[13%->12% 31-12-2027 23:59:58] Loja \xc9vora"}));
    QCOMPARE(Marks(w, "lista2"), (std::vector<bool>{false, false, false}));
    QCOMPARE(Hidden(w, "basedados"), (std::vector<std::string>{dbs->customer(), dbs->customer(), "loja_evora"}));
    QCOMPARE(Hidden(w, "Hosts"), (std::vector<std::string>{"127.0.0.1", "127.0.0.1", "10.0.0.3"}));
    QCOMPARE(Hidden(w, "oldtaxa"), (std::vector<std::string>{"6", "23", "13"}));
    QVERIFY(Find<QWidget>(w, "lista2")->isVisible());
    QVERIFY(!window->Database().cn->Connected() && !window->Database().cnlic->Connected());

    // Removal: only the checked entry's store and old rate.
    Find<TCheckListBox>(w, "lista2")->SetChecked(1, true);
    Click(w, "btdel");
    QVERIFY(boxes.boxes.empty());
    QCOMPARE(Entries(w, "lista2"), (std::vector<std::string>{"[6%->5% 30-12-1899 00:00:00] Sede",
                                                             "[13%->12% 31-12-2027 23:59:58] Loja \xc9vora"}));
    COMPARE_ROWS(dbs->db().Rows("SELECT servidor, basedados, anterior FROM " + dbs->central() +
                                ".taxasiva ORDER BY servidor, basedados, anterior"),
                 (std::vector<PeerDb::Row>{Row({"10.0.0.3", "loja_evora", "13"}), Row({"10.0.0.7", "outra", "23"}),
                                           Row({"10.0.0.9", "loja_antiga", "23"}),
                                           Row({"127.0.0.1", dbs->customer(), "6"})}));
    // Nothing checked: nothing removed, the list reloads.
    dbs->AddScheduled("10.0.0.3", "loja_evora", "Loja \xc9vora", 23, 21, "2026-03-01 00:00:00");
    Click(w, "btdel");
    QCOMPARE(Find<TCheckListBox>(w, "lista2")->Count(), 3);
    // Back to the stores page: the lists are the stores' again.
    Click(w, "BitBtn4");
    QCOMPARE(ActivePage(w), 1);
    QCOMPARE(Hidden(w, "basedados"), (std::vector<std::string>{dbs->customer(), "loja_evora"}));
  }

  void overviewOfAStoreWithoutRows() {
    auto dbs = Databases();
    MessageBoxRecorder boxes;
    auto window = Window(*dbs);
    Click(window.get(), "btaceito");
    Click(window.get(), "btag1");
    QVERIFY(boxes.boxes.empty());
    QVERIFY(Find<QWidget>(window.get(), "lista2")->isVisible());
    QCOMPARE(Find<TCheckListBox>(window.get(), "lista2")->Count(), 0);
  }

  void overviewLoadFailure() {
    auto dbs = Databases();
    dbs->AddPartner("Loja A", "10.0.0.1", "loja_a");
    dbs->AddScheduled("127.0.0.1", dbs->customer(), "Sede", 23, 22, "2026-03-01 00:00:00");
    MessageBoxRecorder boxes;
    auto window = Window(*dbs);
    QWidget* w = window.get();
    Click(w, "btaceito");
    dbs->db().Exec("UPDATE " + dbs->customer() + ".parceiros SET host = NULL");
    Click(w, "btag1");
    QCOMPARE(boxes.boxes.size(), std::size_t{1});
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Base de dados Talvero não acessível!"));
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Aviso"));
    QCOMPARE(boxes.boxes[0].icon, miStop);
    QVERIFY(!Find<QWidget>(w, "lista2")->isVisible());
    QVERIFY(Find<QWidget>(w, "msg2")->isVisible());
    QCOMPARE(Caption(Find<QWidget>(w, "msg2")), QStringLiteral("Aguarde por favor, a carregar a lista"));
    QCOMPARE(Hidden(w, "oldtaxa"), std::vector<std::string>{"23"});
    Click(w, "BitBtn4");
    QCOMPARE(ActivePage(w), 1);
  }

  void removalErrorReachesTheDefaultDisplay() {
    auto dbs = Databases();
    dbs->AddScheduled("127.0.0.1", dbs->customer(), "Sede", 23, 22, "2026-03-01 00:00:00");
    MessageBoxRecorder boxes;
    auto window = Window(*dbs);
    QWidget* w = window.get();
    Click(w, "btaceito");
    Click(w, "btag1");
    Find<TCheckListBox>(w, "lista2")->SetChecked(0, true);
    dbs->db().Exec("DROP TABLE " + dbs->central() + ".taxasiva");
    Click(w, "btdel");
    QCOMPARE(boxes.boxes.size(), std::size_t{1});
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Agendar IVA"));
    QVERIFY2(boxes.boxes[0].text.contains(QStringLiteral("taxasiva")), qPrintable(boxes.boxes[0].text));
    // The list is not rebuilt.
    QCOMPARE(Find<TCheckListBox>(w, "lista2")->Count(), 1);
    QVERIFY(window->isVisible());
  }

  // --- pictures of the pages filled from the database ---------------------------------

  void pagesFromTheDatabase() {
    da::RegionalSettings portugal;
    portugal.shortDateFormat = "dd/mm/yyyy";
    portugal.dateSeparator = '-';
    portugal.longTimeFormat = "hh:nn:ss";
    portugal.timeSeparator = ':';
    portugal.decimalSeparator = ',';
    da::ScopedRegionalSettings scoped(portugal);
    auto dbs = Databases();
    dbs->AddPartner("Loja Centro", "10.0.0.2", "loja_centro");
    dbs->AddPartner("Loja \xc9vora", "10.0.0.3", "loja_evora");
    dbs->AddPartner("Loja Norte", "10.0.0.4", "loja_norte");
    dbs->AddScheduled("10.0.0.2", "loja_centro", "Loja Centro", 23, 22, "2027-01-01 00:00:00");
    dbs->AddScheduled("10.0.0.3", "loja_evora", "Loja \xc9vora", 13, 12, "2027-01-01 00:00:00");
    MessageBoxRecorder boxes;
    auto window = Window(*dbs);
    QWidget* w = window.get();
    const QString folder = QStringLiteral(APP_PAGES_DIR);
    QVERIFY(QDir().mkpath(folder));
    Click(w, "btaceito");
    QVERIFY(w->grab().save(folder + QStringLiteral("/page1-database.png")));
    Click(w, "btag1");
    QCOMPARE(Find<TCheckListBox>(w, "lista2")->Count(), 2);
    QVERIFY(w->grab().save(folder + QStringLiteral("/page4-database.png")));
    QVERIFY(boxes.boxes.empty());
  }
};

QTEST_MAIN(SchedulerWindowTest)
#include "SchedulerWindowTest.moc"
