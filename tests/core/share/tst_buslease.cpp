// The bus lease and the frame lines of the control socket.
#include "core/share/BusLease.h"

#include <QJsonArray>
#include <QtTest>

using namespace vx;

class tst_buslease : public QObject {
    Q_OBJECT
private slots:
    void lease_data();
    void lease();
    void frames_data();
    void frames();
};

void tst_buslease::lease_data()
{
    // Steps "op token ms", ';'-separated; what each returns (1/0, or the Take for a take).
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QString>("holder"); // the token holding after the last step, "" for none
    QTest::newRow("take, renew, give") << "take a 0;renew a 20000;give a 0" << "G;1;1" << "";
    QTest::newRow("second taker refused") << "take a 0;take b 10;renew b 20" << "G;B;0" << "a";
    QTest::newRow("the same taker again") << "take a 0;take a 25000;lapse - 40000" << "G;Y;0" << "a";
    QTest::newRow("a renewal keeps it") << "take a 0;renew a 29000;lapse - 50000" << "G;1;0" << "a";
    QTest::newRow("lapses without renewal") << "take a 0;lapse - 30000;lapse - 30001;renew a 30002" << "G;0;1;0" << "";
    QTest::newRow("too late to renew") << "take a 0;renew a 30001" << "G;0" << "a";
    QTest::newRow("a stranger cannot give") << "take a 0;give b 0;give a 0;give a 0" << "G;0;1;0" << "";
    QTest::newRow("free again after a lapse") << "take a 0;lapse - 30001;take b 30002" << "G;1;G" << "b";
    QTest::newRow("no token, no bus") << "take - 0" << "R" << "";
}

void tst_buslease::lease()
{
    QFETCH(QString, steps);
    QFETCH(QString, results);
    QFETCH(QString, holder);
    BusLease lease(30000);
    QStringList got;
    for (const QString &step : steps.split(QLatin1Char(';'))) {
        const QStringList p = step.split(QLatin1Char(' '));
        const QString token = p[1] == QLatin1String("-") ? QString() : p[1];
        const qint64 ms = p[2].toLongLong();
        if (p[0] == QLatin1String("take"))
            got << QString(QLatin1String("GYBR").at(int(lease.take(QStringLiteral("who"), token, ms))));
        else if (p[0] == QLatin1String("renew"))
            got << QString::number(lease.renew(token, ms));
        else if (p[0] == QLatin1String("give"))
            got << QString::number(lease.give(token));
        else
            got << QString::number(lease.lapse(ms));
    }
    QCOMPARE(got.join(QLatin1Char(';')), results);
    QCOMPARE(lease.holder() ? lease.holder()->token : QString(), holder);
}

void tst_buslease::frames_data()
{
    QTest::addColumn<QJsonObject>("request");
    QTest::addColumn<bool>("valid");
    const ReadingSet frame{1765180800123, 7, {2100, 65535, 0}};
    const QJsonObject good = busshare::frameRequest(QStringLiteral("t"), frame);
    QTest::newRow("as made") << good << true;
    auto with = [&](const char *key, const QJsonValue &v) {
        QJsonObject o = good;
        o.insert(QString::fromLatin1(key), v);
        return o;
    };
    QTest::newRow("address 0") << with("address", 0) << false;
    QTest::newRow("address 256") << with("address", 256) << false;
    QTest::newRow("no time") << with("time", QJsonValue()) << false;
    QTest::newRow("no registers") << with("raw", QJsonArray()) << false;
    QTest::newRow("register too big") << with("raw", QJsonArray{1, 65536}) << false;
    QTest::newRow("register negative") << with("raw", QJsonArray{-1}) << false;
    QTest::newRow("register text") << with("raw", QJsonArray{"12"}) << false;
}

void tst_buslease::frames()
{
    QFETCH(QJsonObject, request);
    QFETCH(bool, valid);
    QString why;
    const auto frame = busshare::frameOf(request, &why);
    QCOMPARE(frame.has_value(), valid);
    QCOMPARE(why.isEmpty(), valid);
    if (valid) { // the round trip is exact: nothing of a reading is lost on the way to the store
        QCOMPARE(frame->timeMs, 1765180800123);
        QCOMPARE(frame->address, 7);
        QCOMPARE(frame->raw, (QList<quint16>{2100, 65535, 0}));
    }
}

QTEST_GUILESS_MAIN(tst_buslease)
#include "tst_buslease.moc"
