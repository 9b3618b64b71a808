#include "core/notify/NotifySender.h"

#include <QDateTime>
#include <QProcess>

#include <curl/curl.h>

#include <mutex>

namespace vx {

namespace {
std::mutex curlLock;
int curlUsers = 0;

size_t keepAnswer(char *data, size_t size, size_t count, void *into)
{
    auto *answer = static_cast<QByteArray *>(into);
    if (answer->size() < 4096) // enough to say what went wrong; the rest is not kept
        answer->append(data, qsizetype(qMin<size_t>(size * count, size_t(4096 - answer->size()))));
    return size * count;
}

struct Upload {
    QByteArray bytes;
    qsizetype at = 0;
};

size_t giveUpload(char *buffer, size_t size, size_t count, void *from)
{
    auto *u = static_cast<Upload *>(from);
    const size_t n = qMin<size_t>(size * count, size_t(u->bytes.size() - u->at));
    memcpy(buffer, u->bytes.constData() + u->at, n);
    u->at += qsizetype(n);
    return n;
}

QString firstLine(const QByteArray &text)
{
    QString line = QString::fromUtf8(text).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (line.size() > 200)
        line = line.left(200) + QStringLiteral("…");
    return line;
}

// Options every transfer shares: the timeout, no signals (threads), TLS as the channel says.
void common(CURL *curl, const NotifyChannel &c, char *error)
{
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, long(c.timeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(qMin(c.timeoutSeconds, 10)));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, c.verifyTls ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, c.verifyTls ? 2L : 0L);
    if (!c.caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, c.caFile.toLocal8Bit().constData());
}

SendResult webhook(const NotifyChannel &c, const NotifyMessage &m, const QString &site)
{
    SendResult r;
    CURL *curl = curl_easy_init();
    if (!curl)
        return {false, QStringLiteral("cannot start libcurl")};
    char error[CURL_ERROR_SIZE] = {};
    const QByteArray body = webhookBody(c, m, site);
    QByteArray answer;
    curl_slist *headers = curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
    if (!c.header.isEmpty())
        headers = curl_slist_append(headers, c.header.toUtf8().constData());
    const QByteArray url = c.url.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keepAnswer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    common(curl, c, error);
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK)
        return {false, QString::fromUtf8(*error ? error : curl_easy_strerror(rc))};
    r.accepted = status >= 200 && status < 300;
    r.answer = QStringLiteral("HTTP %1 %2").arg(status).arg(firstLine(answer)).trimmed();
    return r;
}

SendResult email(const NotifyChannel &c, const NotifyMessage &m)
{
    CURL *curl = curl_easy_init();
    if (!curl)
        return {false, QStringLiteral("cannot start libcurl")};
    char error[CURL_ERROR_SIZE] = {};
    Upload upload{emailMessage(c, m, QDateTime::currentMSecsSinceEpoch()), 0};
    const QByteArray url = c.smtpUrl.toUtf8(), user = c.user.toUtf8(), password = c.password.toUtf8();
    const QByteArray from = "<" + c.from.toUtf8() + ">";
    curl_slist *to = nullptr;
    for (const QString &t : c.to)
        to = curl_slist_append(to, ("<" + t.toUtf8() + ">").constData());
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    if (c.startTls)
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    if (!c.user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, to);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, giveUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    common(curl, c, error);
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(to);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK)
        return {false, QStringLiteral("SMTP %1: %2").arg(status).arg(QString::fromUtf8(*error ? error : curl_easy_strerror(rc)))};
    return {true, QStringLiteral("SMTP %1").arg(status)};
}

SendResult command(const NotifyChannel &c, const NotifyMessage &m)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(c.program, c.arguments);
    if (!p.waitForStarted(c.timeoutSeconds * 1000))
        return {false, QStringLiteral("cannot start %1: %2").arg(c.program, p.errorString())};
    p.write(commandInput(m));
    p.closeWriteChannel();
    if (!p.waitForFinished(c.timeoutSeconds * 1000)) {
        p.kill();
        p.waitForFinished(1000);
        return {false, QStringLiteral("%1 did not end within %2 s").arg(c.program).arg(c.timeoutSeconds)};
    }
    const QString said = firstLine(p.readAll());
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {false, QStringLiteral("exit %1 %2").arg(p.exitCode()).arg(said).trimmed()};
    return {true, QStringLiteral("exit 0 %1").arg(said).trimmed()};
}
} // namespace

void acquireNotifyLibraries()
{
    std::lock_guard<std::mutex> lock(curlLock);
    if (curlUsers++ == 0)
        curl_global_init(CURL_GLOBAL_DEFAULT);
}

void releaseNotifyLibraries()
{
    std::lock_guard<std::mutex> lock(curlLock);
    if (curlUsers > 0 && --curlUsers == 0)
        curl_global_cleanup();
}

SendResult sendNotice(const NotifyChannel &channel, const NotifyMessage &message, const QString &site)
{
    switch (channel.kind) {
    case NotifyChannel::Kind::Webhook: return webhook(channel, message, site);
    case NotifyChannel::Kind::Email: return email(channel, message);
    case NotifyChannel::Kind::Command: return command(channel, message);
    }
    return {};
}

} // namespace vx
