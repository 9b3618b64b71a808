#pragma once

#include <QString>

namespace vx {

struct MqttSettings {
    QString host;                 // empty: no MQTT
    int port = 1883;
    QString prefix = QStringLiteral("vxmon");
    int qos = 1;
    QString user, password;
    QString caFile;               // TLS with this CA file; empty: plain TCP
    QString clientId;             // empty: vxcollect-<site>
    int keepAliveSeconds = 30;
    bool version311 = false;      // MQTT 3.1.1 for brokers without 5
    int inflight = 256;           // QoS 1 messages awaiting the broker's acknowledgement at once

    bool enabled() const { return !host.isEmpty(); }
};

} // namespace vx
