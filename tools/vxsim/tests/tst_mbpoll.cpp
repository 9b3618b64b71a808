#include "ExternalTools.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace vx::test;

// The simulator checked by mbpoll, a Modbus master nobody here wrote:
// functions 3, 4 and 6 over a pseudo-terminal pair.
class tst_mbpoll : public QObject {
    Q_OBJECT
private slots:
    void readsAndWritesLikeAModbusSlave();
};

namespace {
// mbpoll's "[ref]: value" lines.
QMap<int, int> values(const QString &output)
{
    QMap<int, int> map;
    static const QRegularExpression line(QStringLiteral("^\\[(\\d+)\\]:\\s+(\\d+)"), QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(output); it.hasNext();) {
        const auto m = it.next();
        map.insert(m.captured(1).toInt(), m.captured(2).toInt());
    }
    return map;
}
} // namespace

void tst_mbpoll::readsAndWritesLikeAModbusSlave()
{
    VX_REQUIRE_TOOL(socat, "socat");
    VX_REQUIRE_TOOL(mbpoll, "mbpoll");
    SocatPair pair(socat);
    QVERIFY(pair.isReady());
    QProcess sim;
    sim.start(QStringLiteral(VXSIM_PATH), {"--port", pair.a(), "--baud", "19200", "--addresses", "1-3"});
    QVERIFY(sim.waitForReadyRead(5000)); // it says where it serves once it is ready

    const QStringList common = {"-m", "rtu", "-b", "19200", "-P", "none", "-0", "-1", "-o", "2"};
    // Function 3: the measuring points of device 1.
    const auto points = values(runTool(mbpoll, common + QStringList{"-a", "1", "-t", "4", "-r", "0", "-c", "18", pair.b()}));
    QCOMPARE(points.size(), 18);
    for (int p = 0; p < 16; ++p)
        QVERIFY2(points[p] > 1500 && points[p] < 2500, qPrintable(QString::number(points[p]))); // about 20 degrees
    QCOMPARE(points[16], 65535);
    QCOMPARE(points[17], 65535);

    // Function 4: a parameter; function 6: write it; function 4 again: it holds.
    const QStringList param = {"-a", "2", "-t", "3", "-r", "512", "-c", "1", pair.b()};
    QCOMPARE(values(runTool(mbpoll, common + param)).value(512), 22);
    int exitCode = -1;
    runTool(mbpoll, common + QStringList{"-a", "2", "-t", "4", "-r", "512", pair.b(), "30"}, 10000, &exitCode);
    QCOMPARE(exitCode, 0);
    QCOMPARE(values(runTool(mbpoll, common + param)).value(512), 30);
    // Device 3 was not written to.
    QCOMPARE(values(runTool(mbpoll, common + QStringList{"-a", "3", "-t", "3", "-r", "512", "-c", "1", pair.b()})).value(512), 22);

    sim.terminate();
    QVERIFY(sim.waitForFinished(3000));
}

QTEST_GUILESS_MAIN(tst_mbpoll)
#include "tst_mbpoll.moc"
