#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace vx::web {

// Who may use the web view. A password is kept only as a salted, slow hash
// (PBKDF2-HMAC-SHA256): "pbkdf2-sha256$ITERATIONS$SALT$KEY", base64 both.
struct WebUser {
    QString name;
    QByteArray hash;
    bool ack = false; // may acknowledge alarms
};

QByteArray hashPassword(const QByteArray &password, const QByteArray &salt, int iterations);
// A new random salt and the default cost.
QByteArray makePasswordHash(const QByteArray &password);
bool verifyPassword(const QByteArray &password, const QByteArray &stored);
// A user's line of the [web-users] section: "HASH" or "HASH ack".
std::optional<WebUser> parseWebUser(const QString &name, const QString &value, QString *why);
// "Basic base64(user:password)".
std::optional<QPair<QString, QByteArray>> basicCredentials(const QByteArray &authorization);

struct WebAccessSettings {
    bool open = false;    // anyone may look, from anywhere (behind the site's own gate)
    QList<WebUser> users; // when there are any, they may look from anywhere
};

// What a request may do: look (GET), acknowledge, or nothing (401: ask for a
// password; 403: a password would not help).
struct WebDecision {
    int status = 200;     // 200, 401 or 403
    QString user;         // who, when a password was given and right
    bool mayAcknowledge = false;
};
WebDecision decide(const WebAccessSettings &settings, bool fromLoopback, const QByteArray &authorization,
                   bool wantsAcknowledge);

// decide(), with the credentials that were right remembered (by their header),
// so the slow hash is worked out once per user and password, not per request.
// For one thread (the HTTP server's).
class WebGate {
public:
    explicit WebGate(WebAccessSettings settings) : m_settings(std::move(settings)) {}
    WebDecision decide(bool fromLoopback, const QByteArray &authorization, bool wantsAcknowledge);
    const WebAccessSettings &settings() const { return m_settings; }

private:
    WebAccessSettings m_settings;
    QHash<QByteArray, WebUser> m_known;
};

} // namespace vx::web
