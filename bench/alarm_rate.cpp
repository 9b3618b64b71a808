// Alarms raised in steady normal operation: 36 cables of the simulator's
// drifting bin, a cycle every 10 s for an hour of simulated time, with
// 0.05 °C of sensor noise and 1% of replies lost; the same rules as the
// window and vxcollect. EEMUA 191 calls at most one alarm per 10 minutes
// acceptable. Usage: bench_alarm_rate [hours]   (prints figures, asserts nothing)
#include "Bus.h"
#include "core/grain/AlarmBook.h"
#include "core/grain/AlarmRules.h"
#include "core/grain/GrainState.h"

#include <cstdio>
#include <random>

using namespace vx;

int main(int argc, char *argv[])
{
    const double hours = argc > 1 ? std::atof(argv[1]) : 1.0;
    vxsim::BusConfig config;
    for (int a = 1; a <= 36; ++a)
        config.addresses << a;
    vxsim::Bus bus(config);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 0.05);
    std::bernoulli_distribution lost(0.01);
    GrainSnapshot snapshot;
    AlarmSettings settings;
    settings.silentAfterMs = 3 * 10000;
    AlarmBook book;
    const qint64 start = 1796700000000, cycleMs = 10000;
    int raised = 0, cycles = 0;
    QMap<QString, int> byRule;
    for (qint64 t = start; t < start + qint64(hours * 3600000); t += cycleMs, ++cycles) {
        for (const vxsim::SimDevice &d : bus.devices()) {
            if (lost(rng))
                continue;
            QList<quint16> raw;
            for (int p = 1; p <= vxsim::kPoints; ++p) {
                const quint16 r = bus.pointRegister(d, p, t - start);
                raw << (r == 0xFFFF ? r : vxsim::Bus::encode(r / 100.0 + noise(rng)));
            }
            snapshot.take(d.address, raw, t + d.index * 100, settings.judgement());
        }
        for (const AlarmTransition &tr : book.update(evaluateAlarms(snapshot, t + cycleMs - 1, settings), t + cycleMs - 1))
            if (tr.what == QLatin1String("raised")) {
                ++raised;
                ++byRule[ruleKey(tr.alarm.condition.rule)];
            }
    }
    std::printf("== steady normal operation: 36 cables, a cycle every 10 s, %.1f h simulated (%d cycles)\n", hours, cycles);
    std::printf("alarms raised     %d (%.2f per 10 minutes; EEMUA 191 acceptable: at most 1)\n", raised,
                raised / (hours * 6));
    for (auto it = byRule.cbegin(); it != byRule.cend(); ++it)
        std::printf("  %-16s %d\n", qPrintable(it.key()), it.value());
    std::printf("open at the end   %d\n", book.activeCount());
    return 0;
}
