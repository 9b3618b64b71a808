#pragma once

#include "SimServer.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vxsim {

struct Options {
    ServerOptions server;
    QString port;  // a device to serve on; empty: a pseudo-terminal of our own
    QString link;  // with the pseudo-terminal: also a symlink here
    QString tcpHost;   // --tcp: serve the bus on this address...
    int tcpPort = -1;  // ...and port (0: any free one); -1: no TCP
    QString control;   // a FIFO taking commands that change the world while it runs
};

// "1-36", "1-5,7,40": addresses 0..255; nothing when the text is not such a list.
std::optional<QList<int>> parseAddressList(const QString &text);

// Parses the command line; on a bad option returns nothing and sets error.
std::optional<Options> parseOptions(const QStringList &arguments, QString *error);

} // namespace vxsim
