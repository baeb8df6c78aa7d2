// The console's stop path on its own: the real main window (offscreen) and the real port over a
// pseudo-terminal, the benchmark playing the robot. For each packet it ticks the poll, answers the
// request with a bumped 26-byte packet, and measures inside the process, from the moment the
// port's receive event starts the window's handler:
//   - heap allocations until the stop write has returned (the goal is none), and over the whole
//     handler (drawing chores after the stop included);
//   - time until the stop write has returned, and for the whole handler;
// once with the line trace off (as shipped) and once on, written to /dev/null, in alternating
// blocks so both see the same machine.
//
//   cmake --preset release -G Ninja && cmake --build --preset release --target bench_stoppath
//   build/release/bench/bench_stoppath [packets per trace setting, default 2000]
#include "allocations.h"
#include "ptypair.h"

#include "console/frmmain.h"
#include "link/qtserialport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int kPortNumber = 7;
constexpr int kWarmUp = 200;
constexpr int kBlocks = 4;
const std::uint8_t kStop[] = {137, 0, 0, 0, 0};

// One handled packet.
struct Sample {
    Clock::time_point start, stopped, end;
    long long allocStart = 0, allocStopped = -1, allocEnd = 0;
};

// The real port, noting when the first stop of a packet has been handed over.
class BenchPort : public velmora::link::QtSerialPort
{
public:
    Sample *current = nullptr;

protected:
    bool writeDevice(const QByteArray &bytes) override
    {
        const bool ok = QtSerialPort::writeDevice(bytes);
        if (current && current->allocStopped < 0 && bytes.size() == sizeof kStop &&
            std::memcmp(bytes.constData(), kStop, sizeof kStop) == 0) {
            current->allocStopped = heapAllocations();
            current->stopped = Clock::now();
        }
        return ok;
    }
};

std::FILE *g_sink = nullptr;

void toDevNull(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = qFormatLogMessage(QtDebugMsg, context, message).toLocal8Bit();
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), g_sink);
    std::fputc('\n', g_sink);
}

void setTrace(bool on)
{
    QLoggingCategory::setFilterRules(on ? QStringLiteral("velmora.link.debug=true")
                                        : QStringLiteral("velmora.link.debug=false"));
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const auto i =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

class Bench
{
public:
    Bench(BenchPort *port, PtyPair &pty) : port_(port), pty_(pty), window_(port)
    {
        // Connected after the window's own handler, so it marks that handler's end.
        QObject::connect(port_, &velmora::link::SerialPort::onComm, &app(), [this] {
            if (port_->current) {
                port_->current->allocEnd = heapAllocations();
                port_->current->end = Clock::now();
                handled_ = true;
            }
        });
        packet_.fill('\0', 26);
        packet_[0] = 1; // bump right
        packet_[10] = static_cast<char>(255);
        // A running battery's 15 V: bytes no robot sends are dropped as out of step.
        packet_[17] = static_cast<char>(15000 >> 8);
        packet_[18] = static_cast<char>(15000 & 0xff);
    }

    static QCoreApplication &app() { return *QCoreApplication::instance(); }

    // Marks the handler's start; connected before the window exists, so it runs first.
    static void markStart(BenchPort *port)
    {
        if (port->current) {
            port->current->start = Clock::now();
            port->current->allocStart = heapAllocations();
        }
    }

    QString connect()
    {
        window_.show();
        window_.findChild<QAction *>(QStringLiteral("mnuFileDallop"))->trigger();
        window_.findChild<QLineEdit *>(QStringLiteral("txtPortNum"))
            ->setText(QString::number(kPortNumber));
        button("btnPort")->click();
        if (!port_->portOpen())
            return port_->errorString();
        button("btnSafe")->click();
        button("GetSensorData")->click();
        // Ticks come from here, one per packet, not from the clock.
        timer_ = window_.findChild<QTimer *>(QStringLiteral("timerGetSensor"));
        timer_->stop();
        return {};
    }

    // One poll answered by a bumped packet; false if the handler did not run within a second.
    bool packet(Sample &sample)
    {
        port_->current = &sample;
        handled_ = false;
        QMetaObject::invokeMethod(timer_, "timeout", Qt::DirectConnection);
        if (!pty_.write(packet_))
            return false;
        const QDeadlineTimer deadline(1000);
        while (!handled_ && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        port_->current = nullptr;
        return handled_ && sample.allocStopped >= 0;
    }

private:
    QAbstractButton *button(const char *name)
    {
        return window_.findChild<QAbstractButton *>(QString::fromLatin1(name));
    }

    BenchPort *port_;
    PtyPair &pty_;
    velmora::console::FrmMain window_;
    QTimer *timer_ = nullptr;
    QByteArray packet_;
    bool handled_ = false;
};

struct Row {
    const char *name;
    std::vector<Sample> samples;
};

void print(const Row &row)
{
    std::vector<double> toStop, whole;
    double allocToStop = 0, allocWhole = 0;
    long long worstToStop = 0;
    for (const Sample &s : row.samples) {
        toStop.push_back(micros(s.stopped - s.start));
        whole.push_back(micros(s.end - s.start));
        allocToStop += static_cast<double>(s.allocStopped - s.allocStart);
        allocWhole += static_cast<double>(s.allocEnd - s.allocStart);
        worstToStop = std::max(worstToStop, s.allocStopped - s.allocStart);
    }
    const auto n = static_cast<double>(row.samples.size());
    std::printf("| %-5s | %7zu | %9.2f (max %lld) | %8.1f | %8.1f | %8.1f | %8.1f | %8.2f |\n",
                row.name, row.samples.size(), allocToStop / n, worstToStop, percentile(toStop, 50),
                percentile(toStop, 99), percentile(whole, 50), percentile(whole, 99),
                allocWhole / n);
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int wanted = argc > 1 ? std::max(kBlocks, std::atoi(argv[1])) : 2000;
    const int perBlock = wanted / kBlocks;

    g_sink = std::fopen("/dev/null", "w");
    qInstallMessageHandler(toDevNull);

    PtyPair pty(kPortNumber);
    if (!pty.problem().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(pty.problem()));
        return 1;
    }
    auto *port = new BenchPort; // owned by the window
    QObject::connect(port, &velmora::link::SerialPort::onComm, &application,
                     [port] { Bench::markStart(port); });
    Bench bench(port, pty);
    if (const QString problem = bench.connect(); !problem.isEmpty()) {
        std::fprintf(stderr, "cannot connect: %s\n", qPrintable(problem));
        return 1;
    }

    Row rows[] = {{"off", {}}, {"on", {}}};
    for (Row &row : rows)
        row.samples.resize(static_cast<std::size_t>(perBlock * kBlocks));
    Sample scratch;
    for (int round = 0; round < 2; ++round) {
        setTrace(round == 1);
        for (int i = 0; i < kWarmUp; ++i) {
            scratch = Sample{};
            if (!bench.packet(scratch)) {
                std::fprintf(stderr, "no stop for a bumped packet during the warm-up\n");
                return 1;
            }
        }
    }
    for (int block = 0; block < kBlocks; ++block) {
        for (int r = 0; r < 2; ++r) {
            setTrace(r == 1);
            for (int i = 0; i < perBlock; ++i) {
                Sample &s = rows[r].samples[static_cast<std::size_t>(block * perBlock + i)];
                if (!bench.packet(s)) {
                    std::fprintf(stderr, "no stop for a bumped packet\n");
                    return 1;
                }
            }
        }
    }
    setTrace(false);

    std::printf("Stop path: receive event to the stop written, real window (offscreen) and real "
                "port over a pseudo-terminal; bumped packets, one stop each.\n\n");
    std::printf("| trace | packets | allocations to the stop | to stop, median (us) | to stop, "
                "p99 (us) | handler, median (us) | handler, p99 (us) | allocations, whole "
                "handler |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Row &row : rows)
        print(row);
    std::fclose(g_sink);
    return 0;
}
