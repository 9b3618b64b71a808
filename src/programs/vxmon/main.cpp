#include "window/Language.h"
#include "window/StartupProbe.h"
#include "window/frmMain.h"
#include "core/platform/LocalTime.h"

#include <QApplication>
#include <QDir>
#include <QLocale>

#include <cstdio>

// Answered before any GUI object exists: they work without a display.
const char kHelp[] =
    "Usage: vxmon [--lang zh|en] [--viewer [DATABASE]]\n"
    "The window of a bus of wireless data collectors (temperature cables in grain bins).\n"
    "\n"
    "  --lang zh|en          the window's language (default: the system locale's)\n"
    "  --viewer [DATABASE]   show what a store holds (default vxmon.db in the program\n"
    "                        directory; a SQLite file or postgresql:// URL); no port is opened\n"
    "  -h, --help            this text\n"
    "  -v, --version         the version\n"
    "\n"
    "The program directory is the executable's, or $VXMON_HOME. Port COMn opens $VXMON_COMn,\n"
    "else COMn= in ports.conf there, else /dev/ttyS(n-1).\n"
    "Without a display: xvfb-run -s '-screen 0 1600x1000x24' vxmon (package xvfb),\n"
    "or QT_QPA_PLATFORM=offscreen (nothing is shown).\n";

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-v") {
            std::printf("vxmon %s\n", VXMON_VERSION);
            return 0;
        }
    }
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Qt would abort deep inside with "could not connect to display".
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("vxmon: no display (DISPLAY is not set): run it under xvfb-run -s '-screen 0 1600x1000x24' "
                   "(package xvfb), or with QT_QPA_PLATFORM=offscreen\n",
                   stderr);
        return 1;
    }
#endif
    vx::readLocalTimeZoneOnce(); // before any thread: see there
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vxmon"));
    // Chinese unless the system is English or --lang says otherwise.
    QString why;
    const auto language = vx::chooseLanguage(QApplication::arguments(), QLocale::system().name(), &why);
    if (!language) {
        std::fprintf(stderr, "vxmon: %s\n", qPrintable(why));
        return 2;
    }
    if (!vx::installLanguage(*language))
        std::fprintf(stderr, "vxmon: the English translation is missing; the texts stay Chinese\n");
    QApplication::setApplicationDisplayName(vx::kWindowTitle());

    // --viewer [DATABASE]: the view of a store another program (vxcollect) fills; no port is opened.
    vx::Platform platform = vx::systemPlatform();
    const QStringList args = QApplication::arguments();
    if (const int at = int(args.indexOf(QStringLiteral("--viewer"))); at > 0) {
        const QString named = args.value(at + 1);
        platform.viewerStore = !named.isEmpty() && !named.startsWith(QLatin1Char('-'))
                                   ? named
                                   : QDir(platform.programDir).filePath(QStringLiteral("vxmon.db"));
    }
    vx::frmMain window(std::move(platform));
    vx::StartupProbe probe;
    if (qEnvironmentVariableIsSet("VXMON_STARTUP_PROBE"))
        window.installEventFilter(&probe);
    window.show();
    return app.exec();
}
