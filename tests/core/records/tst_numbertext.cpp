#include "core/records/NumberText.h"

#include <QTest>

#include <cmath>

using namespace vx;

class tst_numbertext : public QObject {
    Q_OBJECT
private slots:
    void isNumeric_data();
    void isNumeric();
    void val_data();
    void val();
    void rounding_data();
    void rounding();
    void byteRange_data();
    void byteRange();
    void twoDigitTexts_data();
    void twoDigitTexts();
    void hundredths_data();
    void hundredths();
};

void tst_numbertext::isNumeric_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");
    QTest::newRow("integer") << "18" << true << 18.0;
    QTest::newRow("blanks around") << "  7 " << true << 7.0;
    QTest::newRow("sign") << "-3" << true << -3.0;
    QTest::newRow("plus") << "+4" << true << 4.0;
    QTest::newRow("fraction") << "2.9" << true << 2.9;
    QTest::newRow("leading point") << ".5" << true << 0.5;
    QTest::newRow("trailing point") << "5." << true << 5.0;
    QTest::newRow("exponent") << "1e2" << true << 100.0;
    QTest::newRow("signed exponent") << "2.5E-1" << true << 0.25;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("blanks") << "   " << false << 0.0;
    QTest::newRow("letters") << "abc" << false << 0.0;
    QTest::newRow("trailing letters") << "12a" << false << 0.0;
    QTest::newRow("inner blank") << "1 2" << false << 0.0;
    QTest::newRow("point only") << "." << false << 0.0;
    QTest::newRow("sign only") << "-" << false << 0.0;
    QTest::newRow("dangling exponent") << "1e" << false << 0.0;
    QTest::newRow("overflow") << "1e400" << false << 0.0;
    QTest::newRow("hex") << "0x10" << false << 0.0;
    QTest::newRow("decimal comma") << "2,5" << false << 0.0;
    QTest::newRow("full-width digits") << QString::fromUtf8("１２") << false << 0.0;
}

void tst_numbertext::isNumeric()
{
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, value);
    QCOMPARE(num::IsNumeric(text), numeric);
    const auto v = num::numericValue(text);
    QCOMPARE(v.has_value(), numeric);
    if (v)
        QCOMPARE(*v, value);
}

void tst_numbertext::val_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "36" << 36.0;
    QTest::newRow("leading part") << "12abc" << 12.0;
    QTest::newRow("leading zeros") << "01" << 1.0;
    QTest::newRow("blanks first") << "  5x" << 5.0;
    QTest::newRow("no number") << "x1" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("negative") << "-7.5" << -7.5;
    QTest::newRow("second point stops") << "1.5.3" << 1.5;
    QTest::newRow("dangling exponent") << "3e" << 3.0;
    QTest::newRow("huge stays finite") << "9e999" << std::numeric_limits<double>::max();
}

void tst_numbertext::val()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(num::Val(text), value);
}

void tst_numbertext::rounding_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("whole");
    QTest::addColumn<double>("even");
    QTest::newRow("2.7") << 2.7 << 2.0 << 3.0;
    QTest::newRow("-0.5") << -0.5 << -1.0 << 0.0;
    QTest::newRow("2.5") << 2.5 << 2.0 << 2.0;
    QTest::newRow("3.5") << 3.5 << 3.0 << 4.0;
    QTest::newRow("7.9") << 7.9 << 7.0 << 8.0;
    QTest::newRow("-2.5") << -2.5 << -3.0 << -2.0;
}

void tst_numbertext::rounding()
{
    QFETCH(double, value);
    QFETCH(double, whole);
    QFETCH(double, even);
    QCOMPARE(num::wholePart(value), whole);
    QCOMPARE(num::roundHalfEven(value), even);
}

void tst_numbertext::byteRange_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("byte"); // -1: does not fit
    QTest::newRow("0") << 0.0 << 0;
    QTest::newRow("255") << 255.0 << 255;
    QTest::newRow("256") << 256.0 << -1;
    QTest::newRow("-1") << -1.0 << -1;
    QTest::newRow("fraction") << 2.5 << -1;
    QTest::newRow("nan") << std::nan("") << -1;
    QTest::newRow("inf") << HUGE_VAL << -1;
}

void tst_numbertext::byteRange()
{
    QFETCH(double, value);
    QFETCH(int, byte);
    const auto b = num::byteOf(value);
    QCOMPARE(b ? int(*b) : -1, byte);
}

void tst_numbertext::twoDigitTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("formatted");
    QTest::newRow("2") << "2" << "02";
    QTest::newRow("01") << "01" << "01";
    QTest::newRow("018") << "018" << "18";
    QTest::newRow("123") << "123" << "123";
    QTest::newRow("2.6 rounds") << "2.6" << "03";
    QTest::newRow("2.5 rounds away") << "2.5" << "03";
    QTest::newRow("negative") << "-2" << "-02";
    QTest::newRow("not a number") << "ab" << "ab";
    QTest::newRow("empty") << "" << "";
}

void tst_numbertext::twoDigitTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, formatted);
    QCOMPARE(num::twoDigitsText(text), formatted);
}

void tst_numbertext::hundredths_data()
{
    QTest::addColumn<int>("hundredths");
    QTest::addColumn<QString>("text");
    QTest::newRow("25.34") << 2534 << "25.34";
    QTest::newRow("0.05") << 5 << "0.05";
    QTest::newRow("0.00") << 0 << "0.00";
    QTest::newRow("200.00") << 20000 << "200.00";
    QTest::newRow("-0.02") << -2 << "-0.02";
    QTest::newRow("-5.36") << -536 << "-5.36";
    QTest::newRow("-455.35") << -45535 << "-455.35";
    QTest::newRow("655.35") << 65535 << "655.35";
}

void tst_numbertext::hundredths()
{
    QFETCH(int, hundredths);
    QFETCH(QString, text);
    QCOMPARE(num::hundredthsText(hundredths), text);
}

QTEST_APPLESS_MAIN(tst_numbertext)
#include "tst_numbertext.moc"
