#include "protocol/sensordecoder.h"

#include <QtTest>

#include <initializer_list>
#include <utility>

using velmora::sci::OutOfStep;
using velmora::sci::SensorIndicator;
using velmora::sci::SensorPacket;
Q_DECLARE_METATYPE(SensorPacket)
Q_DECLARE_METATYPE(OutOfStep)

namespace
{

const char *const kIndicatorNames[] = {"BumpRight", "BumpLeft", "WheeldropRight", "WheeldropLeft",
                                       "Caster"};

// Interleaves report lines and sink calls in the order they happened: on each call the
// text appended since the previous call is split into lines first.
class TraceSink : public velmora::sci::SensorEventSink
{
public:
    explicit TraceSink(const std::string &report) : report_(report) {}
    void showIndicator(SensorIndicator i) override
    {
        flush();
        trace
            << QStringLiteral("<show %1>").arg(QLatin1String(kIndicatorNames[static_cast<int>(i)]));
    }
    void requestStop() override
    {
        flush();
        trace << QStringLiteral("<stop>");
    }
    void flush()
    {
        const std::string fresh = report_.substr(seen_);
        seen_ = report_.size();
        pending_ += QString::fromStdString(fresh);
        // Only whole lines are complete; a sink call always follows a whole line.
        qsizetype eol;
        while ((eol = pending_.indexOf(QStringLiteral("\r\n"))) >= 0) {
            trace << pending_.left(eol);
            pending_.remove(0, eol + 2);
        }
    }
    QString unterminated() const { return pending_; }
    QStringList trace;

private:
    const std::string &report_;
    std::size_t seen_ = 0;
    QString pending_;
};

// All zero except the remote byte, which 255 keeps out of the report.
SensorPacket quietPacket(std::initializer_list<std::pair<int, int>> bytes)
{
    SensorPacket p{};
    p[10] = 255;
    for (auto [at, value] : bytes)
        p[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
    return p;
}

const QStringList kEnd{"", "End Sensor Data"};

QStringList tail(const QString &distance = "0", const QString &angle = "0")
{
    return QStringList{
               "Distance = " + distance, "Angle = " + angle,        "Charging State = Not Charging",
               "Voltage: 0mv",           "Battery Current Draw: 0", "Temperature: 0C",
               "Charge: 0maH",           "Capacity: 0maH"} +
           kEnd;
}

} // namespace

class TestSensorDecoder : public QObject
{
    Q_OBJECT
private slots:
    void walk_data()
    {
        QTest::addColumn<SensorPacket>("packet");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("all zero") << SensorPacket{}
                                  << (QStringList{"Remote Control Command = 0"} + tail());
        QTest::newRow("distance min") << quietPacket({{12, 128}, {13, 0}}) << tail("-32768");
        QTest::newRow("angle -1") << quietPacket({{14, 255}, {15, 255}}) << tail("0", "-1");
        QStringList t = tail();
        t[5] = "Temperature: -1C";
        QTest::newRow("temperature -1") << quietPacket({{21, 255}}) << t;
        t = tail();
        t[3] = "Voltage: 65535mv";
        t[6] = "Charge: 65535maH";
        t[7] = "Capacity: 65535maH";
        QTest::newRow("unsigned fields at max")
            << quietPacket({{17, 255}, {18, 255}, {22, 255}, {23, 255}, {24, 255}, {25, 255}}) << t;
        // No name and no line end for an unknown state: the voltage continues the line.
        t = tail();
        t.removeAt(2);
        t[2] = "Charging State = Voltage: 12mv";
        QTest::newRow("charging state 6") << quietPacket({{16, 6}, {18, 12}}) << t;

        QTest::newRow("byte 0 = 31")
            << quietPacket({{0, 31}})
            << (QStringList{"Bump Right", "<show BumpRight>", "<stop>", "Bump Left",
                            "<show BumpLeft>", "<stop>", "Wheeldrop Right", "<show WheeldropRight>",
                            "Wheeldrop Left", "<show WheeldropLeft>", "Wheeldrop Caster",
                            "<show Caster>"} +
                tail());
        QTest::newRow("high bits of flag bytes ignored")
            << quietPacket({{0, 0xE0}, {7, 0xE0}, {11, 0xF0}}) << tail();
        QTest::newRow("single-flag bytes read bit 0 only")
            << quietPacket({{1, 2}, {2, 2}, {3, 254}, {4, 2}, {5, 2}, {6, 2}}) << tail();
        QTest::newRow("eight stops, each after its line")
            << quietPacket({{0, 3}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {7, 24}})
            << (QStringList{"Bump Right", "<show BumpRight>", "<stop>", "Bump Left",
                            "<show BumpLeft>", "<stop>", "Left Cliff", "<stop>", "Front Left Cliff",
                            "<stop>", "Front Right Cliff", "<stop>", "Right Cliff", "<stop>",
                            "RightWheel Overcurrent", "<stop>", "LeftWheel Overcurrent", "<stop>"} +
                tail());
        QTest::newRow("lines without stops")
            << quietPacket({{1, 1}, {6, 1}, {7, 7}})
            << (QStringList{"Wall is on right", "Virtual Wall is near", "SideBrush OverCurrent",
                            "Vacuum OverCurrent", "Main Brush OverCurrent"} +
                tail());
        QTest::newRow("right dirt only")
            << quietPacket({{9, 7}}) << (QStringList{"Right Dirt Sensor = 7"} + tail());
        QTest::newRow("four buttons in order")
            << quietPacket({{11, 15}})
            << (QStringList{"Max button pressed", "Clean button pressed", "Spot button pressed",
                            "Power button pressed"} +
                tail());

        // Every multi-byte field distinct, so a swapped or shifted offset shows.
        const SensorPacket distinct{0,    0,    0,    0,    0,    0,    0,    0,   11,
                                    12,   13,   0,    0x01, 0x02, 0x03, 0x04, 3,   0x05,
                                    0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D};
        const QStringList distinctLines{"Left Dirt Sensor = 11",
                                        "Right Dirt Sensor = 12",
                                        "Remote Control Command = 13",
                                        "Distance = 258",
                                        "Angle = 772",
                                        "Charging State = Trickle Charging",
                                        "Voltage: 1286mv",
                                        "Battery Current Draw: 1800",
                                        "Temperature: 9C",
                                        "Charge: 2571maH",
                                        "Capacity: 3085maH"};
        QTest::newRow("distinct fields") << distinct << distinctLines + kEnd;
    }

    void walk()
    {
        QFETCH(SensorPacket, packet);
        QFETCH(QStringList, expected);

        std::string report = "left from before\r\n"; // replaced, not appended to
        TraceSink sink(report);
        velmora::sci::DecodeSensorPacketInto(packet, sink, report);
        sink.flush();
        QCOMPARE(sink.trace, expected);
        // The report ends with its last line end; nothing dangles.
        QCOMPARE(sink.unterminated(), QString());
        QVERIFY(report.ends_with("End Sensor Data\r\n"));
        // No lone CR or LF anywhere.
        QCOMPARE(QString::fromStdString(report).count(QLatin1Char('\n')),
                 QString::fromStdString(report).count(QStringLiteral("\r\n")));

        // The returning form gives the same text.
        TraceSink other(report);
        QCOMPARE(velmora::sci::DecodeSensorPacket(packet, other), report);
    }

    // Only what no robot sends is out of step; odd values a robot may send are kept, as a
    // refused packet is a stop not written.
    void outOfStep_data()
    {
        QTest::addColumn<SensorPacket>("packet");
        QTest::addColumn<OutOfStep>("expected");
        auto volts = [](int mv, std::initializer_list<std::pair<int, int>> more = {}) {
            SensorPacket p = quietPacket(more);
            p[17] = static_cast<std::uint8_t>(mv >> 8);
            p[18] = static_cast<std::uint8_t>(mv & 0xff);
            return p;
        };
        QTest::newRow("a robot's packet") << volts(15000) << OutOfStep::No;
        QTest::newRow("lowest voltage") << volts(5000) << OutOfStep::No;
        QTest::newRow("highest voltage") << volts(25000) << OutOfStep::No;
        QTest::newRow("below the lowest") << volts(4999) << OutOfStep::Voltage;
        QTest::newRow("above the highest") << volts(25001) << OutOfStep::Voltage;
        QTest::newRow("charging error") << volts(15000, {{16, 5}}) << OutOfStep::No;
        QTest::newRow("charging state 6") << volts(15000, {{16, 6}}) << OutOfStep::ChargingState;
        QTest::newRow("unused bits, hot battery, charge above capacity")
            << volts(15000, {{0, 0xff}, {1, 0xff}, {7, 0xff}, {11, 0xff}, {21, 127}, {22, 9}})
            << OutOfStep::No;
        // Three stray bytes ahead of a stopped robot's answer: what the first 26 hold.
        SensorPacket answer = volts(15000, {{0, 1}, {16, 2}, {21, 30}, {22, 10}, {24, 11}});
        SensorPacket shifted{};
        shifted.fill(0xAA);
        std::copy(answer.begin(), answer.end() - 3, shifted.begin() + 3);
        QTest::newRow("three strays, then a stopped robot's answer")
            << shifted << OutOfStep::Voltage;
    }
    void outOfStep()
    {
        QFETCH(SensorPacket, packet);
        QFETCH(OutOfStep, expected);
        QCOMPARE(velmora::sci::outOfStep(packet), expected);
    }
};

QTEST_APPLESS_MAIN(TestSensorDecoder)
#include "tst_sensordecoder.moc"
