#pragma once

#include "core/notify/NotifySettings.h"

#include "core/bus/BusEngine.h"
#include "core/depot/Depot.h"
#include "core/central/MqttSettings.h"
#include "core/settings/SettingTexts.h"
#include "core/http/HttpServer.h"
#include "core/web/WebAccess.h"
#include "core/store/ReadingStore.h"
#include "core/store/StoreService.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

namespace vx {

// Everything vxcollect is told, from its INI file and its options (options win).
struct CollectorSettings {
    QString port;          // a device path, or COMn through the program directory's mapping
    QString programDir;    // where dataGet.txt and data/ go
    BusSettings bus;
    qint64 rawLogMaxBytes = 100LL * 1024 * 1024; // dataGet.txt rotates past it; 0: no limit
    bool quiet = false;
    bool json = false;
    StoreSettings store;       // local file (default vxmon.db in programDir), central URL, site, age limit
    MqttSettings mqtt;         // the broker readings are published to; host empty: none
    NotifySettings notify;     // where alarms are sent ([notify.NAME] of --config); none: nowhere
    QString metricsHost = QStringLiteral("127.0.0.1"); // empty: no metrics endpoint
    int metricsPort = 9464;    // 0: any free port (it is printed)
    HttpLimits httpLimits;
    QByteArray webBase;        // "/vxmon": the web view under it; empty: at the root
    web::WebAccessSettings webAccess; // [web] open, [web-users]: who may use the web view from elsewhere
    QString controlSocket;     // where a window asks for the bus; empty: nowhere
    qint64 leaseMs = 30000;    // a holder that does not renew within it loses the bus
    Depot depot;               // depot.ini (or --depot); without one, one bin of the addresses polled
    QStringList depotNotes;    // its errors (what was left out) and warnings, to be said at start
    struct OtherBus {
        int number = 0;        // devices stored as (number - 1) * 1000 + address
        QString port;
        BusSettings bus;
    };
    QList<OtherBus> otherBuses; // the depot's buses after the first, each polled by its own engine

    enum class Command { Collect, Import, Export, NotifyTest, Passwd };
    Command command = Command::Collect;
    QString importDir;         // import: where the <address>.txt logs are
    QString notifyChannel;     // notify-test: this channel only; empty: every one
    QString passwdUser;        // passwd: the web user a password hash is made for
    ExportRequest exportRequest;
    QString exportFile;        // export: "-" or empty for standard output
};

// Reads the options (and the INI file --config names) into settings; each
// bad value gives one line naming the option and the value.
struct SettingsRead {
    CollectorSettings settings;
    QStringList errors;
    QString information; // --help or --version: print it and end
};
SettingsRead readCollectorSettings(const QStringList &arguments);

} // namespace vx
