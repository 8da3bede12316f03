// The texts of the stores and overview lists: the customer's own entry, the
// trimming of hosts and database names, values turned into text, the
// overview entry under the regional formats, the old rate read back.

#include <QtTest>

#include "ListTexts.h"
#include "common/DateTime.h"
#include "common/Exception.h"

using namespace app;

class ListTextsTest : public QObject {
  Q_OBJECT

 private slots:
  void ownStoreEntry_data() {
    QTest::addColumn<QByteArray>("company");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QByteArray>("entry");
    const QByteArray fifty("Supermercados Reunidos do Norte e Centro, SA 12345");  // 50
    QTest::newRow("10 characters: 40 spaces follow")
        << QByteArray("Loja Sede.") << QByteArray("A1B2") << (QByteArray("Loja Sede.") + QByteArray(40, ' ') + " (A1B2)");
    QTest::newRow("50 characters: unchanged") << fifty << QByteArray("A1B2") << (fifty + " (A1B2)");
    QTest::newRow("51 characters: the first 50") << (fifty + "X") << QByteArray("A1B2") << (fifty + " (A1B2)");
    QTest::newRow("empty") << QByteArray() << QByteArray() << (QByteArray(50, ' ') + " ()");
    QTest::newRow("accented, serial as given")
        << QByteArray("Padaria S\xe3o Jo\xe3o") << QByteArray(" S-1 ")
        << (QByteArray("Padaria S\xe3o Jo\xe3o") + QByteArray(34, ' ') + " ( S-1 )");
  }
  void ownStoreEntry() {
    QFETCH(QByteArray, company);
    QFETCH(QByteArray, serial);
    QFETCH(QByteArray, entry);
    QCOMPARE(OwnStoreEntry(company.toStdString(), serial.toStdString()), entry.toStdString());
  }

  void trimText_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("trimmed");
    QTest::newRow("spaces") << QByteArray("  loja_norte  ") << QByteArray("loja_norte");
    QTest::newRow("controls") << QByteArray("\t\r\n192.168.1.20\r\n\x01") << QByteArray("192.168.1.20");
    QTest::newRow("inner kept") << QByteArray(" a b ") << QByteArray("a b");
    QTest::newRow("only blanks") << QByteArray(" \t ") << QByteArray();
    QTest::newRow("no-break space and accents kept") << QByteArray("\xa0\xc9vora ") << QByteArray("\xa0\xc9vora");
  }
  void trimText() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, trimmed);
    QCOMPARE(TrimText(text.toStdString()), trimmed.toStdString());
  }

  void variantText() {
    QCOMPARE(VariantText(da::Variant(std::string(" Loja \xc9vora "))), std::string(" Loja \xc9vora "));
    QCOMPARE(VariantText(da::Variant(int32_t{23})), std::string("23"));
    QVERIFY_THROWS_EXCEPTION(da::EVariantError, VariantText(da::Variant::Null()));
    QVERIFY_THROWS_EXCEPTION(da::EVariantError, VariantText(da::Variant()));
  }

  void overviewEntry_data() {
    QTest::addColumn<QByteArray>("oldRate");
    QTest::addColumn<QByteArray>("newRate");
    QTest::addColumn<double>("moment");
    QTest::addColumn<QByteArray>("dateFormat");
    QTest::addColumn<char>("dateSeparator");
    QTest::addColumn<QByteArray>("entry");
    QTest::newRow("day-month-year with hyphens")
        << QByteArray("23") << QByteArray("22") << da::EncodeDate(2026, 3, 1) << QByteArray("dd/mm/yyyy") << '-'
        << QByteArray("[23%->22% 01-03-2026 00:00:00] Loja Centro");
    QTest::newRow("year first, with a time")
        << QByteArray("6") << QByteArray("5")
        << da::EncodeDateTime({2027, 12, 31, 23, 59, 58, 0}) << QByteArray("yyyy/mm/dd") << '.'
        << QByteArray("[6%->5% 2027.12.31 23:59:58] Loja Centro");
    QTest::newRow("zero date-time (NULL)") << QByteArray("23") << QByteArray("22") << 0.0
                                           << QByteArray("dd/mm/yyyy") << '/'
                                           << QByteArray("[23%->22% 30/12/1899 00:00:00] Loja Centro");
    QTest::newRow("NULL rates") << QByteArray() << QByteArray() << 0.0 << QByteArray("d/m/yy") << '/'
                                << QByteArray("[%->% 30/12/99 00:00:00] Loja Centro");
  }
  void overviewEntry() {
    QFETCH(QByteArray, oldRate);
    QFETCH(QByteArray, newRate);
    QFETCH(double, moment);
    QFETCH(QByteArray, dateFormat);
    QFETCH(char, dateSeparator);
    QFETCH(QByteArray, entry);
    da::RegionalSettings regional;
    regional.shortDateFormat = dateFormat.toStdString();
    regional.dateSeparator = dateSeparator;
    regional.longTimeFormat = "hh:nn:ss";
    regional.timeSeparator = ':';
    QCOMPARE(OverviewEntry(oldRate.toStdString(), newRate.toStdString(), moment, "Loja Centro", regional),
             entry.toStdString());
  }

  void overviewEntryFollowsTheProcessSettings() {
    da::RegionalSettings regional;
    regional.shortDateFormat = "dd/mm/yyyy";
    regional.dateSeparator = '-';
    regional.longTimeFormat = "hh:nn:ss";
    regional.timeSeparator = '.';
    da::ScopedRegionalSettings scoped(regional);
    QCOMPARE(OverviewEntry("13", "23", da::EncodeDateTime({2026, 1, 2, 3, 4, 5, 0}), "Loja \xc9vora"),
             std::string("[13%->23% 02-01-2026 03.04.05] Loja \xc9vora"));
  }

  void oldRateOf() {
    QCOMPARE(OldRateOf("23"), 23);
    QCOMPARE(OldRateOf("0"), 0);
    QVERIFY_THROWS_EXCEPTION(da::EConvertError, OldRateOf(""));
    QVERIFY_THROWS_EXCEPTION(da::EConvertError, OldRateOf("2x"));
  }
};

QTEST_GUILESS_MAIN(ListTextsTest)
#include "ListTextsTest.moc"
