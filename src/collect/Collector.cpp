#include "collect/Collector.h"

#include "acquisition/Measurement.h"
#include "core/FormState.h"
#include "core/HexText.h"
#include "grain/AlarmSettingsFile.h"
#include "store/ReadingStore.h"
#include "platform/SerialPort.h"
#include "platform/TcpTarget.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace vx {

Collector::Collector(const CollectorSettings &settings, std::unique_ptr<SerialPort> port, QObject *parent)
    : QObject(parent), m_settings(settings), m_port(std::move(port)), m_store(settings.store)
{
    connect(&m_store, &StoreService::problem, this, [](const QString &message) {
        std::fprintf(stderr, "vxcollect: %s\n", qPrintable(message));
    });
    connect(&m_store, &StoreService::recovered, this, [](const QString &message) {
        std::fprintf(stderr, "vxcollect: %s\n", qPrintable(message));
    });
    m_port->setSettings(QStringLiteral("%1,N,8,1").arg(m_settings.bus.baud));
    m_engine = std::make_unique<BusEngine>(*m_port, m_settings.bus);
    m_records.setProgramDir(m_settings.programDir);
    m_records.setLossHandler([this](const QString &path) {
        std::fprintf(stderr, "vxcollect: cannot write %s; records are lost (said once)\n", qPrintable(path));
    });
    const QString dataGet = QDir(m_settings.programDir).filePath(QStringLiteral("dataGet.txt"));
    connect(m_engine.get(), &BusEngine::received, this, [this, dataGet](const QByteArray &bytes, const QDateTime &at) {
        m_records.append(dataGet, dataGetRecord(at, RecHexTail(bytes)));
    });
    connect(m_engine.get(), &BusEngine::readings, this,
            [this](int address, const QList<quint16> &registers, const QDateTime &arrived, const QByteArray &) {
                onReadings(address, registers, arrived);
            });
    connect(m_engine.get(), &BusEngine::deviceAnswering, this, [this](int address, bool answering) {
        m_store.addEvent({QDateTime::currentMSecsSinceEpoch(), address,
                          answering ? QStringLiteral("answering") : QStringLiteral("silent"), QString()});
        if (m_settings.json)
            print(QJsonDocument(QJsonObject{{QStringLiteral("device"), address},
                                            {QStringLiteral("state"), answering ? QStringLiteral("answering")
                                                                                : QStringLiteral("silent")},
                                            {QStringLiteral("time"),
                                             QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}})
                      .toJson(QJsonDocument::Compact));
    });
    connect(m_engine.get(), &BusEngine::cycleDone, this, &Collector::onCycle);
    connect(m_port.get(), &SerialPort::commEvent, this, [this](CommEvent event) {
        if (event == CommEvent::Error)
            onPortLost();
    });
    const AlarmSettingsRead alarms = readAlarmSettings(alarmSettingsPath(m_settings.programDir));
    m_alarmSettings = alarms.settings;
    m_alarmSilentMinutes = alarms.silentMinutes;
    for (const QString &e : alarms.errors)
        std::fprintf(stderr, "vxcollect: %s (the default is used)\n", qPrintable(e));
    // Once a second, whether polling or only listening to uploads.
    m_alarmTimer.setInterval(1000);
    connect(&m_alarmTimer, &QTimer::timeout, this, &Collector::evaluateAlarms);
    m_reconnect.setSingleShot(true);
    connect(&m_reconnect, &QTimer::timeout, this, &Collector::reconnect);
    connect(m_engine.get(), &BusEngine::stopped, this, &Collector::stopped);
}

Collector::~Collector() = default;

Collector::StartResult Collector::start(QString *why)
{
    QString storeWhy;
    if (!m_store.start(&storeWhy)) {
        *why = QStringLiteral("cannot use the readings store: %1").arg(storeWhy);
        return StartResult::StoreUnavailable;
    }
    if (!m_port->open()) {
        const QString device = m_port->deviceName();
        *why = isTcpDevice(device) ? m_port->openError()
                                   : QStringLiteral("cannot open the port %1 (%2)").arg(m_settings.port, device);
        return StartResult::PortUnavailable;
    }
    QDir(m_settings.programDir).mkpath(QStringLiteral("data"));
    m_sinceStatus.start();
    m_engine->start();
    m_alarmTimer.start();
    return StartResult::Started;
}

void Collector::stop()
{
    m_reconnect.stop();
    m_alarmTimer.stop();
    if (m_engine->running())
        m_engine->stop();
    else
        emit stopped();
}

// The port went away under us (a gateway dropped the connection, an adapter
// was pulled): the engine waits, and the port is opened again, less and less
// often, until it is back.
void Collector::onPortLost()
{
    ++m_outages;
    m_downSince.start();
    m_reconnectDelayMs = 1000;
    std::fprintf(stderr, "vxcollect: lost %s; reconnecting (outage %d)\n", qPrintable(m_port->deviceName()), m_outages);
    m_reconnect.start(m_reconnectDelayMs);
}

void Collector::reconnect()
{
    if (m_port->open()) {
        std::fprintf(stderr, "vxcollect: %s back after %.1f s\n", qPrintable(m_port->deviceName()),
                     m_downSince.elapsed() / 1000.0);
        return;
    }
    m_reconnectDelayMs = qMin(30000, m_reconnectDelayMs * 2);
    m_reconnect.start(m_reconnectDelayMs);
}

void Collector::onReadings(int address, const QList<quint16> &registers, const QDateTime &arrived)
{
    // The window's data-log record, in the window's file, so either can collect.
    if (address >= 1 && address <= kMaxReplyAddress) {
        const QString log = QDir(m_settings.programDir).filePath(QStringLiteral("data/%1.txt").arg(address));
        m_records.append(log, dataLogRecord(arrived, valueTexts(registers)));
    }
    m_store.add({arrived.toMSecsSinceEpoch(), address, registers});
    m_snapshot.take(address, registers, arrived.toMSecsSinceEpoch());
    if (!m_settings.json)
        return;
    QJsonArray raw, celsius;
    for (quint16 r : registers) {
        raw.append(int(r));
        celsius.append(r == kNoReading ? QJsonValue() : QJsonValue(hundredthsOf(r) / 100.0));
    }
    print(QJsonDocument(QJsonObject{{QStringLiteral("device"), address},
                                    {QStringLiteral("time"), arrived.toUTC().toString(Qt::ISODateWithMs)},
                                    {QStringLiteral("raw"), raw},
                                    {QStringLiteral("celsius"), celsius}})
              .toJson(QJsonDocument::Compact));
}

void Collector::evaluateAlarms()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    AlarmSettings settings = m_alarmSettings;
    // Silent: three cycles without a reply (ten minutes when devices only upload), or as configured.
    const qint64 cycle = qMax<qint64>(m_lastCycleMs, m_settings.bus.cyclePeriodMs);
    settings.silentAfterMs = m_alarmSilentMinutes > 0 ? qint64(m_alarmSilentMinutes) * 60000
                             : m_settings.bus.mode == BusSettings::Mode::Upload ? 600000
                                                                                 : qMax<qint64>(3 * cycle, 1000);
    if (now - m_windowAgoAt >= 60000) {
        m_windowAgoAt = now;
        m_windowAgo.clear();
        if (!m_readBack) {
            QString why;
            if (const auto location = parseStoreLocation(m_settings.store.local, &why))
                m_readBack = ReadingStore::open(*location, m_settings.store.site, &why);
        }
        const qint64 window = qint64(settings.riseWindowHours) * 3600000;
        const qint64 slack = qMax<qint64>(window / 8, 30 * 60000);
        for (int c = 1; m_readBack && c <= kCables; ++c) {
            for (int l = 1; l <= kLayers; ++l) {
                const PointReading &latest = m_snapshot.at(c, l).latest;
                if (!latest.temperature())
                    continue;
                const qint64 ago = latest.timeMs - window;
                const StoredReading *best = nullptr;
                const QList<StoredReading> near = m_readBack->readings(c, l, ago - slack, ago + slack);
                for (const StoredReading &r : near)
                    if (r.status == ReadingStatus::Ok && (!best || qAbs(r.timeMs - ago) < qAbs(best->timeMs - ago)))
                        best = &r;
                if (best)
                    m_windowAgo.insert({c, l}, {best->timeMs, best->raw});
            }
        }
    }
    for (const AlarmTransition &t : m_alarms.update(vx::evaluateAlarms(m_snapshot, now, settings, m_windowAgo), now)) {
        m_store.addEvent({t.alarm.changedMs, t.alarm.condition.cable, t.eventKind(), t.text()});
        if (m_settings.json) {
            const AlarmCondition &c = t.alarm.condition;
            QJsonObject o{{QStringLiteral("alarm"), ruleKey(c.rule)},
                          {QStringLiteral("state"), t.what},
                          {QStringLiteral("cable"), c.cable},
                          {QStringLiteral("value"), c.value},
                          {QStringLiteral("detail"), c.detail},
                          {QStringLiteral("time"), QDateTime::fromMSecsSinceEpoch(t.alarm.changedMs, Qt::UTC)
                                                       .toString(Qt::ISODateWithMs)}};
            if (c.layer > 0)
                o.insert(QStringLiteral("layer"), c.layer);
            print(QJsonDocument(o).toJson(QJsonDocument::Compact));
        }
    }
}

void Collector::onCycle()
{
    if (m_cycleClock.isValid())
        m_lastCycleMs = m_cycleClock.elapsed();
    m_cycleClock.start();
    if (m_settings.quiet || m_settings.json)
        return;
    int answering = 0, silent = 0;
    for (const DeviceStats &s : m_engine->stats())
        (s.answering ? answering : silent) += 1;
    const double seconds = qMax(1e-3, m_sinceStatus.nsecsElapsed() / 1e9);
    const double rate = double(m_engine->exchanges() - m_exchangesAtStatus) / seconds;
    m_exchangesAtStatus = m_engine->exchanges();
    m_sinceStatus.start();
    QString line = QStringLiteral("cycle %1: %2 answering, %3 silent, %4 exchanges/s")
                       .arg(m_engine->cycles())
                       .arg(answering)
                       .arg(silent)
                       .arg(rate, 0, 'f', 1);
    if (m_store.forwarding())
        line += QStringLiteral(", central %1: %2 readings waiting")
                    .arg(m_store.centralConnected() ? QStringLiteral("connected") : QStringLiteral("unreachable"))
                    .arg(m_store.centralBacklog());
    if (m_outages > 0)
        line += QStringLiteral(", %1 link outages").arg(m_outages);
    if (m_alarms.activeCount() > 0)
        line += QStringLiteral(", %1 alarms").arg(m_alarms.activeCount());
    if (m_store.readingsLost() > 0)
        line += QStringLiteral(", %1 readings lost (store not writable)").arg(m_store.readingsLost());
    print(line.toUtf8());
}

void Collector::print(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace vx
