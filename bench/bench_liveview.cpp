// Live view against the simulator with its right bumper held: how long after a bump packet
// leaves the simulator its stop sequence arrives back, and how regular the polls are. Both
// are read from the simulator's own trace clock.
//
//   cmake --build <build> --target bench_liveview velmora-sim
//   QT_QPA_PLATFORM=offscreen <build>/bench/bench_liveview [packets, default 600]

#include "../tests/console/consoletest.h"
#include "simrobot.h"

#include "link/qtserialport.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>

using velmora::test::ConsoleWindow;
using velmora::test::SimRobot;
using velmora::test::TraceEntry;

namespace
{

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const auto i =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int wanted = argc > 1 ? std::max(10, QString::fromLocal8Bit(argv[1]).toInt()) : 600;

    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const int port = 31;
    SimRobot sim(config.path(), port, {});
    QString ready;
    if (!sim.waitReady(&ready)) {
        std::fprintf(stderr, "%s\n", qPrintable(ready));
        return 1;
    }
    sim.command("bump right");

    ConsoleWindow c(new velmora::link::QtSerialPort);
    c.connectPort("mnuFileDallop", QString::number(port));
    if (!c.messages().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(c.messages().join('\n')));
        return 1;
    }
    c.click("btnSafe");
    int shown = 0;
    QObject::connect(c.get<QTextEdit>("rtbWexbin"), &QTextEdit::textChanged, &app, [&] {
        if (c.report().startsWith("Bump Right\n") && ++shown >= wanted)
            QCoreApplication::quit();
    });
    c.click("GetSensorData");
    QApplication::exec();
    c.click("GetSensorData");
    QTest::qWait(100); // the last stop's trace line

    const QByteArray stop("\x89\0\0\0\0", 5);
    const QByteArray request("\x8e\0", 2);
    std::vector<double> latency, period;
    double bumpSent = -1, lastRequest = -1;
    for (const TraceEntry &e : sim.trace()) {
        if (e.dir == "tx" && e.bytes.size() == 26 && (e.bytes[0] & 1))
            bumpSent = e.t;
        else if (e.dir == "rx" && e.bytes == stop && bumpSent >= 0) {
            latency.push_back((e.t - bumpSent) * 1000.0);
            bumpSent = -1;
        } else if (e.dir == "rx" && e.bytes == request) {
            if (lastRequest >= 0)
                period.push_back((e.t - lastRequest) * 1000.0);
            lastRequest = e.t;
        }
    }
    if (latency.empty() || period.empty()) {
        std::fprintf(stderr, "no bump packets or polls in the trace\n");
        return 1;
    }
    double mean = 0;
    for (double p : period)
        mean += p;
    mean /= static_cast<double>(period.size());
    double var = 0;
    for (double p : period)
        var += (p - mean) * (p - mean);
    const double sd = std::sqrt(var / static_cast<double>(period.size()));

    std::printf(
        "bump packet out -> stop back: %zu packets, median %.3f ms, p99 %.3f ms, max %.3f ms\n",
        latency.size(), percentile(latency, 50), percentile(latency, 99),
        *std::max_element(latency.begin(), latency.end()));
    std::printf("poll period: %zu intervals, mean %.3f ms, sd %.3f ms, min %.3f ms, max %.3f ms\n",
                period.size(), mean, sd, *std::min_element(period.begin(), period.end()),
                *std::max_element(period.begin(), period.end()));
    std::printf("reports shown: %d\n", shown);
    return 0;
}
