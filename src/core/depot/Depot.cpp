#include "core/depot/Depot.h"

#include "core/grain/GrainState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QtMath>

#include <algorithm>

namespace vx {

namespace {

// Grain-storage practice: sensors at most 2 m apart down a cable, cables at most 5 m apart.
constexpr double kMaxVerticalSpacingM = 2;
constexpr double kMaxHorizontalSpacingM = 5;

const QList<BinKind> kKinds{BinKind::FlatWarehouse, BinKind::SquatSilo, BinKind::VerticalSilo};
const QList<StorageClass> kClasses{StorageClass::Safe, StorageClass::SemiSafe, StorageClass::Dangerous};

QString numberText(double v)
{
    return QString::number(v, 'g', 6);
}

// One section of the file as written: its keys with their lines.
struct Section {
    QString name;
    int line = 0;
    QMap<QString, QPair<QString, int>> values; // key -> (value, line)
};

class Reader {
public:
    Reader(Depot &depot, QString file) : m_depot(depot), m_file(std::move(file)) {}

    void error(int line, const QString &field, const QString &message)
    {
        m_depot.errors.append({m_file, line, field, message});
    }
    void warning(int line, const QString &field, const QString &message)
    {
        m_depot.warnings.append({m_file, line, field, message});
    }

    QList<Section> sections(const QByteArray &text)
    {
        QList<Section> out;
        const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            const QString line = lines.at(i).trimmed();
            const int n = i + 1;
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
                continue;
            if (line.startsWith(QLatin1Char('['))) {
                if (!line.endsWith(QLatin1Char(']'))) {
                    error(n, line, say("a section's name ends with ]"));
                    continue;
                }
                out.append({line.mid(1, line.size() - 2).trimmed(), n, {}});
                continue;
            }
            const int eq = line.indexOf(QLatin1Char('='));
            if (eq <= 0) {
                error(n, line, say("expected key = value"));
                continue;
            }
            if (out.isEmpty()) {
                error(n, line.left(eq).trimmed(), say("a key before any [bin.N], [bus.N] or [cable.BUS.ADDRESS]"));
                continue;
            }
            const QString key = line.left(eq).trimmed().toLower();
            if (out.last().values.contains(key))
                error(n, QStringLiteral("[%1] %2").arg(out.last().name, key),
                      say("given twice (line %1 is used)").arg(out.last().values.value(key).second));
            else
                out.last().values.insert(key, {line.mid(eq + 1).trimmed(), n});
        }
        return out;
    }

    static QString say(const char *text) { return QString::fromUtf8(text); }

    // Each reader takes a key (and says what is wrong with it); what is left over is unknown.
    struct Keys {
        Reader &r;
        Section &s;
        bool take(const QString &key, QString *value, int *line = nullptr)
        {
            const auto it = s.values.constFind(key);
            if (it == s.values.constEnd())
                return false;
            *value = it->first;
            if (line)
                *line = it->second;
            s.values.remove(key);
            return true;
        }
        QString field(const QString &key) const { return QStringLiteral("[%1] %2").arg(s.name, key); }
        int lineOf(const QString &key) const { return s.values.value(key).second; }
        void bad(const QString &key, int line, const QString &message) { r.error(line, field(key), message); }
        bool number(const QString &key, double min, double max, double *out)
        {
            QString v;
            int line = 0;
            if (!take(key, &v, &line))
                return false;
            bool ok = false;
            const double d = v.toDouble(&ok);
            if (!ok || !(d >= min && d <= max)) {
                bad(key, line, say("%1 is not a number from %2 to %3").arg(v, numberText(min), numberText(max)));
                return false;
            }
            *out = d;
            return true;
        }
        bool integer(const QString &key, int min, int max, int *out)
        {
            double d = 0;
            QString v = s.values.value(key).first;
            const int line = lineOf(key);
            if (!number(key, min, max, &d))
                return false;
            if (d != std::floor(d)) {
                bad(key, line, say("%1 is not a whole number").arg(v));
                return false;
            }
            *out = int(d);
            return true;
        }
        // A key that may be left out (*out keeps its default); false only when it is given and wrong.
        bool optionalInteger(const QString &key, int min, int max, int *out)
        {
            return !s.values.contains(key) || integer(key, min, max, out);
        }
        // "36x24", "6 × 8": two positive numbers.
        bool pair(const QString &key, double *a, double *b)
        {
            QString v;
            int line = 0;
            if (!take(key, &v, &line))
                return false;
            const QStringList parts = v.split(QRegularExpression(QStringLiteral("\\s*[xX×*,]\\s*")));
            bool ok1 = false, ok2 = false;
            if (parts.size() == 2) {
                *a = parts[0].toDouble(&ok1);
                *b = parts[1].toDouble(&ok2);
            }
            if (!ok1 || !ok2 || *a <= 0 || *b <= 0) {
                bad(key, line, say("%1 is not two positive numbers such as 36x24").arg(v));
                return false;
            }
            return true;
        }
        void leftovers()
        {
            for (auto it = s.values.cbegin(); it != s.values.cend(); ++it)
                r.error(it->second, field(it.key()), say("unknown key"));
        }
    };

    Depot &m_depot;
    QString m_file;
};

std::optional<QList<int>> numberList(const QString &text, int min, int max)
{
    QList<int> out;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList range = item.trimmed().split(QLatin1Char('-'));
        bool ok1 = false, ok2 = true;
        const int from = range.value(0).trimmed().toInt(&ok1);
        const int to = range.size() == 2 ? range[1].trimmed().toInt(&ok2) : from;
        if (range.size() > 2 || !ok1 || !ok2 || from < min || to > max || from > to)
            return std::nullopt;
        for (int a = from; a <= to; ++a)
            if (!out.contains(a))
                out.append(a);
    }
    if (out.isEmpty())
        return std::nullopt;
    return out;
}

void readBin(Reader &r, Section &s, int number)
{
    Reader::Keys k{r, s};
    DepotBin bin;
    bin.number = number;
    bin.line = s.line;
    QString v;
    int line = 0;
    bin.name = k.take(QStringLiteral("name"), &v) && !v.isEmpty() ? v : QStringLiteral("%1号仓").arg(number);
    if (k.take(QStringLiteral("kind"), &v, &line)) {
        const auto it = std::find_if(kKinds.begin(), kKinds.end(), [&](BinKind kind) { return binKindKey(kind) == v; });
        if (it == kKinds.end())
            k.bad(QStringLiteral("kind"), line, Reader::say("%1 is not flat, squat_silo or vertical_silo").arg(v));
        else
            bin.kind = *it;
    }
    if (bin.round()) {
        k.number(QStringLiteral("diameter"), 0.1, 200, &bin.diameterM);
        if (k.take(QStringLiteral("rings"), &v, &line)) {
            for (const QString &item : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                bool ok = false;
                const double radius = item.trimmed().toDouble(&ok);
                if (!ok || radius <= 0 || (!bin.ringRadiiM.isEmpty() && radius <= bin.ringRadiiM.last())) {
                    k.bad(QStringLiteral("rings"), line,
                          Reader::say("%1: each ring's radius in metres, growing outwards").arg(v));
                    bin.ringRadiiM.clear();
                    break;
                }
                bin.ringRadiiM.append(radius);
            }
        }
    } else {
        k.pair(QStringLiteral("size"), &bin.lengthM, &bin.widthM);
        double rows = 0, columns = 0;
        const int gridLine = k.lineOf(QStringLiteral("grid"));
        if (k.pair(QStringLiteral("grid"), &rows, &columns)) {
            if (rows != std::floor(rows) || columns != std::floor(columns) || rows > 100 || columns > 100)
                k.bad(QStringLiteral("grid"), gridLine, Reader::say("rows x columns, whole numbers up to 100"));
            else {
                bin.rows = int(rows);
                bin.columns = int(columns);
            }
        }
    }
    if (k.take(QStringLiteral("grain"), &v))
        bin.grain = v;
    if (k.take(QStringLiteral("class"), &v, &line)) {
        const auto it = std::find_if(kClasses.begin(), kClasses.end(),
                                     [&](StorageClass c) { return storageClassKey(c) == v; });
        if (it == kClasses.end())
            k.bad(QStringLiteral("class"), line, Reader::say("%1 is not safe, semi_safe or dangerous").arg(v));
        else
            bin.storageClass = *it;
    }
    if (k.number(QStringLiteral("moisture"), 1, 40, &bin.moistureWet) && !s.values.contains(QStringLiteral("moisture_date")))
        r.warning(s.line, k.field(QStringLiteral("moisture_date")), Reader::say("missing: when was the moisture measured?"));
    if (k.take(QStringLiteral("moisture_date"), &v, &line)) {
        bin.moistureDate = QDate::fromString(v, Qt::ISODate);
        if (!bin.moistureDate.isValid())
            k.bad(QStringLiteral("moisture_date"), line, Reader::say("%1 is not a date such as 2026-07-01").arg(v));
    }
    if (k.take(QStringLiteral("intake"), &v, &line)) {
        bin.intake = QDate::fromString(v, Qt::ISODate);
        if (!bin.intake.isValid())
            k.bad(QStringLiteral("intake"), line, Reader::say("%1 is not a date such as 2026-07-01").arg(v));
    }
    k.leftovers();

    // Good practice: cables at most 5 m apart.
    const QString where = QStringLiteral("[%1]").arg(s.name);
    if (!bin.round() && bin.rows > 0 && bin.lengthM > 0) {
        const double across = bin.lengthM / bin.columns, along = bin.widthM / bin.rows;
        if (std::max(across, along) > kMaxHorizontalSpacingM)
            r.warning(s.line, where + QStringLiteral(" grid"),
                      Reader::say("cables %1 m apart, more than %2 m").arg(numberText(std::max(across, along)),
                                                                       numberText(kMaxHorizontalSpacingM)));
    }
    if (bin.round()) {
        double previous = 0;
        for (double radius : bin.ringRadiiM) {
            if (radius - previous > kMaxHorizontalSpacingM)
                r.warning(s.line, where + QStringLiteral(" rings"),
                          Reader::say("rings %1 m apart, more than %2 m").arg(numberText(radius - previous),
                                                                          numberText(kMaxHorizontalSpacingM)));
            previous = radius;
        }
    }
    r.m_depot.bins.append(bin);
}

void readBus(Reader &r, Section &s, int number)
{
    Reader::Keys k{r, s};
    DepotBus bus;
    bus.number = number;
    bus.line = s.line;
    QString v;
    int line = 0;
    if (k.take(QStringLiteral("port"), &v))
        bus.port = v;
    int baud = bus.baud;
    if (k.integer(QStringLiteral("baud"), 300, 4000000, &baud))
        bus.baud = baud;
    if (k.take(QStringLiteral("addresses"), &v, &line)) {
        if (const auto list = numberList(v, 1, 245))
            bus.addresses = *list;
        else
            k.bad(QStringLiteral("addresses"), line, Reader::say("%1 is not a list of addresses 1-245 such as 1-48,50").arg(v));
    }
    k.leftovers();
    if (bus.port.isEmpty() && number != 1)
        r.error(s.line, QStringLiteral("[%1] port").arg(s.name), Reader::say("missing (only bus 1 may use the collector's own port)"));
    else
        r.m_depot.buses.append(bus);
}

void readCable(Reader &r, Section &s, int bus, int address)
{
    Reader::Keys k{r, s};
    DepotCable cable;
    cable.bus = bus;
    cable.address = address;
    cable.line = s.line;
    cable.section = s.name;
    bool usable = true;
    QString v;
    int line = 0;
    const bool binGiven = s.values.contains(QStringLiteral("bin"));
    if (!k.integer(QStringLiteral("bin"), 1, 9999, &cable.bin)) {
        if (!binGiven)
            r.error(s.line, QStringLiteral("[%1] bin").arg(s.name), Reader::say("missing"));
        usable = false;
    }
    // Row and column (a flat warehouse) or ring and angle (a silo): read as two numbers, judged with the bin.
    double first = 0, second = 0;
    if (k.take(QStringLiteral("position"), &v, &line)) {
        const QStringList parts = v.split(QLatin1Char(','));
        bool ok1 = false, ok2 = false;
        if (parts.size() == 2) {
            first = parts[0].trimmed().toDouble(&ok1);
            second = parts[1].trimmed().toDouble(&ok2);
        }
        if (!ok1 || !ok2 || first < 0 || first != std::floor(first)) {
            k.bad(QStringLiteral("position"), line,
                  Reader::say("%1 is not row, column (or ring, angle in degrees)").arg(v));
            usable = false;
        }
    } else {
        r.error(s.line, QStringLiteral("[%1] position").arg(s.name), Reader::say("missing"));
        usable = false;
    }
    const int positionLine = line;
    if (k.take(QStringLiteral("depths"), &v, &line)) {
        for (const QString &item : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            bool ok = false;
            const double d = item.trimmed().toDouble(&ok);
            if (!ok || d < 0 || d > 100 || (!cable.depthsM.isEmpty() && d <= cable.depthsM.last())) {
                k.bad(QStringLiteral("depths"), line,
                      Reader::say("%1: each point's depth in metres, top first, growing downwards").arg(v));
                cable.depthsM.clear();
                usable = false;
                break;
            }
            cable.depthsM.append(d);
        }
    } else {
        r.error(s.line, QStringLiteral("[%1] depths").arg(s.name), Reader::say("missing"));
        usable = false;
    }
    const int depthsLine = line;
    if (k.take(QStringLiteral("points"), &v, &line)) {
        if (const auto list = numberList(v, 1, kLayers))
            cable.points = *list;
        else {
            k.bad(QStringLiteral("points"), line, Reader::say("%1 is not a list of points 1-%2").arg(v).arg(kLayers));
            usable = false;
        }
    } else {
        for (int p = 1; p <= cable.depthsM.size() && p <= kLayers; ++p)
            cable.points.append(p);
    }
    k.leftovers();
    if (usable && cable.points.size() != cable.depthsM.size()) {
        r.error(depthsLine, QStringLiteral("[%1] depths").arg(s.name),
                Reader::say("%1 depths for %2 points").arg(cable.depthsM.size()).arg(cable.points.size()));
        usable = false;
    }
    if (!usable)
        return;

    const DepotBin *bin = r.m_depot.bin(cable.bin);
    if (!bin) {
        r.error(s.line, QStringLiteral("[%1] bin").arg(s.name), Reader::say("there is no [bin.%1]").arg(cable.bin));
        return;
    }
    const QString position = QStringLiteral("[%1] position").arg(s.name);
    if (bin->round()) {
        cable.ring = int(first);
        cable.angleDeg = second;
        if (cable.ring > bin->ringRadiiM.size()
            || (bin->diameterM > 0 && cable.ring > 0 && bin->ringRadiiM.value(cable.ring - 1) > bin->diameterM / 2))
            r.warning(positionLine, position, Reader::say("ring %1 is outside %2").arg(cable.ring).arg(bin->name));
    } else {
        cable.row = int(first);
        cable.column = int(second);
        if (second != std::floor(second) || cable.row < 1 || cable.column < 1 || cable.row > bin->rows
            || cable.column > bin->columns)
            r.warning(positionLine, position,
                      Reader::say("row %1, column %2 is outside %3's %4x%5 grid")
                          .arg(numberText(first), numberText(second), bin->name)
                          .arg(bin->rows)
                          .arg(bin->columns));
    }
    for (int i = 1; i < cable.depthsM.size(); ++i)
        if (cable.depthsM[i] - cable.depthsM[i - 1] > kMaxVerticalSpacingM) {
            r.warning(depthsLine, QStringLiteral("[%1] depths").arg(s.name),
                      Reader::say("points %1 and %2 are %3 m apart, more than %4 m")
                          .arg(cable.points[i - 1])
                          .arg(cable.points[i])
                          .arg(numberText(cable.depthsM[i] - cable.depthsM[i - 1]), numberText(kMaxVerticalSpacingM)));
            break;
        }
    r.m_depot.cables.append(cable);
}

// Neighbours on a silo's ring further apart than good practice wants.
void checkRingSpacing(Reader &r, const DepotBin &bin)
{
    QMap<int, QList<const DepotCable *>> rings;
    for (const DepotCable &c : r.m_depot.cables)
        if (c.bin == bin.number && c.ring > 0 && c.ring <= bin.ringRadiiM.size())
            rings[c.ring].append(&c);
    for (auto it = rings.begin(); it != rings.end(); ++it) {
        QList<double> angles;
        for (const DepotCable *c : *it)
            angles.append(std::fmod(std::fmod(c->angleDeg, 360) + 360, 360));
        std::sort(angles.begin(), angles.end());
        double widest = angles.size() == 1 ? 360 : 360 - angles.last() + angles.first();
        for (int i = 1; i < angles.size(); ++i)
            widest = std::max(widest, angles[i] - angles[i - 1]);
        const double arc = qDegreesToRadians(widest) * bin.ringRadiiM[it.key() - 1];
        if (arc > kMaxHorizontalSpacingM)
            r.warning(bin.line, QStringLiteral("[bin.%1] ring %2").arg(bin.number).arg(it.key()),
                      Reader::say("cables %1 m apart along the ring, more than %2 m")
                          .arg(QString::number(arc, 'f', 1), numberText(kMaxHorizontalSpacingM)));
    }
}

} // namespace

QString binKindKey(BinKind kind)
{
    switch (kind) {
    case BinKind::FlatWarehouse: return QStringLiteral("flat");
    case BinKind::SquatSilo: return QStringLiteral("squat_silo");
    case BinKind::VerticalSilo: return QStringLiteral("vertical_silo");
    }
    return QString();
}

QString storageClassKey(StorageClass storageClass)
{
    switch (storageClass) {
    case StorageClass::Safe: return QStringLiteral("safe");
    case StorageClass::SemiSafe: return QStringLiteral("semi_safe");
    case StorageClass::Dangerous: return QStringLiteral("dangerous");
    }
    return QString();
}

QString binKindName(BinKind kind)
{
    switch (kind) {
    case BinKind::FlatWarehouse: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "平房仓"));
    case BinKind::SquatSilo: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "浅圆仓"));
    case BinKind::VerticalSilo: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "立筒仓"));
    }
    return QString();
}

QString storageClassName(StorageClass storageClass)
{
    switch (storageClass) {
    case StorageClass::Safe: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "安全粮"));
    case StorageClass::SemiSafe: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "半安全粮"));
    case StorageClass::Dangerous: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "危险粮"));
    }
    return QString();
}

QString binKindShown(BinKind kind)
{
    return QCoreApplication::translate("vx", binKindName(kind).toUtf8().constData());
}

QString storageClassShown(StorageClass storageClass)
{
    return QCoreApplication::translate("vx", storageClassName(storageClass).toUtf8().constData());
}

int deviceKey(int bus, int address)
{
    return (bus - 1) * kDevicesPerBus + address;
}

bool validDeviceKey(int key)
{
    const auto [bus, address] = busAndAddress(key);
    return key > 0 && bus <= kMostBuses && address >= 1 && address <= 247;
}

std::pair<int, int> busAndAddress(int key)
{
    return {key / kDevicesPerBus + 1, key % kDevicesPerBus};
}

double DepotCable::depthOf(int point) const
{
    const int i = points.indexOf(point);
    return i >= 0 ? depthsM.value(i, -1) : -1;
}

QString DepotProblem::text() const
{
    return QStringLiteral("%1:%2: %3: %4").arg(file).arg(line).arg(field, message);
}

const DepotBin *Depot::bin(int number) const
{
    for (const DepotBin &b : bins)
        if (b.number == number)
            return &b;
    return nullptr;
}

const DepotBus *Depot::bus(int number) const
{
    for (const DepotBus &b : buses)
        if (b.number == number)
            return &b;
    return nullptr;
}

const DepotCable *Depot::cable(int key) const
{
    for (const DepotCable &c : cables)
        if (c.key() == key)
            return &c;
    return nullptr;
}

QList<DepotCable> Depot::cablesOf(int bin) const
{
    QList<DepotCable> out;
    for (const DepotCable &c : cables)
        if (c.bin == bin)
            out.append(c);
    return out;
}

QList<int> Depot::addressesOf(int busNumber) const
{
    if (const DepotBus *b = bus(busNumber); b && !b->addresses.isEmpty())
        return b->addresses;
    QList<int> out;
    for (const DepotCable &c : cables)
        if (c.bus == busNumber && !out.contains(c.address))
            out.append(c.address);
    for (const DepotAir &a : air)
        if (a.bus == busNumber && !out.contains(a.address))
            out.append(a.address);
    std::sort(out.begin(), out.end());
    return out;
}

const DepotAir *Depot::airDevice(int key) const
{
    for (const DepotAir &a : air)
        if (a.key() == key)
            return &a;
    return nullptr;
}

std::optional<AirProfile> Depot::airProfile(const QString &name) const
{
    for (const AirProfile &p : profiles)
        if (p.name == name.trimmed().toLower())
            return p;
    return airProfileNamed(name);
}

const DepotFans *Depot::fansOf(int binNumber) const
{
    for (const DepotFans &f : fans)
        if (f.bin == binNumber)
            return &f;
    return nullptr;
}

QPointF Depot::floorPosition(const DepotCable &cable) const
{
    const DepotBin *b = bin(cable.bin);
    if (!b)
        return {};
    if (b->round()) {
        const double radius = cable.ring == 0 ? 0 : b->ringRadiiM.value(cable.ring - 1);
        const double a = qDegreesToRadians(cable.angleDeg);
        return {radius * std::sin(a), -radius * std::cos(a)};
    }
    if (b->rows <= 0 || b->columns <= 0)
        return {};
    return {(cable.column - 0.5) * b->lengthM / b->columns, (cable.row - 0.5) * b->widthM / b->rows};
}

QString depotFilePath(const QString &programDir)
{
    return QDir(programDir).filePath(QStringLiteral("depot.ini"));
}

// [profile.NAME]: function, first, count, temperature, humidity.
void readProfile(Reader &r, Section &s, const QString &name)
{
    Reader::Keys k{r, s};
    AirProfile p;
    p.name = name;
    int function = 3, first = 0, count = 2;
    bool usable = k.optionalInteger(QStringLiteral("function"), 3, 4, &function);
    usable = k.optionalInteger(QStringLiteral("first"), 0, 65535, &first) && usable;
    usable = k.optionalInteger(QStringLiteral("count"), 1, 125, &count) && usable;
    p.function = quint8(function);
    p.first = quint16(first);
    p.count = quint16(count);
    for (const auto quantity : {AirValue::Quantity::Temperature, AirValue::Quantity::Humidity}) {
        const bool temperature = quantity == AirValue::Quantity::Temperature;
        const QString key = temperature ? QStringLiteral("temperature") : QStringLiteral("humidity");
        QString v;
        int line = 0;
        if (!k.take(key, &v, &line)) {
            r.error(s.line, k.field(key), Reader::say("missing (REGISTER, SCALE, signed or unsigned, e.g. 0, 0.1, signed)"));
            usable = false;
            continue;
        }
        const QStringList parts = v.split(QLatin1Char(','));
        bool okRegister = false, okScale = false;
        const int reg = parts.value(0).trimmed().toInt(&okRegister);
        const double scale = parts.value(1).trimmed().toDouble(&okScale);
        const QString sign = parts.value(2, QStringLiteral("unsigned")).trimmed().toLower();
        if (parts.size() < 2 || parts.size() > 3 || !okRegister || !okScale || scale == 0
            || (sign != QLatin1String("signed") && sign != QLatin1String("unsigned"))) {
            k.bad(key, line, Reader::say("%1 is not REGISTER, SCALE, signed or unsigned (e.g. 0, 0.1, signed)").arg(v));
            usable = false;
            continue;
        }
        if (reg < p.first || reg >= p.first + p.count) {
            k.bad(key, line, Reader::say("register %1 is not among the %2 read from %3").arg(reg).arg(p.count).arg(p.first));
            usable = false;
            continue;
        }
        p.values.append({quantity, reg - p.first, scale, sign == QLatin1String("signed"),
                         temperature ? QStringLiteral("°C") : QStringLiteral("%RH"), temperature ? -40.0 : 0.0,
                         temperature ? 80.0 : 100.0});
    }
    k.leftovers();
    if (usable)
        r.m_depot.profiles.append(p);
}

// [air.BUS.ADDRESS]: profile, place; [fans.BIN]: relay, coil.
void readAirOrFans(Reader &r, Section &s, const QRegularExpressionMatch &air, const QRegularExpressionMatch &fans)
{
    Reader::Keys k{r, s};
    Depot &depot = r.m_depot;
    const QString whole = QStringLiteral("[%1]").arg(s.name);
    QString v;
    int line = 0;
    if (air.hasMatch()) {
        DepotAir a;
        a.bus = air.captured(1).isEmpty() ? 1 : air.captured(1).toInt();
        a.address = air.captured(2).toInt();
        a.line = s.line;
        a.section = s.name;
        bool usable = true;
        if (a.address < 1 || a.address > 245) {
            r.error(s.line, whole, Reader::say("address %1 is not 1-245").arg(a.address));
            usable = false;
        } else if (!depot.bus(a.bus)) {
            r.error(s.line, whole, Reader::say("there is no [bus.%1]").arg(a.bus));
            usable = false;
        }
        for (const DepotCable &c : depot.cables)
            if (c.key() == a.key()) {
                r.error(s.line, whole, Reader::say("address %1 of bus %2 is a cable's ([%3])").arg(a.address).arg(a.bus).arg(c.section));
                usable = false;
            }
        if (k.take(QStringLiteral("profile"), &v, &line)) {
            if (!depot.airProfile(v)) {
                k.bad(QStringLiteral("profile"), line,
                      Reader::say("%1 is not th (temperature, then humidity), ht or a [profile.NAME]").arg(v));
                usable = false;
            }
            a.profile = v.toLower();
        }
        if (k.take(QStringLiteral("place"), &v, &line)) {
            static const QRegularExpression binPlace(QStringLiteral("^bin\\s*(\\d{1,4})$"));
            const auto m = binPlace.match(v.toLower());
            if (v.toLower() == QLatin1String("outside"))
                a.bin = 0;
            else if (m.hasMatch() && depot.bin(m.captured(1).toInt()))
                a.bin = m.captured(1).toInt();
            else {
                k.bad(QStringLiteral("place"), line, Reader::say("%1 is not outside or bin N of a [bin.N]").arg(v));
                usable = false;
            }
        } else {
            r.error(s.line, k.field(QStringLiteral("place")), Reader::say("missing (outside, or bin N for its headspace)"));
            usable = false;
        }
        k.leftovers();
        if (usable)
            depot.air.append(a);
        return;
    }
    DepotFans f;
    f.bin = fans.captured(1).toInt();
    f.line = s.line;
    bool usable = depot.bin(f.bin) != nullptr;
    if (!usable)
        r.error(s.line, whole, Reader::say("there is no [bin.%1]").arg(f.bin));
    static const QRegularExpression relayForm(QStringLiteral("^(?:(\\d{1,2})\\.)?(\\d{1,3})$"));
    if (k.take(QStringLiteral("relay"), &v, &line)) {
        const auto m = relayForm.match(v);
        f.bus = m.hasMatch() && !m.captured(1).isEmpty() ? m.captured(1).toInt() : 1;
        f.address = m.hasMatch() ? m.captured(2).toInt() : 0;
        if (!m.hasMatch() || f.address < 1 || f.address > 247 || !depot.bus(f.bus)) {
            k.bad(QStringLiteral("relay"), line, Reader::say("%1 is not a relay module's ADDRESS or BUS.ADDRESS on a [bus.N]").arg(v));
            usable = false;
        }
    } else {
        r.error(s.line, k.field(QStringLiteral("relay")), Reader::say("missing (the relay module's address)"));
        usable = false;
    }
    if (!k.optionalInteger(QStringLiteral("coil"), 0, 7, &f.coil))
        usable = false;
    k.leftovers();
    if (usable)
        depot.fans.append(f);
}

Depot parseDepot(const QByteArray &text, const QString &fileName)
{
    Depot depot;
    depot.fromFile = true;
    Reader r(depot, fileName);
    QList<Section> sections = r.sections(text);
    static const QRegularExpression binName(QStringLiteral("^bin\\.(\\d{1,4})$"));
    static const QRegularExpression busName(QStringLiteral("^bus\\.(\\d{1,2})$")); // up to kMostBuses
    static const QRegularExpression cableName(QStringLiteral("^cable\\.(?:(\\d{1,2})\\.)?(\\d{1,3})$"));
    static const QRegularExpression airName(QStringLiteral("^air\\.(?:(\\d{1,2})\\.)?(\\d{1,3})$"));
    static const QRegularExpression fansName(QStringLiteral("^fans\\.(\\d{1,4})$"));
    static const QRegularExpression profileName(QStringLiteral("^profile\\.([a-z0-9_-]{1,32})$"));
    QHash<QString, int> seen; // section -> its first line

    // Bins and buses first, so a cable may name a bin written after it.
    QList<Section *> cables, devices;
    for (Section &s : sections) {
        QString name = s.name.toLower();
        if (const auto m = cableName.match(name); m.hasMatch()) // cable.3 is cable.1.3
            name = QStringLiteral("cable.%1.%2").arg(m.captured(1).isEmpty() ? 1 : m.captured(1).toInt()).arg(m.captured(2).toInt());
        if (seen.contains(name)) {
            const bool cable = name.startsWith(QLatin1String("cable."));
            const QString message = cable ? Reader::say("this address is on two cables (line %1 is used)").arg(seen.value(name))
                                          : Reader::say("given twice (line %1 is used)").arg(seen.value(name));
            if (cable)
                r.warning(s.line, QStringLiteral("[%1]").arg(s.name), message);
            else
                r.error(s.line, QStringLiteral("[%1]").arg(s.name), message);
            continue;
        }
        seen.insert(name, s.line);
        if (const auto m = binName.match(name); m.hasMatch() && m.captured(1).toInt() > 0)
            readBin(r, s, m.captured(1).toInt());
        else if (const auto m = busName.match(name); m.hasMatch() && m.captured(1).toInt() > 0
                 && m.captured(1).toInt() <= kMostBuses)
            readBus(r, s, m.captured(1).toInt());
        else if (cableName.match(name).hasMatch())
            cables.append(&s);
        else if (airName.match(name).hasMatch() || fansName.match(name).hasMatch())
            devices.append(&s);
        else if (const auto m = profileName.match(name); m.hasMatch()) {
            if (airProfileNamed(m.captured(1)))
                r.error(s.line, QStringLiteral("[%1]").arg(s.name), Reader::say("%1 is a built-in profile's name").arg(m.captured(1)));
            else
                readProfile(r, s, m.captured(1));
        }
        else
            r.error(s.line, QStringLiteral("[%1]").arg(s.name),
                    Reader::say("unknown section (expected [bin.N], [bus.N], [cable.BUS.ADDRESS], [air.BUS.ADDRESS], [fans.BIN] or [profile.NAME])"));
    }
    std::sort(depot.buses.begin(), depot.buses.end(),
              [](const DepotBus &a, const DepotBus &b) { return a.number < b.number; });
    if (!depot.bus(1)) // the collector's own port, named or not
        depot.buses.prepend(DepotBus{1, QString(), 9600, {}, 0});
    for (Section *s : cables) {
        const auto m = cableName.match(s->name.toLower());
        const int bus = m.captured(1).isEmpty() ? 1 : m.captured(1).toInt();
        const int address = m.captured(2).toInt();
        if (address < 1 || address > 245)
            r.error(s->line, QStringLiteral("[%1]").arg(s->name), Reader::say("address %1 is not 1-245").arg(address));
        else if (!depot.bus(bus))
            r.error(s->line, QStringLiteral("[%1]").arg(s->name), Reader::say("there is no [bus.%1]").arg(bus));
        else
            readCable(r, *s, bus, address);
    }
    for (Section *s : devices)
        readAirOrFans(r, *s, airName.match(s->name.toLower()), fansName.match(s->name.toLower()));
    for (const DepotBin &b : depot.bins)
        if (b.round())
            checkRingSpacing(r, b);
    for (const DepotCable &c : depot.cables) {
        const DepotBus *b = depot.bus(c.bus);
        if (!b->addresses.isEmpty() && !b->addresses.contains(c.address))
            r.warning(c.line, QStringLiteral("[%1]").arg(c.section),
                      Reader::say("address %1 is not among bus %2's addresses, so it is not polled").arg(c.address).arg(c.bus));
    }
    std::stable_sort(depot.cables.begin(), depot.cables.end(), [&](const DepotCable &a, const DepotCable &b) {
        const auto order = [&](int bin) {
            for (int i = 0; i < depot.bins.size(); ++i)
                if (depot.bins[i].number == bin)
                    return i;
            return int(depot.bins.size());
        };
        return order(a.bin) < order(b.bin);
    });
    auto byLine = [](const DepotProblem &a, const DepotProblem &b) { return a.line < b.line; };
    std::stable_sort(depot.errors.begin(), depot.errors.end(), byLine);
    std::stable_sort(depot.warnings.begin(), depot.warnings.end(), byLine);
    return depot;
}

Depot singleBinDepot(const QList<int> &addresses)
{
    Depot depot;
    DepotBin bin;
    bin.number = 1;
    bin.name = QStringLiteral("1号仓");
    bin.rows = 1;
    bin.columns = int(std::max<qsizetype>(1, addresses.size()));
    depot.bins.append(bin);
    depot.buses.append(DepotBus{1, QString(), 9600, addresses, 0});
    int column = 0;
    for (int a : addresses) {
        DepotCable c;
        c.address = a;
        c.bin = 1;
        c.row = 1;
        c.column = ++column;
        for (int p = 1; p <= kLayers; ++p) {
            c.points.append(p);
            c.depthsM.append(0.5 * p);
        }
        depot.cables.append(c);
    }
    return depot;
}

Depot readDepotFile(const QString &path, const QList<int> &polledAddresses)
{
    QFile file(path);
    if (!file.exists())
        return singleBinDepot(polledAddresses);
    Depot depot;
    if (!file.open(QIODevice::ReadOnly)) {
        depot = singleBinDepot(polledAddresses);
        depot.errors.append({QFileInfo(path).fileName(), 0, QString(), file.errorString()});
        return depot;
    }
    return parseDepot(file.readAll(), QFileInfo(path).fileName());
}

} // namespace vx
