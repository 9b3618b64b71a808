// Dew point and the sorption isotherms against published tables.
#include "core/air/Psychrometrics.h"

#include <QtTest>

using namespace vx;

class tst_psychrometrics : public QObject {
    Q_OBJECT
private slots:
    void dewPointTable_data();
    void dewPointTable();
    void sorptionTable_data();
    void sorptionTable();
    void formsInvert_data();
    void formsInvert();
    void outsideTheirSense();
};

void tst_psychrometrics::dewPointTable_data()
{
    // Psychrometric tables (over water), to 0.1 °C.
    QTest::addColumn<double>("celsius");
    QTest::addColumn<double>("rh");
    QTest::addColumn<double>("dew");
    QTest::newRow("20/50") << 20.0 << 50.0 << 9.3;
    QTest::newRow("25/60") << 25.0 << 60.0 << 16.7;
    QTest::newRow("30/70") << 30.0 << 70.0 << 23.9;
    QTest::newRow("30/50") << 30.0 << 50.0 << 18.4;
    QTest::newRow("10/80") << 10.0 << 80.0 << 6.7;
    QTest::newRow("15/80") << 15.0 << 80.0 << 11.6;
    QTest::newRow("35/40") << 35.0 << 40.0 << 19.4;
    QTest::newRow("5/90") << 5.0 << 90.0 << 3.5;
    QTest::newRow("saturated 0") << 0.0 << 100.0 << 0.0;
}

void tst_psychrometrics::dewPointTable()
{
    QFETCH(double, celsius);
    QFETCH(double, rh);
    QFETCH(double, dew);
    const auto d = dewPoint(celsius, rh);
    QVERIFY(d);
    QVERIFY2(std::abs(*d - dew) <= 0.2, qPrintable(QString::number(*d)));
}

void tst_psychrometrics::sorptionTable_data()
{
    // Equilibrium moisture content, % wet basis: shelled corn from the
    // Henderson-Thompson table (°F), rough rice and durum wheat from ASAE
    // D245's measured data (°C). Within 0.5 % moisture.
    QTest::addColumn<QString>("grain");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<double>("rh");
    QTest::addColumn<double>("emc");
    const auto f = [](double fahrenheit) { return (fahrenheit - 32) / 1.8; };
    const struct { double fahrenheit, rh, emc; } corn[] = {
        {40, 10, 5.0}, {40, 50, 12.7}, {40, 90, 21.7}, {60, 30, 8.5}, {60, 60, 13.3}, {60, 80, 17.2},
        {80, 20, 6.2}, {80, 50, 10.8}, {80, 70, 14.0}, {100, 40, 8.7}, {100, 60, 11.6}, {100, 90, 17.7}};
    for (const auto &c : corn)
        QTest::addRow("maize %g°F %g%%", c.fahrenheit, c.rh) << "maize" << f(c.fahrenheit) << c.rh << c.emc;
    const struct { double celsius, rh, emc; } rice[] = {
        {1.7, 25, 9.2}, {10, 25, 8.6}, {21.1, 30, 8.8}, {37.8, 30, 8.0}, {10, 35, 10.3}, {37.8, 35, 8.7}};
    for (const auto &r : rice)
        QTest::addRow("paddy %g°C %g%%", r.celsius, r.rh) << "paddy" << r.celsius << r.rh << r.emc;
    const struct { double celsius, rh, emc; } durum[] = {
        {1.7, 25, 8.3}, {21.1, 25, 7.7}, {10, 30, 8.7}, {37.8, 30, 7.7}, {1.7, 35, 9.6}, {21.1, 35, 8.9}};
    for (const auto &d : durum)
        QTest::addRow("durum %g°C %g%%", d.celsius, d.rh) << "durum" << d.celsius << d.rh << d.emc;
}

void tst_psychrometrics::sorptionTable()
{
    QFETCH(QString, grain);
    QFETCH(double, celsius);
    QFETCH(double, rh);
    QFETCH(double, emc);
    const auto k = sorptionFor(grain);
    QVERIFY(k);
    const auto m = equilibriumMoistureContent(*k, celsius, rh);
    QVERIFY(m);
    QVERIFY2(std::abs(*m - emc) <= 0.5, qPrintable(QString::number(*m)));
    // And back: grain of that moisture holds its air at that humidity.
    const auto erh = equilibriumRelativeHumidity(*k, *m, celsius);
    QVERIFY(erh);
    QVERIFY2(std::abs(*erh - rh) < 1e-6, qPrintable(QString::number(*erh)));
}

void tst_psychrometrics::formsInvert_data()
{
    // Each form's two directions are one equation: the inverse of the inverse
    // is where it started, for constants of each form's usual size.
    QTest::addColumn<int>("form");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("c");
    QTest::newRow("Henderson") << int(SorptionForm::Henderson) << 8.6541e-5 << 1.8634 << 49.810;
    QTest::newRow("Chung-Pfost") << int(SorptionForm::ChungPfost) << 610.34 << 0.15526 << 93.213;
    QTest::newRow("Halsey") << int(SorptionForm::Halsey) << 3.0 << 1.35 << -0.005;
    QTest::newRow("Oswin") << int(SorptionForm::Oswin) << 12.0 << 3.0 << -0.05;
}

void tst_psychrometrics::formsInvert()
{
    QFETCH(int, form);
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(double, c);
    const SorptionConstants k{SorptionForm(form), a, b, c};
    for (double celsius : {0.0, 15.0, 30.0})
        for (double rh : {30.0, 65.0, 90.0}) {
            const auto m = equilibriumMoistureContent(k, celsius, rh);
            QVERIFY(m);
            const auto back = equilibriumRelativeHumidity(k, *m, celsius);
            QVERIFY(back);
            QVERIFY2(std::abs(*back - rh) < 1e-6, qPrintable(QStringLiteral("%1 °C %2 %").arg(celsius).arg(rh)));
        }
    // Wetter air, wetter grain; warmer air at the same RH, drier grain.
    QVERIFY(*equilibriumMoistureContent(k, 15, 80) > *equilibriumMoistureContent(k, 15, 60));
    QVERIFY(*equilibriumMoistureContent(k, 30, 70) < *equilibriumMoistureContent(k, 5, 70));
}

void tst_psychrometrics::outsideTheirSense()
{
    const SorptionConstants k = *sorptionFor(QStringLiteral("小麦"));
    QVERIFY(!dewPoint(20, 0));
    QVERIFY(!dewPoint(20, 101));
    QVERIFY(!equilibriumMoistureContent(k, 20, 100));
    QVERIFY(!equilibriumMoistureContent(k, 20, 0));
    QVERIFY(!equilibriumRelativeHumidity(k, 0, 20));
    QVERIFY(!equilibriumRelativeHumidity(k, 14, -200)); // below the form's -C
    QVERIFY(!sorptionFor(QStringLiteral("oats")));
}

QTEST_GUILESS_MAIN(tst_psychrometrics)
#include "tst_psychrometrics.moc"
