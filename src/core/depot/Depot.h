#pragma once

#include "core/air/AirDevices.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QPointF>
#include <QString>

#include <utility>

namespace vx {

// The depot as keepers see it: bins, the buses that reach their cables, and
// where each cable hangs (its place in the bin's floor and the depth of each
// sensor). Read from depot.ini in the program directory by the window and
// vxcollect alike. No depot file: one bin of the addresses polled.

enum class BinKind { FlatWarehouse, SquatSilo, VerticalSilo };
enum class StorageClass { Safe, SemiSafe, Dangerous };

// "flat", "squat_silo", "vertical_silo" / "safe", "semi_safe", "dangerous", as written in the file.
QString binKindKey(BinKind kind);
QString storageClassKey(StorageClass storageClass);
// "平房仓" ... / "安全粮" "半安全粮" "危险粮": as written in the book, and as shown in the window's language.
QString binKindName(BinKind kind);
QString storageClassName(StorageClass storageClass);
QString binKindShown(BinKind kind);
QString storageClassShown(StorageClass storageClass);

struct DepotBin {
    int number = 0;              // [bin.N]
    QString name;
    BinKind kind = BinKind::FlatWarehouse;
    double lengthM = 0, widthM = 0; // a flat warehouse's floor
    int rows = 0, columns = 0;      // ... and the grid its cables hang in
    double diameterM = 0;           // a silo's
    QList<double> ringRadiiM;       // a silo's rings 1, 2, ...; ring 0 is the centre
    QString grain;                  // "wheat", "maize", ... or the keeper's word for it
    StorageClass storageClass = StorageClass::Safe;
    QDate intake;
    double moistureWet = 0;         // % wet basis from the lab; 0: not entered
    QDate moistureDate;
    int line = 0;                   // where its section starts

    bool round() const { return kind != BinKind::FlatWarehouse; }
};

struct DepotBus {
    int number = 0;              // [bus.N]
    QString port;                // a device, COMn or tcp://host:port; empty on bus 1: the collector's own
    qint32 baud = 9600;
    QList<int> addresses;        // polled in this order; empty: those of its cables
    int line = 0;
};

// The store keeps a device by one number: bus 1's addresses as they are (so a
// depot of one bus stores what it always did), bus n's as (n - 1) * 1000 + address.
constexpr int kDevicesPerBus = 1000;
constexpr int kMostBuses = 32; // the central store keeps a key in a smallint
int deviceKey(int bus, int address);
// A key of bus 1..kMostBuses and address 1..247.
bool validDeviceKey(int key);
std::pair<int, int> busAndAddress(int key);

struct DepotCable {
    int bus = 1;
    int address = 0;
    int bin = 0;
    int row = 0, column = 0;     // a flat warehouse: 1-based, row 1 at the floor's front
    int ring = 0;                // a silo: 0 the centre, 1.. the rings
    double angleDeg = 0;         // ... clockwise from the door
    QList<int> points;           // the installed points, the top first
    QList<double> depthsM;       // each point's depth below the grain surface
    int line = 0;
    QString section;             // "cable.3" or "cable.1.3", as written

    int key() const { return deviceKey(bus, address); }
    double depthOf(int point) const;  // -1 when the point is not installed
};

// A temperature/humidity transmitter on a bus: [air.BUS.ADDRESS] (or
// [air.ADDRESS] on bus 1), read by its profile (th, ht, or a [profile.NAME]
// of the file: function = 3|4, first, count, temperature = REGISTER, SCALE,
// signed|unsigned and humidity = likewise), measuring the outside air or the
// headspace of a bin.
struct DepotAir {
    int bus = 1;
    int address = 0;
    QString profile = QStringLiteral("th"); // a built-in profile: th, ht
    int bin = 0;                  // 0: the outside air
    int line = 0;
    QString section;
    int key() const { return deviceKey(bus, address); }
};

// A bin's aeration fans on a relay module's coil: [fans.BIN], relay = BUS.ADDRESS (or ADDRESS), coil = 0..7.
struct DepotFans {
    int bin = 0;
    int bus = 1;
    int address = 0;
    int coil = 0;
    int line = 0;
};

struct DepotProblem {
    QString file;
    int line = 0;
    QString field;   // "[cable.1.5] depths", or the section alone
    QString message;
    // "depot.ini:12: [cable.1.5] depths: ..."
    QString text() const;
};

struct Depot {
    QList<DepotBin> bins;        // in the file's order
    QList<DepotBus> buses;       // by number
    QList<DepotCable> cables;    // by bin, then the file's order
    QList<DepotAir> air;         // in the file's order
    QList<DepotFans> fans;       // by bin
    QList<AirProfile> profiles;  // [profile.NAME]: register layouts of transmitters beyond the built-in th and ht
    QList<DepotProblem> errors;  // a value that could not be used (the rest still is)
    QList<DepotProblem> warnings; // usable, but not as good practice wants it
    bool fromFile = false;

    const DepotBin *bin(int number) const;
    const DepotBus *bus(int number) const;
    const DepotCable *cable(int key) const;
    QList<DepotCable> cablesOf(int bin) const;
    const DepotAir *airDevice(int key) const;
    // A profile of the file, else a built-in one.
    std::optional<AirProfile> airProfile(const QString &name) const;
    const DepotFans *fansOf(int bin) const;
    // Addresses a bus polls: as listed, else its cables' and transmitters'.
    QList<int> addressesOf(int bus) const;
    // Where a cable stands in its bin's floor, in metres from the front left
    // corner (flat) or from the centre (round).
    QPointF floorPosition(const DepotCable &cable) const;
};

QString depotFilePath(const QString &programDir);
// A file's text: every mistake named with its line and field; what is good is kept.
Depot parseDepot(const QByteArray &text, const QString &fileName = QStringLiteral("depot.ini"));
// No file: the depot of one bin (see below), fromFile false and no problems.
Depot readDepotFile(const QString &path, const QList<int> &polledAddresses);
// Today's depot: one bin of the addresses polled on one bus, points 1..18 half a metre apart.
Depot singleBinDepot(const QList<int> &addresses);

} // namespace vx
