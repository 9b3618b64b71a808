#include "platform/ProgramDir.h"

#include <QCoreApplication>
#include <QDir>

namespace vx {

QString programDirectory()
{
    const QString home = qEnvironmentVariable("VXMON_HOME");
    if (!home.isEmpty()) {
        QDir().mkpath(home);
        return QDir(home).absolutePath();
    }
    return QCoreApplication::applicationDirPath();
}

} // namespace vx
