#include "protocol/sensordecoder.h"

#include <QtTest>

#include <initializer_list>
#include <utility>

using velmora::sci::OutOfStep;
using velmora::sci::SensorData;
using velmora::sci::SensorPacket;
Q_DECLARE_METATYPE(SensorPacket)
Q_DECLARE_METATYPE(OutOfStep)
Q_DECLARE_METATYPE(SensorData)

namespace velmora::sci
{
// For QCOMPARE's message: the report shows every field but an unknown charging state.
char *toString(const SensorData &s)
{
    SensorReport report;
    DecodeSensorPacketInto(s, report);
    return qstrdup(QStringLiteral("%1, charging state %2")
                       .arg(QString::fromStdString(report).replace(QStringLiteral("\r\n"),
                                                                   QStringLiteral("; ")))
                       .arg(s.chargingState)
                       .toUtf8()
                       .constData());
}
} // namespace velmora::sci

namespace
{

const char *const kIndicatorNames[] = {"BumpRight", "BumpLeft", "WheeldropRight", "WheeldropLeft",
                                       "Caster"};
// The report line each indicator and each stop belongs to, written here on their own.
const char *const kIndicatorLines[] = {"Bump Right", "Bump Left", "Wheeldrop Right",
                                       "Wheeldrop Left", "Wheeldrop Caster"};
const char *const kStopLines[] = {"Bump Right",
                                  "Bump Left",
                                  "Left Cliff",
                                  "Front Left Cliff",
                                  "Front Right Cliff",
                                  "Right Cliff",
                                  "RightWheel Overcurrent",
                                  "LeftWheel Overcurrent"};

// The report's lines with the indicators and stops of the same packet put after the line they
// belong to, "<show X>" before "<stop>"; one that belongs to no line, or is out of the report's
// order, is left at the end as "<unplaced ...>". A report that does not end in a line end leaves
// its rest as the last entry.
struct Trace {
    QStringList lines;
    QString unterminated;
};
Trace trace(const velmora::sci::SensorReport &report, const SensorData &sensors)
{
    const velmora::sci::SensorIndicators shown = velmora::sci::indicatorsOn(sensors);
    const velmora::sci::StopConditions stops = velmora::sci::stopConditions(sensors);
    auto nextShown = shown.begin();
    auto nextStop = stops.begin();
    Trace t;
    QString rest = QString::fromStdString(report);
    qsizetype eol;
    while ((eol = rest.indexOf(QStringLiteral("\r\n"))) >= 0) {
        const QString line = rest.left(eol);
        rest.remove(0, eol + 2);
        t.lines << line;
        if (nextShown != shown.end() && line == kIndicatorLines[static_cast<int>(*nextShown)])
            t.lines << QStringLiteral("<show %1>")
                           .arg(QLatin1String(kIndicatorNames[static_cast<int>(*nextShown++)]));
        if (nextStop != stops.end() && line == kStopLines[static_cast<int>(*nextStop)]) {
            t.lines << QStringLiteral("<stop>");
            ++nextStop;
        }
    }
    for (; nextShown != shown.end(); ++nextShown)
        t.lines << QStringLiteral("<unplaced show %1>")
                       .arg(QLatin1String(kIndicatorNames[static_cast<int>(*nextShown)]));
    for (; nextStop != stops.end(); ++nextStop)
        t.lines << QStringLiteral("<unplaced stop %1>").arg(static_cast<int>(*nextStop));
    t.unterminated = rest;
    return t;
}

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

// Each flag of the packet: where it is sent, the field it is read into and, for a flag that
// stops the robot, its stop's report line.
struct Flag {
    const char *name;
    int byte;
    int bit;
    bool SensorData::*field;
    const char *stop = nullptr;
};
const Flag kFlags[] = {
    {"bump right", 0, 0, &SensorData::bumpRight, "Bump Right"},
    {"bump left", 0, 1, &SensorData::bumpLeft, "Bump Left"},
    {"wheel drop right", 0, 2, &SensorData::wheeldropRight},
    {"wheel drop left", 0, 3, &SensorData::wheeldropLeft},
    {"wheel drop caster", 0, 4, &SensorData::wheeldropCaster},
    {"wall", 1, 0, &SensorData::wall},
    {"cliff left", 2, 0, &SensorData::cliffLeft, "Left Cliff"},
    {"cliff front left", 3, 0, &SensorData::cliffFrontLeft, "Front Left Cliff"},
    {"cliff front right", 4, 0, &SensorData::cliffFrontRight, "Front Right Cliff"},
    {"cliff right", 5, 0, &SensorData::cliffRight, "Right Cliff"},
    {"virtual wall", 6, 0, &SensorData::virtualWall},
    {"side brush overcurrent", 7, 0, &SensorData::sideBrushOvercurrent},
    {"vacuum overcurrent", 7, 1, &SensorData::vacuumOvercurrent},
    {"main brush overcurrent", 7, 2, &SensorData::mainBrushOvercurrent},
    {"right wheel overcurrent", 7, 3, &SensorData::rightWheelOvercurrent, "RightWheel Overcurrent"},
    {"left wheel overcurrent", 7, 4, &SensorData::leftWheelOvercurrent, "LeftWheel Overcurrent"},
    {"max button", 11, 0, &SensorData::maxButton},
    {"clean button", 11, 1, &SensorData::cleanButton},
    {"spot button", 11, 2, &SensorData::spotButton},
    {"power button", 11, 3, &SensorData::powerButton},
};

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
        const SensorData sensors = velmora::sci::decodeSensors(packet);
        velmora::sci::DecodeSensorPacketInto(sensors, report);
        const Trace t = trace(report, sensors);
        QCOMPARE(t.lines, expected);
        // The report ends with its last line end; nothing dangles.
        QCOMPARE(t.unterminated, QString());
        QVERIFY(report.ends_with("End Sensor Data\r\n"));
        // No lone CR or LF anywhere.
        QCOMPARE(QString::fromStdString(report).count(QLatin1Char('\n')),
                 QString::fromStdString(report).count(QStringLiteral("\r\n")));

        // The returning form gives the same text.
        QCOMPARE(velmora::sci::DecodeSensorPacket(packet), report);
    }

    // Each flag is read from its own bit and nothing else changes with it; the numbers from
    // their own bytes, high byte first, with their signs.
    void fields_data()
    {
        QTest::addColumn<SensorPacket>("packet");
        QTest::addColumn<SensorData>("expected");
        for (const Flag &f : kFlags) {
            SensorData expected;
            expected.*f.field = true;
            QTest::newRow(f.name) << quietPacket({{f.byte, 1 << f.bit}}) << expected;
        }
        QTest::newRow("unused bits read as nothing") << quietPacket({{0, 0xE0},
                                                                     {1, 0xFE},
                                                                     {2, 0xFE},
                                                                     {3, 0xFE},
                                                                     {4, 0xFE},
                                                                     {5, 0xFE},
                                                                     {6, 0xFE},
                                                                     {7, 0xE0},
                                                                     {11, 0xF0}})
                                                     << SensorData{};
        SensorData distinct;
        distinct.dirtLeft = 11;
        distinct.dirtRight = 12;
        distinct.remoteOpcode = 13;
        distinct.distanceMm = 0x0102;
        distinct.angle = 0x0304;
        distinct.chargingState = 6;
        distinct.voltageMv = 0x0506;
        distinct.currentMa = 0x0708;
        distinct.temperatureC = 9;
        distinct.chargeMah = 0x0A0B;
        distinct.capacityMah = 0x0C0D;
        QTest::newRow("every number from its own bytes")
            << SensorPacket{0,    0,    0,    0,    0,    0,    0,    0,   11,
                            12,   13,   0,    0x01, 0x02, 0x03, 0x04, 6,   0x05,
                            0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D}
            << distinct;
        SensorData negative;
        negative.distanceMm = -2;
        negative.angle = -32768;
        negative.currentMa = -1500;
        negative.temperatureC = -20;
        negative.voltageMv = 0xFFFE;
        negative.chargeMah = 0xFFFD;
        negative.capacityMah = 0x8000;
        QTest::newRow("signed and unsigned at their ends") << quietPacket({{12, 0xFF},
                                                                           {13, 0xFE},
                                                                           {14, 0x80},
                                                                           {17, 0xFF},
                                                                           {18, 0xFE},
                                                                           {19, 0xFA},
                                                                           {20, 0x24},
                                                                           {21, 0xEC},
                                                                           {22, 0xFF},
                                                                           {23, 0xFD},
                                                                           {24, 0x80}})
                                                           << negative;
    }
    void fields()
    {
        QFETCH(SensorPacket, packet);
        QFETCH(SensorData, expected);
        const SensorData decoded = velmora::sci::decodeSensors(packet);
        QCOMPARE(decoded, expected);
    }

    // Each flag alone: one stop for a bump, a cliff or a drive wheel's over current, none for
    // anything else.
    void stopRule_data()
    {
        QTest::addColumn<SensorPacket>("packet");
        QTest::addColumn<QStringList>("expected"); // the stops' report lines
        for (const Flag &f : kFlags)
            QTest::newRow(f.name) << quietPacket({{f.byte, 1 << f.bit}})
                                  << (f.stop ? QStringList{f.stop} : QStringList{});
    }
    void stopRule()
    {
        QFETCH(SensorPacket, packet);
        QFETCH(QStringList, expected);
        QStringList stops;
        for (velmora::sci::StopCondition c :
             velmora::sci::stopConditions(velmora::sci::decodeSensors(packet)))
            stops << kStopLines[static_cast<int>(c)];
        QCOMPARE(stops, expected);
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
        QCOMPARE(velmora::sci::outOfStep(velmora::sci::decodeSensors(packet)), expected);
    }
};

QTEST_APPLESS_MAIN(TestSensorDecoder)
#include "tst_sensordecoder.moc"
