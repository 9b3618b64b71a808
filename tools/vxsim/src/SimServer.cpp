#include "SimServer.h"

#include "Control.h"
#include "Wire.h"

#include <cstdio>

namespace vxsim {

SimServer::SimServer(Wire &wire, const ServerOptions &options, QObject *parent)
    : QObject(parent), m_wire(wire), m_options(options), m_bus(options.bus),
      m_tx([&wire](const QByteArray &b) { wire.write(b); }, options.faults, options.bus.seed)
{
    connect(&m_wire, &Wire::received, this, &SimServer::onReceived);
    m_gapTimer.setSingleShot(true);
    connect(&m_gapTimer, &QTimer::timeout, this, [this] { m_framer.clear(); });
    connect(&m_uploadTimer, &QTimer::timeout, this, &SimServer::upload);
    QTimer::singleShot(qMax(0, options.uploadAfterMs), this,
                       [this] { m_uploadTimer.start(qMax(1, m_options.uploadIntervalMs)); });
}

void SimServer::onReceived(const QByteArray &bytes)
{
    const QList<QByteArray> requests = m_framer.push(bytes);
    if (m_framer.pending() > 0)
        m_gapTimer.start(m_options.frameGapMs); // a silent line ends a broken request
    // Requests come over a pseudo-terminal at once; on a real line the last
    // byte arrives one wire time after the first, and only then can a reply start.
    double requestEndsAt = m_tx.nowMs();
    for (const QByteArray &request : requests) {
        ++m_handled;
        // Half duplex: a request while a reply is still on the line means two masters (or one that did not wait).
        if (m_tx.lineFreeAt() > requestEndsAt + 0.5) {
            ++m_collisions;
            if (m_options.verbose)
                std::fprintf(stderr, "vxsim: collision: a request came %.1f ms before the line was free\n",
                             m_tx.lineFreeAt() - requestEndsAt);
        }
        requestEndsAt += m_tx.wireMs(request.size());
        const QByteArray reply = m_bus.handle(request, qint64(m_tx.nowMs()));
        for (const QString &note : m_bus.takeNotes()) {
            std::printf("vxsim: %s\n", qPrintable(note));
            std::fflush(stdout);
        }
        const Transmitter::Sent sent = m_tx.send(reply, requestEndsAt);
        if (m_options.verbose) {
            // What was done to the reply, so a test can count it against what the master saw.
            QByteArray fate;
            if (sent.dropped)
                fate = " [dropped]";
            if (sent.corruptedByte >= 0)
                fate += " [corrupted byte " + QByteArray::number(sent.corruptedByte) + "]";
            if (sent.noiseBytes > 0)
                fate += " [noise " + QByteArray::number(sent.noiseBytes) + "]";
            std::fprintf(stderr, "vxsim: %s -> %s%s\n", request.toHex(' ').constData(),
                         reply.isEmpty() ? "(no reply)" : reply.toHex(' ').constData(), fate.constData());
        }
    }
}

QString SimServer::control(const QString &line, QString *error)
{
    const auto command = parseControlCommand(line, error, m_options.depot.fromFile ? &m_options.depot : nullptr, m_options.depotBus);
    if (!command)
        return QString();
    const QString done = m_bus.apply(*command, qint64(m_tx.nowMs()));
    if (done.isEmpty())
        *error = QStringLiteral("no device with address %1").arg(line.simplified().section(QLatin1Char(' '), 1, 1));
    return done;
}

void SimServer::upload()
{
    if (m_options.uploadRounds > 0 && m_rounds >= m_options.uploadRounds)
        return;
    ++m_rounds;
    // Devices in run mode 1 spread their frames over the interval.
    QList<int> uploading;
    for (int i = 0; i < m_bus.devices().size(); ++i)
        if (m_bus.devices()[i].params[0] == 1)
            uploading << i;
    for (int n = 0; n < uploading.size(); ++n) {
        const int device = uploading[n];
        const int offset = int(qint64(m_options.uploadIntervalMs) * n / uploading.size());
        QTimer::singleShot(offset, this, [this, device] {
            if (device >= m_bus.devices().size() || m_bus.devices()[device].params[0] != 1
                || m_bus.devices()[device].silenced)
                return;
            const QByteArray frame = m_bus.uploadFrame(m_bus.devices()[device], qint64(m_tx.nowMs()));
            if (m_options.verbose)
                std::fprintf(stderr, "vxsim: upload %s\n", frame.toHex(' ').constData());
            m_tx.send(frame);
        });
    }
}

} // namespace vxsim
