#pragma once

#include "core/depot/Depot.h"

#include "Bus.h"
#include "RequestFramer.h"
#include "Transmitter.h"

#include <QObject>
#include <QTimer>

namespace vxsim {

class Wire;

struct ServerOptions {
    BusConfig bus;
    Faults faults;
    int uploadIntervalMs = 2000; // devices in run mode 1 send a frame this often
    int uploadRounds = 0;        // > 0: stop uploading after this many rounds
    int uploadAfterMs = 0;       // the first round waits this long (and one interval)
    int frameGapMs = 20;         // a partial request older than this is dropped
    bool verbose = false;
    vx::Depot depot;             // --depot: the control channel names cables by bin and position too
    int depotBus = 1;            // ... of this bus
};

// The bus on a wire: requests in, replies and uploads out.
class SimServer : public QObject {
    Q_OBJECT
public:
    SimServer(Wire &wire, const ServerOptions &options, QObject *parent = nullptr);

    Bus &bus() { return m_bus; }
    Transmitter &transmitter() { return m_tx; }
    int requestsHandled() const { return m_handled; }
    int collisions() const { return m_collisions; }
    // A line of the control channel: what was done, or empty with the mistake in error.
    QString control(const QString &line, QString *error);

private:
    void onReceived(const QByteArray &bytes);
    void upload();

    Wire &m_wire;
    ServerOptions m_options;
    Bus m_bus;
    RequestFramer m_framer;
    Transmitter m_tx;
    QTimer m_uploadTimer;
    QTimer m_gapTimer;
    int m_handled = 0;
    int m_collisions = 0;
    int m_rounds = 0;
};

} // namespace vxsim
