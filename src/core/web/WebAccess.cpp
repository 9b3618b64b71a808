#include "core/web/WebAccess.h"

#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace vx::web {

namespace {
constexpr int kIterations = 60000; // tens of ms: slow to guess; WebGate works it out once per user
}

QByteArray hashPassword(const QByteArray &password, const QByteArray &salt, int iterations)
{
    const QByteArray key = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password, salt, iterations, 32);
    return "pbkdf2-sha256$" + QByteArray::number(iterations) + '$' + salt.toBase64() + '$' + key.toBase64();
}

QByteArray makePasswordHash(const QByteArray &password)
{
    QByteArray salt(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()), salt.size() / 4);
    return hashPassword(password, salt, kIterations);
}

bool verifyPassword(const QByteArray &password, const QByteArray &stored)
{
    const QList<QByteArray> parts = stored.split('$');
    if (parts.size() != 4 || parts[0] != "pbkdf2-sha256")
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    if (!ok || iterations < 1000 || iterations > 10000000)
        return false;
    const QByteArray expected = hashPassword(password, QByteArray::fromBase64(parts[2]), iterations);
    // Every byte compared, whatever differs first: the time says nothing.
    if (expected.size() != stored.size())
        return false;
    char diff = 0;
    for (qsizetype i = 0; i < expected.size(); ++i)
        diff |= char(expected[i] ^ stored[i]);
    return diff == 0;
}

std::optional<WebUser> parseWebUser(const QString &name, const QString &value, QString *why)
{
    static const QRegularExpression nameRule(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    if (!nameRule.match(name).hasMatch()) {
        *why = QStringLiteral("[web-users] %1: a user name is 1-64 letters, digits, '_', '.' or '-'").arg(name.left(70));
        return std::nullopt;
    }
    const QStringList parts = value.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.size() > 2 || !parts[0].startsWith(QLatin1String("pbkdf2-sha256$"))
        || parts[0].count(QLatin1Char('$')) != 3 || (parts.size() == 2 && parts[1] != QLatin1String("ack"))) {
        *why = QStringLiteral("[web-users] %1: expected a hash from \"vxcollect passwd\", then \"ack\" or nothing").arg(name);
        return std::nullopt;
    }
    return WebUser{name, parts[0].toLatin1(), parts.size() == 2};
}

std::optional<QPair<QString, QByteArray>> basicCredentials(const QByteArray &authorization)
{
    if (!authorization.startsWith("Basic ") && !authorization.startsWith("basic "))
        return std::nullopt;
    const QByteArray decoded = QByteArray::fromBase64(authorization.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded.indexOf(':');
    if (colon <= 0)
        return std::nullopt;
    return qMakePair(QString::fromUtf8(decoded.left(colon)), decoded.mid(colon + 1));
}

WebDecision decide(const WebAccessSettings &settings, bool fromLoopback, const QByteArray &authorization,
                   bool wantsAcknowledge)
{
    WebDecision d;
    if (const auto credentials = basicCredentials(authorization)) {
        for (const WebUser &u : settings.users)
            if (u.name == credentials->first && verifyPassword(credentials->second, u.hash)) {
                d.user = u.name;
                d.mayAcknowledge = u.ack;
                if (wantsAcknowledge && !u.ack)
                    d.status = 403;
                return d;
            }
        d.status = 401; // a wrong password is asked again, wherever it comes from
        return d;
    }
    if (wantsAcknowledge)
        d.status = settings.users.isEmpty() ? 403 : 401;
    else if (!fromLoopback && !settings.open)
        d.status = settings.users.isEmpty() ? 403 : 401;
    return d;
}

WebDecision WebGate::decide(bool fromLoopback, const QByteArray &authorization, bool wantsAcknowledge)
{
    const auto known = m_known.constFind(authorization);
    if (known != m_known.constEnd()) {
        WebDecision d;
        d.user = known->name;
        d.mayAcknowledge = known->ack;
        d.status = wantsAcknowledge && !known->ack ? 403 : 200;
        return d;
    }
    const WebDecision d = vx::web::decide(m_settings, fromLoopback, authorization, wantsAcknowledge);
    if (!d.user.isEmpty()) {
        if (m_known.size() >= 256) // a bound, whatever a client sends
            m_known.clear();
        m_known.insert(authorization, WebUser{d.user, {}, d.mayAcknowledge});
    }
    return d;
}

} // namespace vx::web
