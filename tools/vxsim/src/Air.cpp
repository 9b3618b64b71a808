#include "Air.h"
#include "Replies.h"

#include "core/air/Psychrometrics.h"
#include "core/frames/Crc16.h"

#include <cmath>

namespace vxsim {

namespace {
constexpr qint64 kDayMs = 24 * 3600 * 1000LL;

double noiseAt(qint64 nowMs, quint32 seed, int salt)
{
    // The same noise for the same minute, seed and quantity.
    quint64 h = quint64(nowMs / 60000) * 0x9E3779B97F4A7C15ull ^ (quint64(seed) << 16) ^ quint64(salt);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return double(h >> 11) / double(1ull << 53) * 2 - 1;
}

} // namespace

AirNow outsideAir(const Weather &w, qint64 nowMs, quint32 seed)
{
    // Coldest and wettest at 05:00, warmest and driest at 17:00 (local time is UTC here).
    const double hour = double(nowMs % kDayMs) / 3600000.0;
    const double cycle = std::cos(2 * M_PI * (hour - 17) / 24);
    AirNow a;
    a.celsius = w.fixedC ? *w.fixedC : w.meanC + w.swingC * cycle + w.noise * noiseAt(nowMs, seed, 1);
    a.rh = w.fixedRh ? *w.fixedRh : w.rhMean - w.rhSwing * cycle + 2.5 * w.noise * noiseAt(nowMs, seed, 2);
    a.rh = qBound(1.0, a.rh, 100.0);
    return a;
}

AirNow headspaceAir(const Weather &w, double grainC, qint64 nowMs, quint32 seed)
{
    const AirNow out = outsideAir(w, nowMs, seed);
    AirNow a;
    a.celsius = 0.7 * grainC + 0.3 * out.celsius;
    const double vapour = out.rh / 100 * vx::saturationVapourPressureHpa(out.celsius);
    a.rh = qBound(1.0, 100 * vapour / vx::saturationVapourPressureHpa(a.celsius), 100.0);
    return a;
}

QByteArray airReply(const AirDeviceSim &d, quint8 address, const QByteArray &request, AirNow air)
{
    const quint8 function = quint8(request[1]);
    if (function != 0x03 && function != 0x04)
        return exception(address, function, 0x01);
    if (d.fault == AirDeviceSim::Fault::Exception)
        return exception(address, function, 0x04);
    const quint16 start = word(request, 2);
    const quint16 count = word(request, 4);
    if (start + count > 2 || count < 1)
        return exception(address, function, 0x02);
    const double celsius = d.fault == AirDeviceSim::Fault::Range ? 150.0 : air.celsius;
    const quint16 t = quint16(qint16(qRound(celsius * 10)));
    const quint16 h = quint16(qRound(air.rh * 10));
    const quint16 regs[2] = {d.profile == QLatin1String("ht") ? h : t, d.profile == QLatin1String("ht") ? t : h};
    const int sent = d.fault == AirDeviceSim::Fault::Short ? count - 1 : count;
    QByteArray b;
    b.append(char(address)).append(char(function)).append(char(2 * sent));
    for (int i = 0; i < sent; ++i)
        appendWord(b, regs[start + i]);
    return vx::withCrc(b);
}

QByteArray relayReply(RelaySim &relay, quint8 address, const QByteArray &request)
{
    const quint8 function = quint8(request[1]);
    const quint16 first = word(request, 2);
    const quint16 value = word(request, 4);
    if (function == 0x05) {
        if (first > 7)
            return exception(address, function, 0x02);
        if (value != 0xFF00 && value != 0x0000)
            return exception(address, function, 0x03);
        relay.coils = value ? quint8(relay.coils | 1 << first) : quint8(relay.coils & ~(1 << first));
        return request.left(8); // a write is answered by its echo
    }
    if (function == 0x01) {
        if (first + value > 8 || value < 1)
            return exception(address, function, 0x02);
        QByteArray b;
        b.append(char(address)).append(char(0x01)).append(char(1)).append(char((relay.coils >> first) & ((1 << value) - 1)));
        return vx::withCrc(b);
    }
    return exception(address, function, 0x01);
}

} // namespace vxsim
