// The rate page's logic without a window: the integer value of a text, the
// key filter of the numeric fields, every reading with its fallback, and
// the scheduled moment.

#include <QtTest>

#include "RatePage.h"
#include "common/Exception.h"

using namespace app;

class RatePageTest : public QObject {
  Q_OBJECT

 private slots:
  void integerValue_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("digits") << QByteArray("23") << true << 23;
    QTest::newRow("leading zero") << QByteArray("07") << true << 7;
    QTest::newRow("zero") << QByteArray("0") << true << 0;
    QTest::newRow("minus") << QByteArray("-5") << true << -5;
    QTest::newRow("plus") << QByteArray("+5") << true << 5;
    QTest::newRow("largest") << QByteArray("2147483647") << true << 2147483647;
    QTest::newRow("empty") << QByteArray() << false << 0;
    QTest::newRow("space before") << QByteArray(" 5") << false << 0;
    QTest::newRow("space after") << QByteArray("5 ") << false << 0;
    QTest::newRow("letters") << QByteArray("5a") << false << 0;
    QTest::newRow("hexadecimal") << QByteArray("$F") << false << 0;
    QTest::newRow("0x") << QByteArray("0x1") << false << 0;
    QTest::newRow("two signs") << QByteArray("+-5") << false << 0;
    QTest::newRow("sign alone") << QByteArray("-") << false << 0;
    QTest::newRow("overflow") << QByteArray("2147483648") << false << 0;
    QTest::newRow("decimal") << QByteArray("6,5") << false << 0;
  }
  void integerValue() {
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    int parsed = -99;
    QCOMPARE(TryIntegerValue(text.toStdString(), parsed), ok);
    QCOMPARE(parsed, ok ? value : -99);
    QCOMPARE(IntegerValueOr(text.toStdString(), 13), ok ? value : 13);
  }

  void rateFieldKeys() {
    for (int c = 0; c < 256; ++c) {
      const char key = static_cast<char>(c);
      const bool expected = c == 8 || c == 13 || (c >= '0' && c <= '9');
      QVERIFY2(IsRateFieldKey(key) == expected, qPrintable(QString::number(c)));
    }
  }

  void emptyInputsTakeEveryFallback() {
    RatePageInputs inputs;
    inputs.date = da::EncodeDate(2026, 3, 1);
    const RateChange change = ReadRateChange(inputs);
    QCOMPARE(change.oldRate, 13);
    QCOMPARE(change.newRate, 23);
    // The description falls back to the text of `nova`, empty here.
    QCOMPARE(change.description, std::string("%"));
    QCOMPARE(change.decimalPlaces, 2);
    QCOMPARE(change.keepOldRate, 0);
    QCOMPARE(change.updateSalePrices, 0);
    QCOMPARE(change.roundPrices, 0);
    QCOMPARE(change.moment, da::EncodeDate(2026, 3, 1));
  }

  void inputsAreReadAsTyped() {
    RatePageInputs inputs;
    inputs.anterior = "23";
    inputs.nova = "6";
    inputs.casas = "3";
    inputs.opnovataxa = true;
    inputs.opvenda = true;
    inputs.oparredondar = true;
    inputs.date = da::EncodeDate(2026, 12, 31);
    inputs.hour = 23;
    inputs.minute = 59;
    inputs.second = 58;
    RateChange change = ReadRateChange(inputs);
    QCOMPARE(change.oldRate, 23);
    QCOMPARE(change.newRate, 6);
    QCOMPARE(change.description, std::string("6%"));
    QCOMPARE(change.decimalPlaces, 3);
    QCOMPARE(change.keepOldRate, 1);
    QCOMPARE(change.updateSalePrices, 1);
    QCOMPARE(change.roundPrices, 1);
    const da::DateTimeParts parts = da::DecodeDateTime(change.moment);
    QCOMPARE(parts, (da::DateTimeParts{2026, 12, 31, 23, 59, 58, 0}));

    inputs.descricao = "Taxa interm\xe9" "dia";
    inputs.anterior = "x";  // pasted text that is no number
    inputs.casas = "";
    change = ReadRateChange(inputs);
    QCOMPARE(change.description, std::string("Taxa interm\xe9" "dia"));
    QCOMPARE(change.oldRate, 13);
    QCOMPARE(change.decimalPlaces, 2);
  }

  void roundingPlacesCheck_data() {
    QTest::addColumn<QByteArray>("casas");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("3") << QByteArray("3") << true;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("4") << QByteArray("4") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("not a number") << QByteArray("a") << false;
  }
  void roundingPlacesCheck() {
    QFETCH(QByteArray, casas);
    QFETCH(bool, allowed);
    QCOMPARE(RoundingPlacesInRange(RoundingPlacesToCheck(casas.toStdString())), allowed);
  }

  void scheduledMomentDropsTheDatesTimeAndTheMilliseconds() {
    const da::TDateTime date = da::EncodeDate(2026, 3, 1) + da::EncodeTime(17, 45, 12, 345);
    const da::TDateTime moment = ScheduledMoment(date, 8, 30, 5);
    QCOMPARE(da::DecodeDateTime(moment), (da::DateTimeParts{2026, 3, 1, 8, 30, 5, 0}));
    QVERIFY_THROWS_EXCEPTION(da::EConvertError, ScheduledMoment(date, 24, 0, 0));
  }

  void onlyALaterMomentIsSchedulable() {
    const da::TDateTime moment = ScheduledMoment(da::EncodeDate(2026, 3, 1), 10, 0, 0);
    QVERIFY(!IsSchedulableMoment(moment, moment));
    QVERIFY(!IsSchedulableMoment(moment, moment + da::EncodeTime(0, 0, 0, 500)));
    QVERIFY(IsSchedulableMoment(moment, moment - da::EncodeTime(0, 0, 0, 1)));
    // The current second refused, one second later accepted.
    const da::TDateTime now = ScheduledMoment(da::EncodeDate(2026, 3, 1), 9, 59, 59) + da::EncodeTime(0, 0, 0, 250);
    QVERIFY(!IsSchedulableMoment(ScheduledMoment(da::EncodeDate(2026, 3, 1), 9, 59, 59), now));
    QVERIFY(IsSchedulableMoment(moment, now));
  }

  void tomorrow() {
    QCOMPARE(Tomorrow(da::EncodeDate(2026, 2, 28)), da::EncodeDate(2026, 3, 1));
    QCOMPARE(Tomorrow(da::EncodeDate(2025, 12, 31) + 0.75), da::EncodeDate(2026, 1, 1));
    QCOMPARE(Tomorrow(da::EncodeDate(2028, 2, 28)), da::EncodeDate(2028, 2, 29));
  }
};

QTEST_MAIN(RatePageTest)
#include "RatePageTest.moc"
