#pragma once

#include "core/store/ReadingSet.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace vx {

// Who holds the bus while the collecting service has let go of it, and until
// when. One holder at a time; it keeps the bus by renewing before the lease
// runs out, and loses it when it does not (a window that died or hangs).
class BusLease {
public:
    explicit BusLease(qint64 leaseMs) : m_leaseMs(leaseMs) {}

    struct Holder {
        QString who;   // for people: "vxmon (keeper@depot, pid 4711)"
        QString token; // the holder's own secret: renew, give and frames carry it
        qint64 expiresMs = 0;
    };
    enum class Take { Granted, AlreadyYours, Busy, Refused };

    Take take(const QString &who, const QString &token, qint64 nowMs);
    bool renew(const QString &token, qint64 nowMs);
    // Ends the lease when token is the holder's.
    bool give(const QString &token);
    // Ends a lease that was not renewed in time; true when it did.
    bool lapse(qint64 nowMs);
    bool heldBy(const QString &token) const { return m_holder && m_holder->token == token; }
    const std::optional<Holder> &holder() const { return m_holder; }
    qint64 leaseMs() const { return m_leaseMs; }

private:
    qint64 m_leaseMs;
    std::optional<Holder> m_holder;
};

// The control socket's lines: one JSON object per line each way.
namespace busshare {
constexpr int kMaxLineBytes = 64 * 1024; // a frame of 18 registers is 200 bytes
constexpr int kAnswerWithinMs = 3000;    // a service that says nothing in this time is not answering

QByteArray line(const QJsonObject &object);
// The service's answers.
QJsonObject ok(QJsonObject fields = {});
QJsonObject refused(const QString &error, const QString &text);
// A frame the holder took, for the service's store: its registers and when it arrived.
QJsonObject frameRequest(const QString &token, const ReadingSet &frame);
std::optional<ReadingSet> frameOf(const QJsonObject &request, QString *why);
} // namespace busshare

} // namespace vx
