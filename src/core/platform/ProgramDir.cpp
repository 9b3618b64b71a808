#include "core/platform/ProgramDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vx {

QString programDirectory()
{
    const QString home = qEnvironmentVariable("VXMON_HOME");
    if (!home.isEmpty()) {
        QDir().mkpath(home);
        return QDir(home).absolutePath();
    }
    const QString own = QCoreApplication::applicationDirPath();
    if (QFileInfo(own).isWritable())
        return own;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString fallback = QDir(data.isEmpty() ? QDir::homePath() : data).filePath(QStringLiteral("vxmon"));
    QDir().mkpath(fallback);
    return fallback;
}

} // namespace vx
