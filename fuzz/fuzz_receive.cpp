// libFuzzer target for the console's receive path: the live view's SensorPoll over a port whose
// settle timer the input fires, fed random bytes in random pieces, with sensor requests, the view
// switched on and off, adapter lines written, and the line dropped and opened again, all in an
// order the input chooses. One poll and one port serve every input, put back to a fresh start
// before each; nothing waits on real time and no widget is built. The window only shows what a
// walk found (its own tests cover that).
//   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON
//   cmake --build build/fuzz --target fuzz_receive && build/fuzz/fuzz/fuzz_receive
//   -max_total_time=60 -max_len=256
//
// What must hold after every step, checked against this harness's own account of what was
// requested, what was written to the adapter and what waits in the port:
// - a receive event comes at once when 26 bytes wait, otherwise only when the settle time ends
//   with bytes waiting, and only after a request set the threshold;
// - a packet is decoded only when such an event found exactly 26 bytes waiting while a request
//   was outstanding and no adapter line was written since the request before it, and then the
//   report and indicators are the decoder's for exactly those bytes;
// - a decoded packet writes exactly the stops the decoder asks for (never more than eight) and
//   nothing else; nothing else writes on a receive event;
// - a request on an open port discards what waits and writes one sensor request.
#include "console/sensorpoll.h"
#include "link/serialport.h"
#include "protocol/sci.h"
#include "protocol/sensordecoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

using velmora::link::SerialPort;
namespace sci = velmora::sci;

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

bool same(const QByteArray &bytes, const sci::Sequence &s)
{
    return static_cast<std::size_t>(bytes.size()) == s.size() &&
           std::equal(s.begin(), s.end(), bytes.constData(),
                      [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

// A device-less port: writes are recorded, and the settle timer is a flag the input ends.
class FuzzPort : public SerialPort
{
public:
    bool portOpen() const override { return open_; }

    // Bytes from the device, as the real port hands them over.
    void receive(const QByteArray &bytes) { arrive(bytes); }
    bool settling() const { return settling_; }
    // The line has been quiet for the settle time.
    void settleEnds()
    {
        if (!settling_)
            return;
        settling_ = false;
        const TraceHold hold(*this);
        raiseReceive();
    }
    void lose()
    {
        open_ = false;
        settling_ = false;
        reportDeviceLost(QStringLiteral("lost"));
    }
    std::vector<QByteArray> writes;

protected:
    bool openDevice() override { return open_ = true; }
    void closeDevice() override
    {
        open_ = false;
        settling_ = false;
    }
    bool applyRts(bool) override { return true; }
    bool writeDevice(const QByteArray &bytes) override
    {
        writes.emplace_back(bytes.constData(), bytes.size());
        return true;
    }
    void settle(bool start) override { settling_ = start; }

private:
    bool open_ = false;
    bool settling_ = false;
};

// The decoder's own account of a packet, for comparison with what the poll did.
struct Expected : sci::SensorEventSink {
    void showIndicator(sci::SensorIndicator i) override { shown.push_back(i); }
    void requestStop() override { ++stops; }
    std::vector<sci::SensorIndicator> shown;
    std::size_t stops = 0;
};

class Harness
{
public:
    Harness()
        : poll_(
              port_, [this](const sci::Sequence &s) { return sci::sendSci(port_, s); },
              [this] { sci::sendSci(port_, stop_); })
    {
        port_.setCommPort(3);
        // The window's receive event: take, then decode.
        QObject::connect(&port_, &SerialPort::onComm, &port_, [this] {
            ++events_;
            sci::SensorPacket packet;
            if (poll_.take(packet)) {
                taken_ = packet;
                decoded_ = poll_.decode(packet);
            }
        });
    }

    // Each input starts with the view off, the port just opened, nothing received and no
    // request made since the port was built.
    void restart()
    {
        port_.setPortOpen(false);
        poll_.cancel();
        port_.setRThreshold(0);
        port_.setInputLen(0);
        port_.writes.clear();
        stream_.clear();
        viewOn_ = false;
        outstanding_ = false;
        requestedSinceOn_ = false;
        linesSinceRequest_ = 0;
        linesUntrusted_ = 0;
        open();
    }

    bool portOpen() const { return port_.portOpen(); }

    void open()
    {
        note("open");
        check(port_.setPortOpen(true) && port_.inBufferCount() == 0, "open");
    }

    void close()
    {
        note("close");
        port_.setPortOpen(false);
    }

    void unplug()
    {
        note("unplug", port_.portOpen());
        if (port_.portOpen())
            port_.lose();
        check(port_.inBufferCount() == 0, "input kept after a loss");
    }

    void toggleView()
    {
        note(viewOn_ ? "view off" : "view on");
        viewOn_ = !viewOn_;
        if (viewOn_)
            return;
        poll_.cancel();
        outstanding_ = false;
        requestedSinceOn_ = false;
        check(poll_.active() == 0, "switching off left a request outstanding");
    }

    // The timer's tick while the view is on.
    void tick()
    {
        if (!viewOn_)
            return;
        note("tick", port_.portOpen(), port_.inBufferCount());
        const std::size_t writesBefore = port_.writes.size();
        const bool sent = poll_.request();
        if (!port_.portOpen()) {
            check(!sent && port_.writes.size() == writesBefore,
                  "a request on a closed port wrote something");
            return;
        }
        check(sent && port_.writes.size() == writesBefore + 1 &&
                  same(port_.writes.back(), sci::sciSensors()),
              "a request did not write exactly one sensor request");
        check(port_.inBufferCount() == 0 && poll_.active() == 1,
              "a request left input waiting or no request outstanding");
        outstanding_ = true;
        // An answer is trusted only if no adapter line went out since the request before this
        // one (or since this one, the first since the view went on).
        linesUntrusted_ = requestedSinceOn_ ? linesSinceRequest_ : 0;
        linesSinceRequest_ = 0;
        requestedSinceOn_ = true;
    }

    // An AT line to the adapter, as renaming writes while the view runs.
    void adapterLine()
    {
        note("adapter line", port_.portOpen());
        const bool wasOpen = port_.portOpen();
        port_.output(QStringLiteral("AT+NAMEfuzz\r\n"));
        if (!wasOpen)
            return;
        ++linesSinceRequest_;
        ++linesUntrusted_;
    }

    // Bytes arriving; with quiet after them the settle time ends, without, more may follow.
    void receive(const QByteArray &piece, bool quietAfter)
    {
        if (!port_.portOpen())
            return;
        const int waiting = port_.inBufferCount();
        if (waiting + piece.size() > SerialPort::kInputLimit)
            return; // beyond the limit the port drops bytes and what waits is no longer known
        note(quietAfter ? "receive" : "receive, more to come", waiting,
             static_cast<int>(piece.size()));
        stream_ += piece;
        if (stream_.size() > SerialPort::kInputLimit)
            stream_.remove(0, stream_.size() - SerialPort::kInputLimit);
        const int total = waiting + static_cast<int>(piece.size());
        const QByteArray all = stream_.right(total);
        const bool armed = port_.rThreshold() >= 1;
        const bool atOnce = armed && port_.inputLen() > 0 && total >= port_.inputLen();

        const std::size_t writesBefore = port_.writes.size();
        events_ = 0;
        decoded_ = false;
        port_.receive(piece);
        check(events_ == (atOnce ? 1 : 0), "an event other than at once for a whole read");
        check(port_.settling() == (armed && !atOnce), "settle timer not started for a part");
        if (quietAfter && !atOnce) {
            port_.settleEnds();
            check(events_ == (armed && total >= port_.rThreshold() ? 1 : 0),
                  "no event when the line went quiet");
        }
        const bool event = events_ == 1;
        const std::size_t written = port_.writes.size() - writesBefore;
        const bool shouldDecode = outstanding_ && event &&
                                  total == static_cast<int>(sci::kSensorPacketSize) &&
                                  linesUntrusted_ == 0;
        if (!shouldDecode) {
            check(!decoded_, "decoded without exactly 26 bytes taken for a trusted request");
            check(written == 0, "a write without a decoded packet");
            return;
        }
        check(decoded_ && poll_.active() == 0, "a whole trusted answer was not decoded");

        sci::SensorPacket packet;
        for (std::size_t i = 0; i < packet.size(); ++i)
            packet[i] = static_cast<std::uint8_t>(all[static_cast<qsizetype>(i)]);
        check(packet == taken_, "the bytes taken are not the bytes waiting");
        Expected expected;
        const sci::SensorReport report = sci::DecodeSensorPacket(packet, expected);
        check(poll_.report() == report, "the report is not the decoder's report of the bytes");
        check(written <= 8, "more than eight stops for one packet");
        check(written == expected.stops, "the stops written differ from those the packet asks");
        for (std::size_t i = writesBefore; i < port_.writes.size(); ++i)
            check(same(port_.writes[i], stop_), "a write other than a stop while decoding");
        check(std::equal(poll_.begin(), poll_.end(), expected.shown.begin(), expected.shown.end()),
              "the indicators differ from the packet's");
        outstanding_ = false;
    }

private:
    FuzzPort port_;
    const sci::Sequence stop_ = sci::goStop();
    velmora::console::SensorPoll poll_;
    int events_ = 0;
    bool decoded_ = false;
    sci::SensorPacket taken_{};
    QByteArray stream_;
    bool viewOn_ = false;
    bool outstanding_ = false;
    bool requestedSinceOn_ = false;
    int linesSinceRequest_ = 0;
    int linesUntrusted_ = 0;
};

QByteArray takeBytes(FuzzedDataProvider &in, std::size_t n)
{
    const std::vector<std::uint8_t> v = in.ConsumeBytes<std::uint8_t>(n);
    return QByteArray(reinterpret_cast<const char *>(v.data()), static_cast<qsizetype>(v.size()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_trace = qEnvironmentVariableIsSet("VELMORA_FUZZ_TRACE");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    // Never destroyed: one port and poll serve every input.
    static Harness *const harness = new Harness;
    Harness &h = *harness;
    h.restart();
    // Mostly with the view on: that is where the receive path does its work.
    if (in.ConsumeBool() || in.remaining_bytes() == 0)
        h.toggleView();
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 15)) {
        case 0:
        case 1:
        case 2:
            h.tick();
            break;
        case 3:
            h.toggleView();
            break;
        case 4:
        case 5:
        case 6:
        case 7:
            // A whole answer's worth in one piece, the commonest arrival.
            h.receive(takeBytes(in, sci::kSensorPacketSize), true);
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
            // Pieces closer together than the settle time.
            const auto n = in.ConsumeIntegralInRange<std::size_t>(1, 30);
            h.receive(takeBytes(in, n), false);
            break;
        }
        case 13:
            h.unplug();
            break;
        case 14:
            if (h.portOpen())
                h.close();
            else
                h.open();
            break;
        case 15:
            if (!h.portOpen())
                h.open();
            else
                h.adapterLine();
            break;
        }
    }
    return 0;
}
