#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

namespace vx {

struct DeviceMetrics {
    int address = 0;
    bool up = false;
    qint64 requests = 0, goodReplies = 0, timeouts = 0, crcErrors = 0, exceptions = 0, uploads = 0;
    double responseMeanSeconds = 0, responseMaxSeconds = 0;
    std::optional<double> lastSeenAgeSeconds;   // nothing: never seen
};

struct TemperatureMetric {
    int address = 0, point = 0;
    double celsius = 0;
};

// What a collector says of itself to a monitoring system.
struct CollectorMetrics {
    QList<DeviceMetrics> devices;
    QList<TemperatureMetric> temperatures;     // the latest good reading of each point
    bool portOpen = false;
    bool busPaused = false;
    int linkOutages = 0;
    qint64 exchanges = 0, cycles = 0;
    bool storeWritable = true;
    qint64 storePending = 0, storeCommitted = 0, storeLost = 0;
    std::optional<qint64> centralBacklog;      // nothing: no central store
    std::optional<qint64> mqttBacklog;         // nothing: no MQTT
    bool mqttConnected = false;
    qint64 mqttSetAside = 0;
    int activeAlarms = 0;
    struct NotifyChannel {
        QString name;
        qint64 waiting = 0, sent = 0, expired = 0;
    };
    QList<NotifyChannel> notify;               // empty: no notifications
};

// The Prometheus text exposition format (version 0.0.4): a HELP and a TYPE
// line before each family, one sample a line.
QByteArray prometheusText(const CollectorMetrics &metrics);

// A label value as the format wants it: backslash, double quote and line feed escaped.
QByteArray prometheusLabelValue(const QByteArray &value);

} // namespace vx
