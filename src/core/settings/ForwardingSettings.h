#pragma once

#include "core/notify/NotifySettings.h"

#include "core/central/MqttSettings.h"
#include "core/store/StoreService.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace vx {

// Where readings go besides the text logs: the local store, a central
// PostgreSQL store and an MQTT broker. vxcollect and the window read them
// from the same keys: vxcollect from its options and [collect] section, the
// window from store.conf in its program directory:
//   [store]    store, site, keep-days (keep_days as older files write it)
//   [central]  central
//   [mqtt]     mqtt, mqtt-prefix, mqtt-qos, mqtt-user, mqtt-password,
//              mqtt-ca, mqtt-client-id, mqtt-version, mqtt-keepalive
struct ForwardingRead {
    StoreSettings store;
    MqttSettings mqtt;
    NotifySettings notify; // the window's: [notify.NAME] sections of store.conf
    QStringList errors; // one line per bad value, naming it: "<namePrefix><key>: why"
};

// value(key): the text set for the key, or nothing when it is not set (the default is used).
using SettingLookup = std::function<std::optional<QString>(const char *key)>;
ForwardingRead readForwardingSettings(const SettingLookup &value, const QString &programDir,
                                      const QString &namePrefix);

// The window's store.conf, read through the same keys; a file that is not
// there means the local store alone.
ForwardingRead readWindowForwarding(const QString &programDir);

} // namespace vx
