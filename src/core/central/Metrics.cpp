#include "core/central/Metrics.h"

#include <QLocale>

#include <cmath>
#include <functional>

namespace vx {

namespace {

QByteArray number(double v)
{
    // Counters are whole and may pass 2^32: written in full, never rounded to ten digits.
    if (v == std::floor(v) && std::fabs(v) < 9.0e15)
        return QByteArray::number(qint64(v));
    return QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
}

class Exposition {
public:
    void family(const char *name, const char *type, const char *help)
    {
        m_name = name;
        m_out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const QByteArray &labels, double value)
    {
        m_out += m_name;
        if (!labels.isEmpty())
            m_out += '{' + labels + '}';
        m_out += ' ' + number(value) + '\n';
    }
    QByteArray text() const { return m_out; }

private:
    QByteArray m_name, m_out;
};

QByteArray addressLabel(int address)
{
    return "address=\"" + QByteArray::number(address) + '"';
}

} // namespace

QByteArray prometheusLabelValue(const QByteArray &value)
{
    QByteArray out;
    for (const char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray prometheusText(const CollectorMetrics &m)
{
    Exposition e;
    e.family("vxcollect_temperature_celsius", "gauge", "Latest good reading of a point.");
    for (const TemperatureMetric &t : m.temperatures)
        e.sample(addressLabel(t.address) + ",point=\"" + QByteArray::number(t.point) + '"', t.celsius);

    const auto perDevice = [&](const char *name, const char *type, const char *help,
                               const std::function<std::optional<double>(const DeviceMetrics &)> &value) {
        e.family(name, type, help);
        for (const DeviceMetrics &d : m.devices)
            if (const auto v = value(d))
                e.sample(addressLabel(d.address), *v);
    };
    perDevice("vxcollect_device_up", "gauge", "1 while the device answers, 0 once it missed a whole exchange.",
              [](const DeviceMetrics &d) { return d.up ? 1.0 : 0.0; });
    perDevice("vxcollect_requests_total", "counter", "Requests sent to the device.",
              [](const DeviceMetrics &d) { return double(d.requests); });
    perDevice("vxcollect_good_replies_total", "counter", "Replies that passed every check.",
              [](const DeviceMetrics &d) { return double(d.goodReplies); });
    perDevice("vxcollect_timeouts_total", "counter", "Requests with no whole reply in time.",
              [](const DeviceMetrics &d) { return double(d.timeouts); });
    perDevice("vxcollect_crc_errors_total", "counter", "Replies that failed their CRC.",
              [](const DeviceMetrics &d) { return double(d.crcErrors); });
    perDevice("vxcollect_exceptions_total", "counter", "Modbus exception replies.",
              [](const DeviceMetrics &d) { return double(d.exceptions); });
    perDevice("vxcollect_uploads_total", "counter", "Frames the device sent on its own.",
              [](const DeviceMetrics &d) { return double(d.uploads); });
    perDevice("vxcollect_response_seconds_mean", "gauge", "Mean time from request to reply.",
              [](const DeviceMetrics &d) { return d.goodReplies > 0 ? std::optional<double>(d.responseMeanSeconds) : std::nullopt; });
    perDevice("vxcollect_response_seconds_max", "gauge", "Longest time from request to reply.",
              [](const DeviceMetrics &d) { return d.goodReplies > 0 ? std::optional<double>(d.responseMaxSeconds) : std::nullopt; });
    perDevice("vxcollect_last_seen_age_seconds", "gauge", "Seconds since the device's last good frame.",
              [](const DeviceMetrics &d) { return d.lastSeenAgeSeconds; });

    e.family("vxcollect_port_up", "gauge", "1 while the serial port or gateway connection is open.");
    e.sample({}, m.portOpen ? 1 : 0);
    e.family("vxcollect_bus_paused", "gauge", "1 while a window holds the bus (the port is closed on purpose).");
    e.sample({}, m.busPaused ? 1 : 0);
    e.family("vxcollect_link_outages_total", "counter", "Times the port or gateway connection was lost.");
    e.sample({}, m.linkOutages);
    e.family("vxcollect_exchanges_total", "counter", "Requests sent on the bus.");
    e.sample({}, double(m.exchanges));
    e.family("vxcollect_cycles_total", "counter", "Polling cycles completed.");
    e.sample({}, double(m.cycles));
    e.family("vxcollect_store_writable", "gauge", "1 while the readings store takes commits.");
    e.sample({}, m.storeWritable ? 1 : 0);
    e.family("vxcollect_store_pending_readings", "gauge", "Readings taken and not yet committed to the store.");
    e.sample({}, double(m.storePending));
    e.family("vxcollect_store_committed_readings_total", "counter", "Readings committed to the store.");
    e.sample({}, double(m.storeCommitted));
    e.family("vxcollect_store_lost_readings_total", "counter", "Readings dropped while the store could not be written.");
    e.sample({}, double(m.storeLost));
    if (m.centralBacklog) {
        e.family("vxcollect_central_backlog_readings", "gauge", "Readings waiting for the central store.");
        e.sample({}, double(*m.centralBacklog));
    }
    if (m.mqttBacklog) {
        e.family("vxcollect_mqtt_backlog_readings", "gauge", "Readings waiting for the MQTT broker.");
        e.sample({}, double(*m.mqttBacklog));
        e.family("vxcollect_mqtt_connected", "gauge", "1 while connected to the MQTT broker.");
        e.sample({}, m.mqttConnected ? 1 : 0);
        e.family("vxcollect_mqtt_messages_set_aside_total", "counter",
                 "Messages the broker would never take, set aside (stored as mqtt_refused events).");
        e.sample({}, double(m.mqttSetAside));
    }
    e.family("vxcollect_active_alarms", "gauge", "Alarms raised and not yet cleared.");
    e.sample({}, m.activeAlarms);
    const auto channel = [](const QString &name) { return "channel=\"" + prometheusLabelValue(name.toUtf8()) + '"'; };
    if (!m.notify.isEmpty()) {
        e.family("vxcollect_notify_waiting", "gauge", "Notifications a channel has not yet accepted.");
        for (const auto &c : m.notify)
            e.sample(channel(c.name), double(c.waiting));
        e.family("vxcollect_notify_sent_total", "counter", "Notifications a channel accepted.");
        for (const auto &c : m.notify)
            e.sample(channel(c.name), double(c.sent));
        e.family("vxcollect_notify_expired_total", "counter", "Notifications given up after the channel's maximum age.");
        for (const auto &c : m.notify)
            e.sample(channel(c.name), double(c.expired));
    }
    return e.text();
}

} // namespace vx
