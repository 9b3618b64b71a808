#include "Control.h"

#include <QRegularExpression>

#include "Options.h"

#include <QStringList>

#include <cmath>

namespace vxsim {

QString controlHelp()
{
    return QStringLiteral(
        "Control channel (--control PATH, a FIFO; one command a line, e.g. echo 'heat 3 12' > PATH):\n"
        "  heat A[.P] DEG     add DEG degrees to every point of devices A (or point P only); 0 undoes it\n"
        "  rise A[.P] DEG     add a slow rise of DEG degrees per hour from now on; 0 stops it where it is\n"
        "  hold A.P RAW       point P reads the register RAW (0-65535: 65535 no reading, 8500 power-on)\n"
        "  release A.P        point P reads its temperature again\n"
        "  silence A          devices A stop answering and uploading\n"
        "  revive A           devices A answer again\n"
        "  reset              undo everything above\n"
        "  weather DEG RH     the outside air from now on (°C, %RH); weather off: the daily cycle again\n"
        "  airfault A MODE    transmitters A answer with: none, exception, short (a register missing), range (150 °C)\n"
        "A is an address list (3, 1-4, 2,5), or with --depot a cable's place binB:ROW,COLUMN (a silo's\n"
        "binB:RING,ANGLE); P is a point 1-18. Each command is answered on\n"
        "standard output with a line \"vxsim: control: ...\", or on standard error with the mistake.");
}

namespace {
// binB:R,C -> the address of the cable hanging there on this bus.
std::optional<int> addressAt(const QString &place, const vx::Depot *depot, int bus, QString *error)
{
    static const QRegularExpression form(QStringLiteral("^bin(\\d+):(\\d+),(\\d+)$"));
    const auto m = form.match(place);
    if (!m.hasMatch()) {
        *error = QStringLiteral("\"%1\" is not a place like bin2:3,4").arg(place);
        return std::nullopt;
    }
    if (!depot) {
        *error = QStringLiteral("a cable's place needs --depot");
        return std::nullopt;
    }
    const int bin = m.captured(1).toInt(), first = m.captured(2).toInt(), second = m.captured(3).toInt();
    const vx::DepotBin *b = depot->bin(bin);
    for (const vx::DepotCable &c : depot->cables)
        if (b && c.bin == bin && c.bus == bus
            && (b->round() ? c.ring == first && qRound(c.angleDeg) == second : c.row == first && c.column == second))
            return c.address;
    *error = QStringLiteral("no cable of bus %1 hangs at %2").arg(bus).arg(place);
    return std::nullopt;
}
} // namespace

std::optional<ControlCommand> parseControlCommand(const QString &line, QString *error, const vx::Depot *depot, int bus)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        *error = QStringLiteral("empty command");
        return std::nullopt;
    }
    if (words[0].toLower() == QLatin1String("weather")) {
        ControlCommand c;
        c.kind = ControlCommand::Kind::Weather;
        if (words.size() == 2 && words[1].toLower() == QLatin1String("off"))
            return c;
        bool okT = false, okH = false;
        c.amount = words.value(1).toDouble(&okT);
        const double rh = words.value(2).toDouble(&okH);
        if (words.size() != 3 || !okT || !okH || c.amount < -40 || c.amount > 60 || rh < 0 || rh > 100) {
            *error = QStringLiteral("weather takes DEG (-40 to 60) and RH (0 to 100), or off");
            return std::nullopt;
        }
        c.humidity = rh;
        return c;
    }
    if (words[0].toLower() == QLatin1String("airfault")) {
        ControlCommand c;
        c.kind = ControlCommand::Kind::AirFault;
        static const QStringList modes{QStringLiteral("none"), QStringLiteral("exception"), QStringLiteral("short"),
                                       QStringLiteral("range")};
        const auto addresses = parseAddressList(words.value(1));
        c.fault = int(modes.indexOf(words.value(2).toLower()));
        if (words.size() != 3 || !addresses || c.fault < 0) {
            *error = QStringLiteral("airfault takes addresses and one of none, exception, short, range");
            return std::nullopt;
        }
        c.addresses = *addresses;
        return c;
    }
    static const QList<QPair<QString, ControlCommand::Kind>> kinds = {
        {QStringLiteral("heat"), ControlCommand::Kind::Heat},       {QStringLiteral("rise"), ControlCommand::Kind::Rise},
        {QStringLiteral("hold"), ControlCommand::Kind::Hold},       {QStringLiteral("release"), ControlCommand::Kind::Release},
        {QStringLiteral("silence"), ControlCommand::Kind::Silence}, {QStringLiteral("revive"), ControlCommand::Kind::Revive},
        {QStringLiteral("reset"), ControlCommand::Kind::Reset}};
    ControlCommand c;
    bool known = false;
    for (const auto &k : kinds)
        if (k.first == words[0].toLower()) {
            c.kind = k.second;
            known = true;
        }
    if (!known) {
        *error = QStringLiteral("unknown command \"%1\"").arg(words[0]);
        return std::nullopt;
    }
    using K = ControlCommand::Kind;
    const int wanted = c.kind == K::Reset ? 1 : (c.kind == K::Heat || c.kind == K::Rise || c.kind == K::Hold) ? 3 : 2;
    if (words.size() != wanted) {
        *error = QStringLiteral("%1 takes %2 argument(s)").arg(words[0]).arg(wanted - 1);
        return std::nullopt;
    }
    if (c.kind == K::Reset)
        return c;

    // Target: addresses, then a point where the command allows one.
    const QStringList target = words[1].split(QLatin1Char('.'));
    if (target[0].startsWith(QLatin1String("bin"), Qt::CaseInsensitive)) {
        const auto address = addressAt(target[0].toLower(), depot, bus, error);
        if (!address)
            return std::nullopt;
        c.addresses = {*address};
    }
    const auto addresses = c.addresses.isEmpty() ? parseAddressList(target[0]) : std::optional<QList<int>>(c.addresses);
    if (!addresses || target.size() > 2) {
        *error = QStringLiteral("\"%1\" is not an address list like 3 or 1-4, with .point after it").arg(words[1]);
        return std::nullopt;
    }
    c.addresses = *addresses;
    if (target.size() == 2) {
        bool ok = false;
        c.point = target[1].toInt(&ok);
        if (!ok || c.point < 1 || c.point > 18) {
            *error = QStringLiteral("point \"%1\" is not 1-18").arg(target[1]);
            return std::nullopt;
        }
    }
    const bool needsPoint = c.kind == K::Hold || c.kind == K::Release;
    const bool takesPoint = c.kind == K::Heat || c.kind == K::Rise || needsPoint;
    if ((needsPoint && c.point == 0) || (!takesPoint && c.point != 0)) {
        *error = needsPoint ? QStringLiteral("%1 needs a point: A.P").arg(words[0])
                            : QStringLiteral("%1 takes devices, not a point").arg(words[0]);
        return std::nullopt;
    }
    if (c.kind == K::Hold) {
        bool ok = false;
        const uint raw = words[2].toUInt(&ok);
        if (!ok || raw > 65535) {
            *error = QStringLiteral("raw value \"%1\" is not 0-65535").arg(words[2]);
            return std::nullopt;
        }
        c.raw = quint16(raw);
    } else if (c.kind == K::Heat || c.kind == K::Rise) {
        bool ok = false;
        c.amount = words[2].toDouble(&ok);
        if (!ok || !std::isfinite(c.amount) || std::fabs(c.amount) > 200) {
            *error = QStringLiteral("\"%1\" is not a number of degrees from -200 to 200").arg(words[2]);
            return std::nullopt;
        }
    }
    return c;
}

} // namespace vxsim
