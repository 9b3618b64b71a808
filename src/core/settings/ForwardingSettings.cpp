#include "core/settings/ForwardingSettings.h"

#include "core/central/MqttMessages.h"
#include "core/records/ShownValue.h"
#include "core/settings/SettingTexts.h"
#include "core/store/StoreLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>

namespace vx {

ForwardingRead readForwardingSettings(const SettingLookup &lookup, const QString &programDir,
                                      const QString &namePrefix)
{
    ForwardingRead read;
    auto error = [&](const char *key, const QString &why) {
        read.errors << namePrefix + QLatin1String(key) + QStringLiteral(": ") + why;
    };
    auto text = [&](const char *key, const char *fallback = "") {
        return lookup(key).value_or(QString::fromLatin1(fallback)).trimmed();
    };
    auto number = [&](const char *key, int fallback, int lo, int hi) {
        const QString t = text(key);
        if (t.isEmpty())
            return fallback;
        bool ok = false;
        const int v = t.toInt(&ok);
        if (!ok || v < lo || v > hi) {
            error(key, QStringLiteral("%1 is not a whole number from %2 to %3").arg(shownValue(t)).arg(lo).arg(hi));
            return fallback;
        }
        return v;
    };

    StoreSettings &store = read.store;
    store.local = text("store");
    if (store.local.isEmpty())
        store.local = QDir(programDir).filePath(QStringLiteral("vxmon.db"));
    store.central = text("central");
    store.site = text("site");
    if (store.site.isEmpty())
        store.site = QSysInfo::machineHostName();
    store.keepDays = number("keep-days", 0, 0, 36500);
    QString why;
    if (!parseStoreLocation(store.local, &why))
        error("store", why);
    if (!store.central.isEmpty()) {
        const auto central = parseStoreLocation(store.central, &why);
        if (!central || central->engine != StoreLocation::Engine::PostgreSQL)
            error("central", central ? QStringLiteral("%1 is not a postgresql:// URL").arg(shownValue(store.central)) : why);
    }

    MqttSettings &mqtt = read.mqtt;
    const QString broker = text("mqtt");
    if (!broker.isEmpty()) {
        if (const auto hp = parseHostPort(broker, 1883)) {
            mqtt.host = hp->host;
            mqtt.port = hp->port;
        } else {
            error("mqtt", QStringLiteral("%1 is not a host or host:port").arg(shownValue(broker)));
        }
    }
    mqtt.prefix = text("mqtt-prefix", "vxmon");
    if (const QString problem = mqttPrefixProblem(mqtt.prefix); !problem.isEmpty())
        error("mqtt-prefix", problem);
    mqtt.qos = number("mqtt-qos", 1, 0, 2);
    mqtt.user = lookup("mqtt-user").value_or(QString());
    mqtt.password = lookup("mqtt-password").value_or(QString());
    mqtt.caFile = text("mqtt-ca");
    if (!mqtt.caFile.isEmpty() && !QFileInfo(mqtt.caFile).isReadable())
        error("mqtt-ca", QStringLiteral("cannot read %1").arg(shownValue(mqtt.caFile)));
    mqtt.clientId = text("mqtt-client-id");
    mqtt.keepAliveSeconds = number("mqtt-keepalive", 30, 5, 65535);
    const QString version = text("mqtt-version", "5");
    if (version == QLatin1String("3.1.1") || version == QLatin1String("311"))
        mqtt.version311 = true;
    else if (version != QLatin1String("5"))
        error("mqtt-version", QStringLiteral("%1 is not 5 or 3.1.1").arg(shownValue(version)));
    store.mqtt = mqtt.enabled();
    // Refused here, not at every reconnection: a broker (and libmosquitto) never takes these.
    if (const QString problem = siteNameProblem(store.site); !problem.isEmpty())
        error("site", problem);
    else if (const QString topic = mqttSiteProblem(store.site); mqtt.enabled() && !topic.isEmpty())
        error("site", topic);
    if (mqtt.enabled()) {
        const QString id = mqtt.clientId.isEmpty() ? QStringLiteral("vxcollect-") + store.site : mqtt.clientId;
        if (const QString problem = mqttTextProblem(id, "the MQTT client id"); !problem.isEmpty())
            error("mqtt-client-id", problem);
        if (const QString problem = mqttTextProblem(mqtt.user, "the MQTT user name"); !problem.isEmpty())
            error("mqtt-user", problem);
        if (mqtt.password.toUtf8().size() > 65535)
            error("mqtt-password", QStringLiteral("longer than MQTT's 65,535 bytes"));
    }
    return read;
}

ForwardingRead readWindowForwarding(const QString &programDir)
{
    const QString conf = QDir(programDir).filePath(QStringLiteral("store.conf"));
    if (!QFileInfo(conf).isFile())
        return readForwardingSettings([](const char *) { return std::optional<QString>(); }, programDir, QString());
    QSettings ini(conf, QSettings::IniFormat);
    const auto section = [](const QByteArray &key) {
        return key == "central" ? QStringLiteral("central/") : key.startsWith("mqtt") ? QStringLiteral("mqtt/")
                                                                                       : QStringLiteral("store/");
    };
    ForwardingRead read = readForwardingSettings(
        [&](const char *key) -> std::optional<QString> {
            const QString name = section(key) + QLatin1String(key);
            if (ini.contains(name)) {
                const QVariant v = ini.value(name);
                return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
            }
            // Earlier windows wrote keep_days, and put central in [store].
            if (qstrcmp(key, "keep-days") == 0 && ini.contains(QStringLiteral("store/keep_days")))
                return ini.value(QStringLiteral("store/keep_days")).toString();
            if (qstrcmp(key, "central") == 0 && ini.contains(QStringLiteral("store/central")))
                return ini.value(QStringLiteral("store/central")).toString();
            return std::nullopt;
        },
        programDir, QStringLiteral("store.conf: "));
    // Notifications as vxcollect sends them, from the same kind of sections.
    QStringList notifyErrors;
    read.notify = readNotifySettings(ini, &notifyErrors);
    for (const QString &e : std::as_const(notifyErrors))
        read.errors << QStringLiteral("store.conf: ") + e;
    return read;
}

} // namespace vx
