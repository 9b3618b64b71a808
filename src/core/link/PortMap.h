#pragma once

#include <QMap>
#include <QString>

namespace vx {

// Maps the port numbers 1..16 ("COM1".."COM16") onto devices of this
// machine: the environment variable VXMON_COMn, else a line COMn=PATH in
// ports.conf in the program directory, else the platform's own name
// (COMn on Windows, /dev/ttyS(n-1) elsewhere).
class PortMap {
public:
    explicit PortMap(const QString &programDir);

    QString deviceFor(int portNumber) const;

    // Parses ports.conf text: lines "COMn=PATH"; blanks and lines starting
    // with # are skipped.
    static QMap<int, QString> parseConf(const QString &text);
    static QString platformDefault(int portNumber);

private:
    QMap<int, QString> m_conf;
};

} // namespace vx
