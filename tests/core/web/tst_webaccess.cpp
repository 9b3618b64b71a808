// Who may use the web view: password hashes, users' lines, and the decision per request.
#include "core/web/WebAccess.h"

#include <QtTest>

using namespace vx;
using namespace vx::web;

class tst_webaccess : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void passwords();
    void userLines_data();
    void userLines();
    void decisions_data();
    void decisions();

private:
    QByteArray m_keeperHash, m_guestHash;
};

void tst_webaccess::initTestCase()
{
    m_keeperHash = makePasswordHash("granary-night");
    m_guestHash = makePasswordHash("look-only-1");
}

void tst_webaccess::passwords()
{
    QVERIFY(verifyPassword("granary-night", m_keeperHash));
    QVERIFY(!verifyPassword("granary-nigh", m_keeperHash));
    QVERIFY(!verifyPassword("", m_keeperHash));
    QVERIFY(makePasswordHash("granary-night") != m_keeperHash); // salted: the same password, another hash
    // A known vector of PBKDF2-HMAC-SHA256 (RFC 7914, section 11): our hashes are the standard's.
    QCOMPARE(QByteArray::fromBase64(hashPassword("passwd", "salt", 1).split('$').last()).toHex().left(32),
             QByteArray("55ac046e56e3089fec1691c22544b605"));
    for (const QByteArray &bad : {QByteArray("plain"), QByteArray("pbkdf2-sha256$5$c2FsdA==$AAAA"), QByteArray("md5$1$a$b")})
        QVERIFY(!verifyPassword("x", bad));
}

void tst_webaccess::userLines_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("result"); // -1 refused, 0 a user, 1 a user who may acknowledge
    const QString hash = QStringLiteral("pbkdf2-sha256$60000$c2FsdA==$a2V5");
    QTest::newRow("look only") << "guest" << hash << 0;
    QTest::newRow("acknowledge") << "keeper.1" << hash + " ack" << 1;
    QTest::newRow("a plain password") << "guest" << "secret" << -1;
    QTest::newRow("an unknown right") << "guest" << hash + " admin" << -1;
    QTest::newRow("a name with a space") << "night keeper" << hash << -1;
    QTest::newRow("a name too long") << QString(65, QLatin1Char('k')) << hash << -1;
}

void tst_webaccess::userLines()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(int, result);
    QString why;
    const auto user = parseWebUser(name, value, &why);
    QCOMPARE(user ? int(user->ack) : -1, result);
    QCOMPARE(why.isEmpty(), result >= 0);
}

void tst_webaccess::decisions_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("withUsers");
    QTest::addColumn<bool>("loopback");
    QTest::addColumn<QByteArray>("credentials"); // user:password, empty for none
    QTest::addColumn<bool>("acknowledge");
    QTest::addColumn<int>("status");
    QTest::newRow("here, no users") << false << false << true << QByteArray() << false << 200;
    QTest::newRow("elsewhere, no users") << false << false << false << QByteArray() << false << 403;
    QTest::newRow("elsewhere, open") << true << false << false << QByteArray() << false << 200;
    QTest::newRow("elsewhere, users, none given") << false << true << false << QByteArray() << false << 401;
    QTest::newRow("elsewhere, a user") << false << true << false << QByteArray("guest:look-only-1") << false << 200;
    QTest::newRow("a wrong password, even here") << false << true << true << QByteArray("guest:look-only") << false << 401;
    QTest::newRow("an unknown user") << false << true << false << QByteArray("nobody:look-only-1") << false << 401;
    QTest::newRow("ack without a user") << true << true << true << QByteArray() << true << 401;
    QTest::newRow("ack, no users at all") << true << false << true << QByteArray() << true << 403;
    QTest::newRow("ack, a user without the right") << false << true << true << QByteArray("guest:look-only-1") << true << 403;
    QTest::newRow("ack, a user with it") << false << true << false << QByteArray("keeper:granary-night") << true << 200;
}

void tst_webaccess::decisions()
{
    QFETCH(bool, open);
    QFETCH(bool, withUsers);
    QFETCH(bool, loopback);
    QFETCH(QByteArray, credentials);
    QFETCH(bool, acknowledge);
    QFETCH(int, status);
    WebAccessSettings settings;
    settings.open = open;
    if (withUsers)
        settings.users = {{QStringLiteral("keeper"), m_keeperHash, true}, {QStringLiteral("guest"), m_guestHash, false}};
    const QByteArray authorization = credentials.isEmpty() ? QByteArray() : "Basic " + credentials.toBase64();
    WebGate gate(settings);
    for (int asked = 0; asked < 2; ++asked) { // the second time from the gate's memory: the same answer
        const WebDecision d = gate.decide(loopback, authorization, acknowledge);
        QCOMPARE(d.status, status);
        QCOMPARE(d.user.isEmpty(), status == 401 || credentials.isEmpty()); // known, even when not allowed
    }
}

QTEST_GUILESS_MAIN(tst_webaccess)
#include "tst_webaccess.moc"
