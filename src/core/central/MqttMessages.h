#pragma once

#include "core/bus/BusEngine.h"
#include "core/store/ReadingStore.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace vx {

struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
    bool retain = false;
};

// The topics of one collector: <prefix>/<site>/<address>[/<point>|/state],
// <prefix>/<site>/alarms and <prefix>/<site>/status.
struct MqttTopics {
    QString prefix = QStringLiteral("vxmon");
    QString site;

    QByteArray point(int address, int point) const;
    QByteArray frame(int address) const;
    QByteArray state(int address) const;
    QByteArray alarms() const;
    QByteArray status() const;

private:
    QByteArray base() const;
};

// Why a text cannot be a topic prefix (levels split by '/') or a site (one
// level); empty when it can. Wildcards and empty levels would make every
// subscriber's filter match the wrong thing.
QString mqttPrefixProblem(const QString &prefix);
QString mqttSiteProblem(const QString &site);
// Why a broker would refuse the text as an MQTT string (a client id, a user
// name): control characters, non-characters, bytes that are not UTF-8, over
// 65,535 bytes. `what` names it in the message.
QString mqttTextProblem(const QString &text, const char *what);
// Why a site name cannot be used by the stores: empty, too long for an index
// key, or not a clean MQTT string. Topic rules come on top when MQTT is on.
constexpr int kMaxSiteBytes = 200;
QString siteNameProblem(const QString &site);

// RFC 3339 in UTC with milliseconds: "2026-12-07T08:30:15.123Z".
QByteArray rfc3339Utc(qint64 timeMs);

// {"time": ..., "celsius": 21.5 | null, "raw": 2150, "status": "ok"}
QByteArray pointPayload(qint64 timeMs, quint16 raw);
// {"time": ..., "celsius": [...], "raw": [...], "status": [...]}: point k at index k - 1.
QByteArray framePayload(const ReadingSet &frame);
// {"state": "answering" | "silent", "time": ..., "requests": n, ...}
QByteArray statePayload(const DeviceStats &stats, qint64 nowMs);
// {"time": ..., "cable": n, "state": "raised" | "cleared" | ..., "text": "..."}
QByteArray alarmPayload(const StoreEvent &event);

// What an outbox entry is published as: a frame as one message per point and
// one for the whole frame; an alarm event as one message; other events
// (answering, silent: the retained state says it) as nothing.
QList<MqttMessage> mqttMessagesFor(const OutboxEntry &entry, const MqttTopics &topics);

} // namespace vx
