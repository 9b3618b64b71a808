// What a transmitter's registers say: a reading, or a fault of the device.
#include "core/air/AirDevices.h"
#include "core/frames/Crc16.h"

#include <QtTest>

using namespace vx;

class tst_airdevices : public QObject {
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
    void coilWrite();
};

void tst_airdevices::decode_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QList<quint16>>("registers");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<double>("rh");
    QTest::addColumn<QString>("fault"); // empty: a reading
    QTest::newRow("th: 23.5 °C 61.2 %") << "th" << QList<quint16>{235, 612} << 23.5 << 61.2 << "";
    QTest::newRow("ht: the same, swapped") << "ht" << QList<quint16>{612, 235} << 23.5 << 61.2 << "";
    QTest::newRow("frost is signed") << "th" << QList<quint16>{quint16(qint16(-125)), 880} << -12.5 << 88.0 << "";
    QTest::newRow("the limits") << "th" << QList<quint16>{quint16(qint16(-400)), 1000} << -40.0 << 100.0 << "";
    QTest::newRow("RH 100.1") << "th" << QList<quint16>{200, 1001} << 0.0 << 0.0 << "humidity 100.1 out of range";
    QTest::newRow("80.1 °C") << "th" << QList<quint16>{801, 500} << 0.0 << 0.0 << "temperature 80.1 out of range";
    QTest::newRow("a sensor's 0xFFFF is -0.1 °C but RH 6553.5") << "ht" << QList<quint16>{0xFFFF, 0xFFFF} << 0.0 << 0.0
                                                                << "humidity 6553.5 out of range";
    QTest::newRow("one register short") << "th" << QList<quint16>{235} << 0.0 << 0.0 << "1 registers where 2 were asked";
}

void tst_airdevices::decode()
{
    QFETCH(QString, profile);
    QFETCH(QList<quint16>, registers);
    QFETCH(double, celsius);
    QFETCH(double, rh);
    QFETCH(QString, fault);
    const auto p = airProfileNamed(profile);
    QVERIFY(p);
    const AirReading r = decodeAir(*p, registers);
    if (!fault.isEmpty()) {
        QVERIFY2(r.fault.startsWith(fault), qPrintable(r.fault));
        QVERIFY(!r.celsius && !r.relativeHumidity); // never half a reading
        return;
    }
    QVERIFY2(r.ok(), qPrintable(r.fault));
    QCOMPARE(*r.celsius, celsius);
    QCOMPARE(*r.relativeHumidity, rh);
}

void tst_airdevices::coilWrite()
{
    // Function 5: FF00 switches a coil on, 0000 off; the frame of the protocol's own example.
    QCOMPARE(writeCoilRequest(0x11, 0x00AC, true).toHex(' '), QByteArray("11 05 00 ac ff 00 4e 8b"));
    QVERIFY(hasValidCrc(writeCoilRequest(60, 3, false)));
    QCOMPARE(writeCoilRequest(60, 3, false).mid(2, 4), QByteArray::fromHex("00030000"));
    QVERIFY(airException(2).fault.contains("illegal data address"));
}

QTEST_GUILESS_MAIN(tst_airdevices)
#include "tst_airdevices.moc"
