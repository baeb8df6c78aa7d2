// libFuzzer target for the console's receive path: the real main window over a fake port,
// fed random bytes in random pieces, with sensor polls, the live view switched on and off,
// and the line dropped and connected again, all in an order the input chooses. No real time
// passes: a tick is the timer's handler called directly.
//   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON
//   cmake --build build/fuzz --target fuzz_receive && build/fuzz/fuzz/fuzz_receive
//   -max_total_time=60
//
// What must hold after every step, checked against this harness's own account of what is
// outstanding and what is waiting in the port:
// - a report is shown only when a receive event found exactly 26 bytes waiting while a request
//   was outstanding, and then it is the decoder's report of exactly those bytes;
// - such a packet writes exactly the stops the decoder asks for (never more than eight), all of
//   them before the report is shown, and nothing else is written meanwhile;
// - a tick with the view on and the port open writes one sensor request, and nothing else does.
#include "console/frmmain.h"
#include "link/fakeserialport.h"
#include "protocol/sci.h"
#include "protocol/sensordecoder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTextEdit>
#include <QTimer>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace
{

using velmora::console::FrmMain;
using velmora::link::FakeSerialPort;

QApplication *g_app = nullptr;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_receive: %s\n", what);
    std::abort();
}

// VELMORA_FUZZ_TRACE=1 prints every step, for reading a crashing input.
bool g_trace = false;

void note(const char *what, int a = -1, int b = -1)
{
    if (g_trace)
        std::fprintf(stderr, "  %s %d %d\n", what, a, b);
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

QByteArray asBytes(const velmora::sci::Sequence &s)
{
    return QByteArray(reinterpret_cast<const char *>(s.data()), static_cast<qsizetype>(s.size()));
}

class Harness
{
public:
    Harness() : port_(new FakeSerialPort), window_(std::make_unique<FrmMain>(port_))
    {
        live_ = find<QAbstractButton>("GetSensorData");
        timer_ = find<QTimer>("timerGetSensor");
        box_ = find<QTextEdit>("rtbWexbin");
        for (const char *name : {"labelBumpRight", "labelBumpLeft", "labelWheeldropRight",
                                 "labelWheeldropLeft", "labelCaster"})
            labels_.push_back(find<QLabel>(name));
        // Every change of the box, with how many writes had been made by then.
        QObject::connect(box_, &QTextEdit::textChanged, box_, [this] {
            changes_.push_back({box_->toPlainText(), port_->writes().size()});
        });
        find<QAction>("mnuFileDallop")->trigger();
        find<QLineEdit>("txtPortNum")->setText(QStringLiteral("3"));
    }

    // One window serves every input (building one costs more than most runs): each run starts
    // from the view off, no message open, the port just connected and nothing received.
    void restart()
    {
        for (QMessageBox *box : window_->findChildren<QMessageBox *>())
            box->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // The switch is usable only after Initialize Safe Mode, so connect first, whatever the
        // last input left.
        if (port_->portOpen())
            clickPort();
        connect();
        if (isOn())
            toggleLive();
        clickPort();
        check(!isOn() && !port_->portOpen() && window_->sensorPollActive() == 0,
              "could not start afresh");
        port_->clearRecord();
        changes_.clear();
        stream_.clear();
        outstanding_ = false;
        connect();
    }

    void connect()
    {
        note("connect");
        find<QAbstractButton>("btnPort")->click();
        check(port_->portOpen(), "Connect did not open the port");
        find<QAbstractButton>("btnSafe")->click();
    }

    // Disconnect, or Connect without Initialize Safe Mode, as the button says.
    void clickPort()
    {
        note("port button", port_->portOpen());
        find<QAbstractButton>("btnPort")->click();
    }

    void unplug()
    {
        note("unplug");
        port_->unplug();
    }

    void toggleLive()
    {
        const bool wasOn = isOn();
        note(wasOn ? "switch off" : "switch on", live_->isEnabled());
        const qsizetype writesBefore = port_->writes().size();
        live_->click();
        check(port_->writes().size() == writesBefore, "switching the view wrote something");
        if (wasOn && !isOn()) {
            outstanding_ = false;
            check(box_->toPlainText().isEmpty(), "switching off left a report");
        }
        check(timer_->isActive() == isOn(), "timer state differs from the caption");
    }

    void tick()
    {
        // The timer fires only while it runs.
        if (!timer_->isActive())
            return;
        const qsizetype writesBefore = port_->writes().size();
        note("tick", port_->portOpen(), port_->inBufferCount());
        QMetaObject::invokeMethod(timer_, "timeout", Qt::DirectConnection);
        const QList<QByteArray> writes = port_->writes();
        if (!port_->portOpen()) {
            check(writes.size() == writesBefore, "a tick on a closed port wrote something");
            return;
        }
        check(writes.size() == writesBefore + 1 &&
                  writes.last() == asBytes(velmora::sci::sciSensors()),
              "a tick did not write exactly one sensor request");
        for (const QLabel *label : labels_)
            check(label->isHidden(), "an indicator stayed visible after a request");
        outstanding_ = true;
    }

    // Bytes arriving; with an event, the console sees them now, without one, with a later event.
    void receive(const QByteArray &piece, bool event)
    {
        if (!port_->portOpen())
            return;
        const int waiting = port_->inBufferCount();
        if (waiting + piece.size() > FakeSerialPort::kInputLimit)
            return; // beyond the limit the port drops bytes, and the waiting bytes are no longer
                    // known here
        stream_ += piece;
        if (stream_.size() > FakeSerialPort::kInputLimit)
            stream_.remove(0, stream_.size() - FakeSerialPort::kInputLimit);
        if (!event) {
            note("receive quietly", waiting, static_cast<int>(piece.size()));
            port_->injectQuietly(piece);
            return;
        }

        // What waits once these bytes are in: the newest bytes of everything received.
        const int total = waiting + static_cast<int>(piece.size());
        const QByteArray all = stream_.right(total);
        const bool eventRaised = port_->rThreshold() >= 1 && total >= port_->rThreshold();
        const bool shouldShow = outstanding_ && eventRaised &&
                                total == static_cast<int>(velmora::sci::kSensorPacketSize);
        note(event ? "receive" : "receive quietly", waiting, static_cast<int>(piece.size()));

        const qsizetype writesBefore = port_->writes().size();
        changes_.clear();
        port_->injectReceived(piece);
        const QList<QByteArray> writes = port_->writes();
        const qsizetype written = writes.size() - writesBefore;

        qsizetype reports = 0;
        for (const auto &change : changes_)
            reports += change.text.isEmpty() ? 0 : 1;

        if (!shouldShow) {
            check(reports == 0,
                  "a report without exactly 26 bytes taken while a request was outstanding");
            check(written == 0, "a write without a shown packet");
            return;
        }

        velmora::sci::SensorPacket packet;
        for (std::size_t i = 0; i < packet.size(); ++i)
            packet[i] = static_cast<std::uint8_t>(all[static_cast<qsizetype>(i)]);
        Expected expected;
        const std::string report = velmora::sci::DecodeSensorPacket(packet, expected);

        check(reports == 1 && changes_.size() == 1,
              "a whole answer to an outstanding request was not shown once");
        // The box shows a line break for each "\r\n".
        const QString text =
            QString::fromLatin1(report.data(), static_cast<qsizetype>(report.size()))
                .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        check(changes_.front().text == text,
              "the report is not the decoder's report of the bytes taken");
        check(written <= 8, "more than eight stops for one packet");
        check(written == expected.stops, "the stops written differ from those the packet asks for");
        for (qsizetype i = writesBefore; i < writes.size(); ++i)
            check(writes[i] == asBytes(velmora::sci::goStop()),
                  "a write other than a stop while decoding");
        check(changes_.front().writesAtChange == writes.size(),
              "the report was shown before its stops were written");
        for (std::size_t i = 0; i < labels_.size(); ++i)
            check(!labels_[i]->isHidden() == expected.shown[i],
                  "an indicator does not match the packet");
        outstanding_ = false;
    }

    bool portOpen() const { return port_->portOpen(); }

private:
    // The decoder's own account of a packet, for comparison with what the window did.
    struct Expected : velmora::sci::SensorEventSink {
        void showIndicator(velmora::sci::SensorIndicator i) override
        {
            shown[static_cast<std::size_t>(i)] = true;
        }
        void requestStop() override { ++stops; }
        bool shown[5] = {false, false, false, false, false};
        qsizetype stops = 0;
    };
    struct Change {
        QString text;
        qsizetype writesAtChange;
    };

    template <typename T> T *find(const char *name) const
    {
        T *found = window_->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            fail(name);
        return found;
    }
    bool isOn() const { return live_->text() == QStringLiteral("Stop Live Sensor Data"); }

    FakeSerialPort *port_; // owned by the window
    std::unique_ptr<FrmMain> window_;
    QAbstractButton *live_;
    QTimer *timer_;
    QTextEdit *box_;
    std::vector<QLabel *> labels_;
    std::vector<Change> changes_;
    QByteArray stream_;
    bool outstanding_ = false;
};

QByteArray takeBytes(FuzzedDataProvider &in, std::size_t n)
{
    const std::vector<std::uint8_t> v = in.ConsumeBytes<std::uint8_t>(n);
    return QByteArray(reinterpret_cast<const char *>(v.data()), static_cast<qsizetype>(v.size()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    g_app = new QApplication(qtArgc, qtArgv);
    g_trace = qEnvironmentVariableIsSet("VELMORA_FUZZ_TRACE");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    // Never destroyed: at exit Qt's own globals go first.
    static Harness *const harness = new Harness;
    Harness &h = *harness;
    h.restart();
    // Mostly with the view on: that is where the receive path does its work.
    if (in.ConsumeBool() || in.remaining_bytes() == 0)
        h.toggleLive();
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 15)) {
        case 0:
        case 1:
        case 2:
            h.tick();
            break;
        case 3:
            h.toggleLive();
            break;
        case 4:
        case 5:
        case 6:
        case 7:
            // A whole answer's worth in one piece, the commonest arrival.
            h.receive(takeBytes(in, velmora::sci::kSensorPacketSize), true);
            break;
        case 8:
        case 9:
        case 10: {
            const auto n = in.ConsumeIntegralInRange<std::size_t>(1, 40);
            h.receive(takeBytes(in, n), true);
            break;
        }
        case 11:
        case 12: {
            // Bytes the port holds until a later event (pieces closer together than its settle
            // time).
            const auto n = in.ConsumeIntegralInRange<std::size_t>(1, 30);
            h.receive(takeBytes(in, n), false);
            break;
        }
        case 13:
            h.unplug();
            break;
        case 14:
            h.clickPort();
            break;
        case 15:
            if (!h.portOpen())
                h.connect();
            else
                h.tick();
            break;
        }
    }
    return 0;
}
