#include "Bus.h"

#include "Control.h"
#include "Dallas.h"
#include "Replies.h"
#include "core/frames/Crc16.h"

#include <QDateTime>

#include <cmath>

namespace vxsim {

using vx::withCrc;

namespace {

constexpr quint8 kReadAddressTarget = 0xFA;
constexpr quint16 kAddressRegister = 0x0B00;

// Register of parameter row r (0..5) is (r + 1) * 256.
int parameterRow(quint16 reg)
{
    return (reg & 0xFF) == 0 && reg >= 0x0100 && reg <= 0x0600 ? (reg >> 8) - 1 : -1;
}

// Whether the sensor of this seed is one of the bad share: the same sensors
// for the same seed, spread evenly over the bus.
bool isBadCode(quint64 seed, double share)
{
    if (share <= 0)
        return false;
    const quint64 h = (seed + 0x632BE59BD9B4E019ull) * 0x9E3779B97F4A7C15ull;
    return double(h >> 11) / double(1ull << 53) < share;
}

} // namespace

Bus::Bus(const BusConfig &config) : m_config(config)
{
    QList<int> addresses = config.addresses;
    if (addresses.isEmpty())
        for (int a = 1; a <= 36; ++a)
            addresses << a;
    for (int i = 0; i < addresses.size(); ++i) {
        SimDevice d;
        d.address = quint8(addresses[i]);
        d.index = i;
        d.params[0] = config.runMode;
        for (int c = 0; c < config.channels; ++c) {
            QList<QByteArray> chain;
            QMap<int, QByteArray> stored;
            for (int s = 0; s < config.sensorsPerChannel; ++s) {
                const quint64 seed = (quint64(config.seed) << 32) ^ (quint64(i) << 16) ^ quint64(c << 8) ^ quint64(s);
                const QByteArray code = sensorCode(seed);
                chain << (isBadCode(seed, config.badCodes) ? withBadCrc(code) : code);
                stored.insert(s + 1, chain.last()); // the device was set up: position s+1 holds sensor s
            }
            d.sensorsOnBus << chain;
            d.stored << stored;
        }
        m_devices << d;
    }
    for (int a : config.relays)
        m_relays.insert(a, RelaySim{});
    const QDateTime now = QDateTime::currentDateTime();
    m_localMsAtStart = now.toMSecsSinceEpoch() + qint64(now.offsetFromUtc()) * 1000;
}

SimDevice *Bus::find(quint8 address)
{
    for (SimDevice &d : m_devices)
        if (d.address == address)
            return &d;
    return nullptr;
}

quint16 Bus::encode(double celsius)
{
    const long hundredths = std::lround(celsius * 100.0);
    const long clamped = std::max(-45535L, std::min(20000L, hundredths));
    return quint16(clamped < 0 ? 65536 + clamped : clamped); // negatives read back as raw - 65536
}

quint16 Bus::pointRegister(const SimDevice &device, int point, qint64 nowMs) const
{
    if (point < 1 || point > kPoints)
        return 0xFFFF;
    const PointChange &change = device.changes[std::size_t(point - 1)];
    if (change.heldRaw >= 0)
        return quint16(change.heldRaw);
    if (point > m_config.pointsPresent)
        return 0xFFFF;
    // A slow drift (ten minutes a cycle) around a level of the device's and point's own.
    const double phase = 2.0 * M_PI * double(nowMs) / 600000.0 + device.index * 0.7 + point * 0.3;
    const double level = m_config.baseTemperature + 0.25 * (device.index % 8) + 0.1 * point;
    const double changed =
        change.heat + change.risen + change.risePerHour * double(nowMs - change.riseSinceMs) / 3600000.0;
    return encode(level + changed + 1.5 * std::sin(phase));
}

QString Bus::apply(const ControlCommand &c, qint64 nowMs)
{
    using K = ControlCommand::Kind;
    if (c.kind == K::Weather) {
        m_config.weather.fixedC = c.humidity ? std::optional<double>(c.amount) : std::nullopt;
        m_config.weather.fixedRh = c.humidity;
        return c.humidity ? QStringLiteral("weather: %1 °C %2 %RH").arg(c.amount, 0, 'f', 1).arg(*c.humidity, 0, 'f', 1)
                          : QStringLiteral("weather: the daily cycle");
    }
    if (c.kind == K::AirFault) {
        int changed = 0;
        for (int a : c.addresses)
            if (m_config.air.contains(a)) {
                m_config.air[a].fault = AirDeviceSim::Fault(c.fault);
                ++changed;
            }
        return changed ? QStringLiteral("airfault: %1 transmitter(s)").arg(changed) : QString();
    }
    if (c.kind == K::Reset) {
        for (SimDevice &d : m_devices) {
            d.changes = {};
            d.silenced = false;
        }
        return QStringLiteral("reset: every device as at start");
    }
    int devices = 0;
    for (SimDevice &d : m_devices) {
        if (!c.addresses.contains(d.address))
            continue;
        ++devices;
        if (c.kind == K::Silence || c.kind == K::Revive) {
            d.silenced = c.kind == K::Silence;
            continue;
        }
        for (int p = 1; p <= kPoints; ++p) {
            if (c.point != 0 && p != c.point)
                continue;
            PointChange &change = d.changes[std::size_t(p - 1)];
            switch (c.kind) {
            case K::Heat: change.heat = c.amount; break;
            case K::Rise: // what has risen so far stays
                change.risen += change.risePerHour * double(nowMs - change.riseSinceMs) / 3600000.0;
                change.risePerHour = c.amount;
                change.riseSinceMs = nowMs;
                break;
            case K::Hold: change.heldRaw = c.raw; break;
            case K::Release: change.heldRaw = -1; break;
            default: break;
            }
        }
    }
    if (devices == 0)
        return QString();
    const QString where = c.point ? QStringLiteral(" point %1").arg(c.point) : QString();
    switch (c.kind) {
    case K::Heat: return QStringLiteral("heat: %1 device(s)%2 %3 degrees").arg(devices).arg(where).arg(c.amount, 0, 'f', 2);
    case K::Rise: return QStringLiteral("rise: %1 device(s)%2 %3 degrees an hour").arg(devices).arg(where).arg(c.amount, 0, 'f', 2);
    case K::Hold: return QStringLiteral("hold: %1 device(s)%2 reads %3").arg(devices).arg(where).arg(c.raw);
    case K::Release: return QStringLiteral("release: %1 device(s)%2").arg(devices).arg(where);
    case K::Silence: return QStringLiteral("silence: %1 device(s)").arg(devices);
    default: return QStringLiteral("revive: %1 device(s)").arg(devices);
    }
}

QByteArray Bus::uploadFrame(const SimDevice &device, qint64 nowMs) const
{
    QByteArray b;
    b.append(char(device.address)).append(char(0x03)).append(char(2 * kUploadRegisters));
    for (int p = 1; p <= kUploadRegisters; ++p)
        appendWord(b, pointRegister(device, p, nowMs));
    return withCrc(b);
}

QByteArray Bus::handle(const QByteArray &request, qint64 nowMs)
{
    if (request.size() < 8 || !vx::hasValidCrc(request.size() == 9 ? request.left(8) : request))
        return {};
    const auto address = quint8(request[0]);
    const auto function = quint8(request[1]);
    if (address == kReadAddressTarget && function == 0x25) {
        if (m_devices.isEmpty())
            return {};
        const quint8 a = m_devices.first().address; // meant for a bus with one device powered
        const char b[5] = {char(a), 0x25, 0x02, char(a), 0x00};
        return withCrc(QByteArray(b, 5));
    }
    if (const auto air = m_config.air.constFind(address); air != m_config.air.cend()) {
        // The headspace follows the grain of the bus's first collector.
        const double grain = m_devices.isEmpty() ? m_config.baseTemperature
                                                 : double(qint16(pointRegister(m_devices.first(), 1, nowMs))) / 100.0;
        const qint64 local = m_localMsAtStart + nowMs;
        return airReply(*air, address, request,
                        air->headspace ? headspaceAir(m_config.weather, grain, local, m_config.seed)
                                       : outsideAir(m_config.weather, local, m_config.seed));
    }
    if (m_relays.contains(address)) {
        RelaySim &relay = m_relays[address];
        const quint8 before = relay.coils;
        const QByteArray reply = relayReply(relay, address, request);
        for (int coil = 0; coil < 8; ++coil)
            if ((before ^ relay.coils) & (1 << coil))
                m_notes << QStringLiteral("relay %1 coil %2 %3").arg(address).arg(coil).arg(relay.coils & (1 << coil) ? "on" : "off");
        return reply;
    }
    SimDevice *d = find(address);
    if (!d || d->silenced || nowMs < m_config.silentUntilMs.value(address, 0))
        return {};
    switch (function) {
    case 0x03: return readPoints(*d, request, nowMs);
    case 0x04: return readParameters(*d, request);
    case 0x06: return quint8(request[2]) == 0x0C ? search(*d, request) : writeRegister(*d, request);
    case 0x22: return serialCommand(*d, request);
    default: return exception(address, function, 0x01);
    }
}

QByteArray Bus::readPoints(SimDevice &d, const QByteArray &request, qint64 nowMs)
{
    const quint16 start = word(request, 2);
    const quint16 count = word(request, 4);
    if (count < 1 || count > 125)
        return exception(d.address, 0x03, 0x03);
    QByteArray b;
    b.append(char(d.address)).append(char(0x03)).append(char(2 * count));
    for (int k = 0; k < count; ++k)
        appendWord(b, pointRegister(d, start + k + 1, nowMs)); // register 0 is point 1
    return withCrc(b);
}

QByteArray Bus::readParameters(SimDevice &d, const QByteArray &request)
{
    const quint16 start = word(request, 2);
    const quint16 count = word(request, 4);
    if (count < 1 || count > 125)
        return exception(d.address, 0x04, 0x03);
    QByteArray b;
    b.append(char(d.address)).append(char(0x04)).append(char(2 * count));
    for (int k = 0; k < count; ++k) {
        // Only the parameter registers and the address register exist.
        const quint16 reg = quint16(start + k);
        const int row = parameterRow(reg);
        if (row >= 0)
            appendWord(b, d.params[std::size_t(row)]);
        else if (reg == kAddressRegister)
            appendWord(b, d.address);
        else
            return exception(d.address, 0x04, 0x02);
    }
    return withCrc(b);
}

QByteArray Bus::writeRegister(SimDevice &d, const QByteArray &request)
{
    const quint16 reg = word(request, 2);
    const quint16 value = word(request, 4);
    const int row = parameterRow(reg);
    if (row >= 0) {
        d.params[std::size_t(row)] = value;
    } else if (reg == kAddressRegister) {
        const quint8 old = d.address;
        for (SimDevice &other : m_devices) // every powered device with that address obeys
            if (other.address == old)
                other.address = quint8(value & 0xFF);
    } else {
        return exception(d.address, 0x06, 0x02);
    }
    return withCrc(request.left(6)); // the request's own six bytes come back
}

QByteArray Bus::search(SimDevice &d, const QByteArray &request)
{
    const int first = quint8(request[3]);
    const int count = quint8(request[5]);
    QByteArray b = request.left(3);
    for (int c = first; c < first + count; ++c)
        b.append(char(c >= 1 && c <= d.sensorsOnBus.size() ? d.sensorsOnBus[c - 1].size() : 0));
    return withCrc(b);
}

QByteArray Bus::serialCommand(SimDevice &d, const QByteArray &request)
{
    const auto sub = quint8(request[2]);
    const int channel = quint8(request[3]);
    const bool validChannel = channel >= 1 && channel <= d.stored.size();
    QByteArray b = request.left(3);
    if (sub == 0x02) { // read stored codes of positions 1..N
        const int n = quint8(request[5]);
        for (int pos = 1; pos <= n; ++pos)
            b += validChannel ? d.stored[channel - 1].value(pos, QByteArray(8, '\xFF')) : QByteArray(8, '\xFF');
        return withCrc(b);
    }
    const int position = quint8(request[4]);
    if (sub == 0x0C && request.size() == 15) { // write a code to a position
        const QByteArray code = request.mid(5, 8);
        const bool ok = validChannel && position >= 1 && isValidSensorCode(code);
        if (ok)
            d.stored[channel - 1].insert(position, code);
        return withCrc(b + (ok ? code : QByteArray(8, '\0')));
    }
    if (sub == 0x01) { // read in the sensor on the channel's bus and store it
        const bool ok = validChannel && position >= 1 && !d.sensorsOnBus[channel - 1].isEmpty();
        const QByteArray code = ok ? d.sensorsOnBus[channel - 1].first() : QByteArray(8, '\0');
        if (ok)
            d.stored[channel - 1].insert(position, code);
        return withCrc(b + code);
    }
    return exception(d.address, 0x22, 0x01);
}

} // namespace vxsim
