// The ventilation advisor's figures (prints, asserts nothing):
//  1. its evaluation for 100 bins of 10 cables x 18 points, as vxcollect runs it every minute;
//  2. the bus time two transmitters add to a cycle of 36 cables (paced simulator, 9600 baud);
//  3. a simulated month of autumn weather over a warm wheat bin: the hours the advice said go,
//     against a naive "every night 22:00-06:00" schedule and the hours of it whose air would
//     have wetted or warmed the grain.
// Usage: bench_ventilation [seconds per bus run]   (default 20)
#include "Air.h"
#include "core/air/VentilationControl.h"
#include "core/bus/BusEngine.h"
#include "core/depot/DepotPicture.h"
#include "core/link/QtSerialPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>

using namespace vx;

namespace {

void advisorTime()
{
    QByteArray text;
    for (int b = 1; b <= 100; ++b)
        text += QStringLiteral("[bin.%1]\nsize = 30x20\ngrid = 2x5\ngrain = wheat\nmoisture = 13\nmoisture_date = 2026-11-01\n"
                               "[fans.%1]\nrelay = %2\ncoil = %3\n").arg(b).arg(200 + b / 8).arg(b % 8).toUtf8();
    text += "[bus.1]\nport = /dev/null\n";
    for (int bus = 1; bus <= 5; ++bus) {
        if (bus > 1)
            text += QStringLiteral("[bus.%1]\nport = /dev/null\n").arg(bus).toUtf8();
        for (int i = 0; i < 200; ++i) {
            const int cable = (bus - 1) * 200 + i, bin = cable / 10 + 1;
            text += QStringLiteral("[cable.%1.%2]\nbin = %3\nposition = %4, %5\ndepths = 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5, 5.5, 6, 6.5, 7, 7.5, 8, 8.5, 9\n")
                        .arg(bus).arg(i + 1).arg(bin).arg(cable % 10 / 5 + 1).arg(cable % 5 + 1).toUtf8();
        }
    }
    text += "[air.1.240]\nplace = outside\n";
    const Depot depot = parseDepot(text);
    DepotPicture picture(depot);
    const qint64 now = 1796601600000;
    for (const DepotCable &c : depot.cables) {
        QList<quint16> raw;
        for (int p = 0; p < 18; ++p)
            raw << quint16(2000 + (c.key() % 7) * 30 + p * 10);
        picture.take(c.key(), raw, now - 1000);
    }
    VentilationControl control;
    control.setDepot(depot);
    control.setSettings({}, {}, true);
    control.accept(240, AirReading{8.0, 55.0, {}}, now - 500);
    QElapsedTimer clock;
    clock.start();
    const QList<BinProfile> profiles = picture.profiles(now, 600000);
    const double profileMs = clock.nsecsElapsed() / 1e6;
    QList<double> ms;
    int switches = 0;
    for (int run = 0; run < 200; ++run) {
        control.accept(240, AirReading{8.0, 55.0, {}}, now + run * 60000LL - 500); // the transmitter's minute
        clock.restart();
        const auto step = control.evaluate(profiles, now + run * 60000LL);
        ms << clock.nsecsElapsed() / 1e6;
        switches += int(step.switches.size());

        for (const FanSwitch &s : step.switches)
            control.switched(s, true, now + run * 60000LL);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("== advisor: 100 bins, 1,000 cables x 18 points\n");
    std::printf("bins' profiles from the picture   %.2f ms\n", profileMs);
    std::printf("advice and fans, median           %.3f ms (slowest %.3f ms; %d fan switches in 200 minutes)\n",
                ms[ms.size() / 2], ms.last(), switches);
}

struct BusRun {
    double cycleMs = 0;
    double cableMs = 0, transmitterMs = 0; // an exchange's mean, request sent to reply received
    int silenceMs = 0;
};

// A paced simulator at 9600 baud: 36 cables, with or without two transmitters.
BusRun busRun(bool transmitters, int seconds)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("bus"));
    QStringList args{"--link", link, "--pace", "--baud", "9600", "--addresses", "1-36"};
    if (transmitters)
        args << "--air" << "50:th" << "--air" << "51:ht:headspace";
    QProcess sim;
    sim.start(QStringLiteral(VXSIM_PATH), args);
    if (!sim.waitForReadyRead(5000) || !QFileInfo::exists(link))
        return {};
    QtSerialPort port([link](int) { return link; });
    port.setSettings(QStringLiteral("9600,N,8,1"));
    if (!port.open())
        return {};
    BusSettings s;
    for (int a = 1; a <= 36; ++a)
        s.addresses << a;
    if (transmitters) {
        s.addresses << 50 << 51;
        s.reads.insert(50, {0x03, 0, 2});
        s.reads.insert(51, {0x03, 0, 2});
    }
    s.baud = 9600;
    BusEngine engine(port, s);
    engine.start();
    QElapsedTimer clock;
    qint64 firstCycle = -1;
    QObject::connect(&engine, &BusEngine::cycleDone, [&](qint64 cycle) {
        if (firstCycle < 0) {
            firstCycle = cycle;
            clock.start();
        }
    });
    QTimer::singleShot(seconds * 1000, [&] { engine.stop(); });
    while (engine.running())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const double elapsed = clock.nsecsElapsed() / 1e6;
    sim.terminate();
    sim.waitForFinished(3000);
    BusRun r;
    const qint64 cycles = engine.cycles() - firstCycle;
    r.cycleMs = cycles > 0 ? elapsed / double(cycles) : 0;
    r.silenceMs = s.silenceMs();
    for (int a = 1; a <= 36; ++a)
        r.cableMs += engine.stats()[a].responseMeanMs() / 36;
    if (transmitters)
        r.transmitterMs = (engine.stats()[50].responseMeanMs() + engine.stats()[51].responseMeanMs()) / 2;
    return r;
}

void busTime(int seconds)
{
    const BusRun plain = busRun(false, seconds), with = busRun(true, seconds);
    std::printf("== bus time: 36 cables at 9600 baud, paced simulator, %d s each\n", seconds);
    std::printf("an exchange: a cable's %.1f ms, a transmitter's %.1f ms, each then %d ms of silence\n", with.cableMs,
                with.transmitterMs, with.silenceMs);
    const double added = 2 * (with.transmitterMs + with.silenceMs);
    std::printf("two transmitters add              %.0f ms to a cycle of %.0f ms (%.1f%%)\n", added, plain.cycleMs,
                plain.cycleMs > 0 ? 100 * added / plain.cycleMs : 0.0);
    std::printf("cycle measured                    %.0f ms without, %.0f ms with\n", plain.cycleMs, with.cycleMs);
}

// A month of autumn minute by minute: days drifting colder, one in four wet.
void month()
{
    std::mt19937 rng(11);
    std::normal_distribution<double> drift(0, 1.5);
    std::bernoulli_distribution wetDay(0.25);
    const SorptionConstants wheat = *sorptionFor(QStringLiteral("wheat"));
    const double moisture = 13.0;
    VentilationSettings settings;
    double grain = 24;            // the bin's mean, °C
    double gradient = 0.4, topBottom = 1.0;
    bool cooling = false;
    double goHours = 0, naiveHours = 0, naiveWetting = 0, naiveWarming = 0, goWetting = 0, goWarming = 0;
    double naiveGrain = 24;       // the same bin under the naive schedule
    const qint64 minute = 60000, day = 24 * 60 * minute;
    double mean = 16;
    for (int d = 0; d < 30; ++d) {
        mean += -0.25 + drift(rng) * 0.5;
        vxsim::Weather w;
        w.meanC = mean;
        w.swingC = 5;
        const bool wet = wetDay(rng);
        w.rhMean = wet ? 88 : 62;
        w.rhSwing = wet ? 8 : 22;
        w.noise = 0.6;
        for (qint64 m = 0; m < 24 * 60; ++m) {
            const qint64 t = d * day + m * minute;
            const vxsim::AirNow out = vxsim::outsideAir(w, t, 3);
            VentilationInputs in;
            in.grainMeanC = grain;
            in.gradientPerMetre = gradient;
            in.topBottomC = topBottom;
            in.outsideC = out.celsius;
            in.outsideRh = out.rh;
            in.grainMoistureWet = moisture;
            in.sorption = wheat;
            in.cooling = cooling;
            const VentilationAdvice a = adviseVentilation(in, settings);
            cooling = a.go;
            const auto emc = equilibriumMoistureContent(wheat, out.celsius, std::min(out.rh, 99.9));
            const bool wetting = !emc || *emc > moisture + settings.wettingMargin;
            const double h = 1.0 / 60;
            if (a.go) {
                goHours += h;
                goWetting += wetting ? h : 0;
                goWarming += out.celsius >= grain ? h : 0;
                grain += (out.celsius - grain) * 0.01 * h; // a cooling front: about 100 fan hours a bin
                topBottom = std::max(0.5, topBottom - 0.002);
            } else {
                grain += 0.02 / 24 * h; // self-heating of stored grain, 0.02 °C a day
            }
            const int hour = int(m / 60);
            if (hour >= 22 || hour < 6) {
                naiveHours += h;
                naiveWetting += wetting ? h : 0;
                naiveWarming += out.celsius >= naiveGrain ? h : 0;
                naiveGrain += (out.celsius - naiveGrain) * 0.01 * h;
            } else {
                naiveGrain += 0.02 / 24 * h;
            }
        }
    }
    std::printf("== a simulated month of autumn (30 days, a quarter of them wet) over a 24 °C wheat bin at 13 %%\n");
    std::printf("advice said go                    %.0f h (of them with wetting air %.0f h, warming air %.0f h); grain %.1f -> %.1f °C\n",
                goHours, goWetting, goWarming, 24.0, grain);
    std::printf("naive 22:00-06:00 every night     %.0f h: with air that wets the grain %.0f h, warms it %.0f h; grain -> %.1f °C\n",
                naiveHours, naiveWetting, naiveWarming, naiveGrain);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 20;
    advisorTime();
    busTime(seconds);
    month();
    return 0;
}
