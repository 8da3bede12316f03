// What the installation gives the tool: the settings file form, the
// deployment settings laid over the built-in ones, and the installation
// identity, all Windows-1252 text read byte for byte.

#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "Deployment.h"
#include "Identity.h"
#include "SettingsFile.h"

using namespace app;

namespace {

std::string WriteFile(const QTemporaryDir& dir, const char* name, const std::string& bytes) {
  const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace

class InstallationTest : public QObject {
  Q_OBJECT

 private slots:
  void settingsForm_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("plain") << QByteArray("serial=A1B2\n") << QByteArray("serial") << true << QByteArray("A1B2");
    QTest::newRow("CR LF") << QByteArray("serial=A1B2\r\nx=1\r\n") << QByteArray("serial") << true
                           << QByteArray("A1B2");
    QTest::newRow("no final line break") << QByteArray("serial=A1B2") << QByteArray("serial") << true
                                         << QByteArray("A1B2");
    QTest::newRow("key case and blanks") << QByteArray("  SeRiAl \t=A1B2\n") << QByteArray("serial") << true
                                         << QByteArray("A1B2");
    QTest::newRow("value kept as written") << QByteArray("empresa=  Loja  \r\n") << QByteArray("empresa") << true
                                           << QByteArray("  Loja  ");
    QTest::newRow("equals sign in value") << QByteArray("palavrapasse=a=b\n") << QByteArray("palavrapasse")
                                          << true << QByteArray("a=b");
    QTest::newRow("empty value") << QByteArray("servidor=\n") << QByteArray("servidor") << true << QByteArray();
    QTest::newRow("last one wins") << QByteArray("porta=1\nporta=2\n") << QByteArray("porta") << true
                                   << QByteArray("2");
    QTest::newRow("Windows-1252 bytes") << QByteArray("empresa=Padaria S\xe3o Jo\xe3o\r\n") << QByteArray("empresa")
                                        << true << QByteArray("Padaria S\xe3o Jo\xe3o");
    QTest::newRow("accented key") << QByteArray("op\xc7\xc3o=1\n") << QByteArray("op\xe7\xe3o") << true
                                  << QByteArray("1");
    QTest::newRow("comments") << QByteArray("# serial=X\n  ; serial=Y\n\n") << QByteArray("serial") << false
                              << QByteArray();
    QTest::newRow("commented key") << QByteArray("#porta=3306\n") << QByteArray("porta") << false << QByteArray();
    QTest::newRow("empty file") << QByteArray() << QByteArray("serial") << false << QByteArray();
  }
  void settingsForm() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, key);
    QFETCH(bool, present);
    QFETCH(QByteArray, value);
    std::string error;
    const auto file = SettingsFile::Parse(text.toStdString(), error);
    QVERIFY2(file.has_value(), error.c_str());
    const auto got = file->Value(key.toStdString());
    QCOMPARE(got.has_value(), present);
    if (present) QCOMPARE(*got, value.toStdString());
  }

  void settingsFormErrors_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("no equals sign") << QByteArray("serial=1\nempresa Loja\n") << QByteArray("line 2");
    QTest::newRow("no key") << QByteArray("=valor\n") << QByteArray("line 1");
    QTest::newRow("blank key") << QByteArray("# x\n  \t=valor\n") << QByteArray("line 2");
  }
  void settingsFormErrors() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, error);
    std::string message;
    QVERIFY(!SettingsFile::Parse(text.toStdString(), message).has_value());
    QVERIFY2(message.find(error.toStdString()) != std::string::npos, message.c_str());
  }

  void deploymentFileLaidOverBuiltIn() {
    QTemporaryDir dir;
    const std::string path = WriteFile(dir, "agendaiva.conf",
                                       "# central\r\nservidor=10.0.0.5\r\nporta=3307\r\nbasedados=central\r\n"
                                       "utilizador=agend\xe1\r\npalavrapasse= s=cr\xe9ta \r\n"
                                       "identidade=/srv/id.conf\r\noutra=ignorada\r\n");
    DeploymentSettings settings;
    std::string error;
    QVERIFY2(LoadDeployment(path, settings, error), error.c_str());
    const DeploymentSettings expected{"10.0.0.5", 3307, "central", "agend\xe1", " s=cr\xe9ta ", "/srv/id.conf"};
    QCOMPARE(settings, expected);
  }

  void deploymentKeysNotGivenKeepTheBuiltInValues() {
    QTemporaryDir dir;
    const std::string path = WriteFile(dir, "agendaiva.conf", "#servidor=x\nporta=4000\n");
    DeploymentSettings settings;
    std::string error;
    QVERIFY2(LoadDeployment(path, settings, error), error.c_str());
    DeploymentSettings expected = BuiltInDeployment();
    expected.port = 4000;
    QCOMPARE(settings, expected);
  }

  void missingDeploymentFileMeansBuiltIn() {
    QTemporaryDir dir;
    DeploymentSettings settings{"x", 1, "x", "x", "x", "x"};
    std::string error;
    QVERIFY(LoadDeployment(dir.filePath(QStringLiteral("none.conf")).toStdString(), settings, error));
    QCOMPARE(settings, BuiltInDeployment());
    QCOMPARE(BuiltInDeployment().port, kDefaultMySqlPort);
  }

  void badDeploymentFiles_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("port not a number") << QByteArray("porta=33o6\n");
    QTest::newRow("port zero") << QByteArray("porta=0\n");
    QTest::newRow("port too large") << QByteArray("porta=65536\n");
    QTest::newRow("port empty") << QByteArray("porta=\n");
    QTest::newRow("not settings") << QByteArray("servidor 10.0.0.5\n");
  }
  void badDeploymentFiles() {
    QFETCH(QByteArray, text);
    QTemporaryDir dir;
    const std::string path = WriteFile(dir, "agendaiva.conf", text.toStdString());
    const DeploymentSettings before{"keep", 1234, "keep", "keep", "keep", "keep"};
    DeploymentSettings settings = before;
    std::string error;
    QVERIFY(!LoadDeployment(path, settings, error));
    QVERIFY(!error.empty());
    QCOMPARE(settings, before);
  }

  void unreadableDeploymentFile() {
    QTemporaryDir dir;
    DeploymentSettings settings;
    std::string error;
    QVERIFY(!LoadDeployment(dir.path().toStdString(), settings, error));
    QVERIFY2(error.find("folder") != std::string::npos, error.c_str());
  }

  void identityFile() {
    QTemporaryDir dir;
    const std::string path =
        WriteFile(dir, "identidade.conf", "empresa=Padaria S\xe3o Jo\xe3o, Lda  \r\nserial= DEMO-0001\r\n");
    InstallationIdentity identity;
    std::string error;
    QVERIFY2(ReadIdentityFile(path, identity, error), error.c_str());
    QCOMPARE(identity, (InstallationIdentity{"Padaria S\xe3o Jo\xe3o, Lda  ", " DEMO-0001"}));
    // The source reads the file each time it is asked.
    IdentitySource source = IdentityFileSource(path);
    WriteFile(dir, "identidade.conf", "empresa=Outra\nserial=S2\n");
    QVERIFY(source(identity, error));
    QCOMPARE(identity, (InstallationIdentity{"Outra", "S2"}));
  }

  void identityUnreadable_data() {
    QTest::addColumn<QByteArray>("text");  // empty: no file at all
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("no file") << QByteArray() << QByteArray("cannot open");
    QTest::newRow("no serial") << QByteArray("empresa=Loja\n") << QByteArray("serial is missing");
    QTest::newRow("no company") << QByteArray("serial=1\n") << QByteArray("empresa is missing");
    QTest::newRow("not settings") << QByteArray("Loja\n1\n") << QByteArray("line 1");
  }
  void identityUnreadable() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, error);
    QTemporaryDir dir;
    const std::string path = text.isEmpty() ? dir.filePath(QStringLiteral("none")).toStdString()
                                            : WriteFile(dir, "identidade.conf", text.toStdString());
    InstallationIdentity identity{"before", "before"};
    std::string message;
    QVERIFY(!ReadIdentityFile(path, identity, message));
    QVERIFY2(message.find(error.toStdString()) != std::string::npos, message.c_str());
    QCOMPARE(identity, (InstallationIdentity{"before", "before"}));
  }
};

QTEST_GUILESS_MAIN(InstallationTest)
#include "InstallationTest.moc"
