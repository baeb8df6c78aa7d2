// The simulator's robot, adapter and faults without a line: bytes in, writes out, and a
// clock stepped by hand.

#include "sim/operator_commands.h"
#include "sim/simulator.h"

#include <QtTest>

#include <algorithm>
#include <initializer_list>
#include <memory>

using namespace velmora::sim;

namespace
{

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

struct Rig {
    ManualClock clock{500.0};
    Trace trace{500.0};
    std::unique_ptr<Simulator> sim;

    explicit Rig(const Options &options = Options{})
    {
        trace.setRecording(true);
        sim = std::make_unique<Simulator>(options, clock, trace);
    }
    // Everything that has fallen due by now, as it would reach the line.
    QByteArray drain()
    {
        QByteArray out;
        while (const std::size_t n = sim->dueBytes()) {
            const Simulator::Write *w = sim->nextWrite();
            out.append(reinterpret_cast<const char *>(w->bytes.data() + sim->frontSent()),
                       static_cast<qsizetype>(n));
            sim->sent(n);
        }
        return out;
    }
    QByteArray send(const QByteArray &b)
    {
        sim->receive(reinterpret_cast<const std::uint8_t *>(b.constData()),
                     static_cast<std::size_t>(b.size()));
        return drain();
    }
    void wait(double seconds)
    {
        clock.advance(seconds);
        sim->advance();
    }
    QString hands(const char *line) { return QString::fromStdString(sim->command(line).text); }
    QStringList meanings(Trace::Dir dir = Trace::Dir::Rx) const
    {
        QStringList out;
        for (const Trace::Entry &e : trace.entries()) {
            if (e.dir == dir)
                out << QString::fromStdString(e.meaning);
        }
        return out;
    }
    // When each byte sent reaches the line, in ms from now, for an owner that first looks
    // lateMs from now and then wakes exactly at each deadline; clumps show as equal times.
    QList<double> arrivalsMs(double lateMs)
    {
        const double t0 = clock.now();
        clock.advance(lateMs / 1000);
        QList<double> out;
        for (int wakes = 0; wakes < 10000; ++wakes) {
            const double t = sim->nextDeadline();
            if (t == Simulator::kNever)
                break;
            clock.set(std::max(t, clock.now()));
            const QByteArray got = drain();
            if (got.isEmpty())
                break; // woken for nothing: the deadline and the bytes disagree
            out.append(QList<double>(got.size(), (clock.now() - t0) * 1000));
        }
        return out;
    }
    QString mode() { return QString::fromLatin1(modeName(robot().mode())); }
    Robot &robot() { return sim->robot(); }
};

const QByteArray kStart = bytes({128});
const QByteArray kSafe = bytes({128, 130});
const QByteArray kSensors0 = bytes({142, 0});
const QByteArray kFwd255 = bytes({137, 0, 255, 128, 0});
const QByteArray kHalt = bytes({137, 0, 0, 0, 0});
constexpr int kAnyAngle = 1 << 20;

int field16(const QByteArray &p, int at)
{
    return static_cast<int16_t>(
        static_cast<uint16_t>(static_cast<uint8_t>(p[at]) << 8 | static_cast<uint8_t>(p[at + 1])));
}

QByteArray joined(const std::vector<std::uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), static_cast<qsizetype>(v.size()));
}

// Packets written from the packet layout: an idle robot's, standing (120 mA drawn) with 2500
// of 2700 mAh at 25 degrees, and in each row the bytes that differ from it.
QByteArray idleWith(std::initializer_list<std::pair<int, int>> changed)
{
    QByteArray p = bytes({0, 0, 0, 0, 0,  0,   0,   0,   0,  0, 255, 0,  0,
                          0, 0, 0, 0, 62, 106, 255, 136, 25, 9, 196, 10, 140});
    for (const auto &[at, value] : changed)
        p[at] = static_cast<char>(value);
    return p;
}

} // namespace

class TestSimCore : public QObject
{
    Q_OBJECT

private slots:

    // Each row: bytes sent in one go, then how many bytes come back, the mode after, and the
    // trace's meaning of the last command received.
    void modeRules_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("answerBytes");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("lastMeaning");

        QTest::newRow("sensors before any start") << kSensors0 << 0 << "off"
                                                  << "Sensors packet 0 (ignored in off mode)";
        QTest::newRow("sensors after start") << kStart + kSensors0 << 26 << "passive"
                                             << "Sensors packet 0";
        QTest::newRow("drive before control")
            << kStart + kFwd255 << 0 << "passive"
            << "Drive 255 mm/s straight (ignored in passive mode)";
        QTest::newRow("drive after control") << kSafe + kFwd255 << 0 << "safe"
                                             << "Drive 255 mm/s straight";
        QTest::newRow("control before start") << bytes({130}) << 0 << "off"
                                              << "Control (ignored in off mode)";
        QTest::newRow("control in safe") << kSafe + bytes({130}) << 0 << "safe"
                                         << "Control (ignored in safe mode)";
        QTest::newRow("control in full") << kSafe + bytes({132, 130}) << 0 << "full"
                                         << "Control (ignored in full mode)";
        QTest::newRow("full only from safe") << kStart + bytes({132}) << 0 << "passive"
                                             << "Full (ignored in passive mode)";
        QTest::newRow("safe only from full") << kSafe + bytes({131}) << 0 << "safe"
                                             << "Safe (ignored in safe mode)";
        QTest::newRow("full then safe") << kSafe + bytes({132, 131}) << 0 << "safe"
                                        << "Safe";
        QTest::newRow("spot leaves safe mode")
            << kSafe + bytes({134}) + kFwd255 << 0 << "passive"
            << "Drive 255 mm/s straight (ignored in passive mode)";
        QTest::newRow("clean leaves full mode") << kSafe + bytes({132, 135}) << 0 << "passive"
                                                << "Clean";
        QTest::newRow("max leaves safe mode") << kSafe + bytes({136}) << 0 << "passive"
                                              << "Max";
        QTest::newRow("start back to passive") << kSafe + bytes({132, 128}) << 0 << "passive"
                                               << "Start";
        QTest::newRow("baud to passive") << kSafe + bytes({129, 10}) << 0 << "passive"
                                         << "Baud code 10 (57600 baud)";
        // The data bytes of an ignored command are not opcodes, even when they look like one.
        QTest::newRow("ignored baud keeps step")
            << bytes({129, 128}) + kStart + kSensors0 << 26 << "passive"
            << "Sensors packet 0";
        QTest::newRow("drive data 142 0 in passive")
            << kStart + bytes({137, 142, 0, 142, 0}) << 0 << "passive"
            << "Drive -29184 mm/s radius -29184 mm (turning right) (velocity out of range: -500 "
               "mm/s)"
               " (radius out of range: -2000 mm) (ignored in passive mode)";
        QTest::newRow("motors leds play ignored in passive")
            << kStart + bytes({138, 142, 139, 142, 142, 142, 141, 142}) + kSensors0 << 26
            << "passive"
            << "Sensors packet 0";
        QTest::newRow("sensors data byte 128")
            << kStart + bytes({142, 128}) << 0 << "passive"
            << "Sensors packet 128 (no such packet: not answered)";
        QTest::newRow("unknown bytes one at a time")
            << kStart + bytes({0, 13, 43, 127, 144, 200, 255}) + kSensors0 << 26 << "passive"
            << "Sensors packet 0";
        QTest::newRow("power in passive") << kStart + bytes({133}) << 0 << "off"
                                          << "Power";
        QTest::newRow("power sleeps") << kSafe + bytes({133}) + kStart + kSensors0 << 0 << "off"
                                      << "Ignored 3 bytes (robot asleep)";
        QTest::newRow("dock seeking in off mode")
            << bytes({143}) << 0 << "off"
            << "Force-Seeking-Dock (no cleaning cycle: no effect)";
        QTest::newRow("sensors in full") << kSafe + bytes({132}) + kSensors0 << 26 << "full"
                                         << "Sensors packet 0";
        QTest::newRow("split command across reads") << kStart + bytes({142}) << 0 << "passive"
                                                    << "Start";
        // How the trace reads commands in words.
        QTest::newRow("back") << kSafe + bytes({137, 255, 64, 128, 0}) << 0 << "safe"
                              << "Drive -192 mm/s straight";
        QTest::newRow("left, radius 0")
            << kSafe + bytes({137, 0, 255, 0, 0}) << 0 << "safe"
            << "Drive 255 mm/s radius 0 (undefined: turning in place counter-clockwise)";
        QTest::newRow("right, radius -1")
            << kSafe + bytes({137, 0, 255, 255, 255}) << 0 << "safe"
            << "Drive 255 mm/s radius -1 (turning in place clockwise)";
        QTest::newRow("radius 1") << kSafe + bytes({137, 0, 100, 0, 1}) << 0 << "safe"
                                  << "Drive 100 mm/s radius 1 (turning in place counter-clockwise)";
        QTest::newRow("arc right") << kSafe + bytes({137, 0, 100, 254, 12}) << 0 << "safe"
                                   << "Drive 100 mm/s radius -500 mm (turning right)";
        QTest::newRow("stop") << kSafe + bytes({137, 0, 0, 0, 0}) << 0 << "safe"
                              << "Drive 0 mm/s radius 0 (stop)";
        QTest::newRow("motors") << kSafe + bytes({138, 5}) << 0 << "safe"
                                << "Motors 5 (side brush, main brush)";
        // Notes that are opcodes too are taken as data; a length outside 1 to 16 ends the command
        // after it, and nothing is stored.
        const QByteArray play3 = bytes({141, 3});
        QTest::newRow("song of 1 note") << kSafe + bytes({140, 3, 1, 142, 0}) + play3 << 0 << "safe"
                                        << "Play song 3";
        QTest::newRow("song of 16 notes")
            << kSafe + bytes({140, 3, 16}) + kSensors0.repeated(16) + play3 << 0 << "safe"
            << "Play song 3";
        QTest::newRow("song of 0 notes") << kSafe + bytes({140, 3, 0}) + play3 << 0 << "safe"
                                         << "Play song 3 (not defined: silent)";
        QTest::newRow("song of 17 notes") << kSafe + bytes({140, 3, 17}) + play3 << 0 << "safe"
                                          << "Play song 3 (not defined: silent)";
        QTest::newRow("not opcodes") << kStart + bytes({1, 2, 3}) << 0 << "passive"
                                     << "Ignored 3 bytes (not an opcode)";
    }

    void modeRules()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, answerBytes);
        QFETCH(QString, mode);
        QFETCH(QString, lastMeaning);

        Rig rig;
        const QByteArray answer = rig.send(input);
        QCOMPARE(answer.size(), answerBytes);
        QCOMPARE(rig.mode(), mode);
        QCOMPARE(rig.meanings().value(rig.meanings().size() - 1), lastMeaning);
        // The received bytes of that line are the command's own: the input's end, or all but
        // the first byte of a command still incomplete.
        const auto &entries = rig.trace.entries();
        const auto last = std::find_if(entries.rbegin(), entries.rend(), [](const Trace::Entry &e) {
            return e.dir == Trace::Dir::Rx;
        });
        QVERIFY(input.endsWith(joined(last->bytes)) ||
                input.chopped(1).endsWith(joined(last->bytes)));
        if (lastMeaning.startsWith(QLatin1String("Drive")) &&
            lastMeaning.contains(QLatin1String("ignored")))
            QCOMPARE(int(rig.robot().drive().velocity), 0);
    }

    void safeModeStops_data()
    {
        QTest::addColumn<QByteArray>("drive");
        QTest::addColumn<QString>("hands");
        QTest::addColumn<bool>("full");
        QTest::addColumn<QString>("mode");

        const QByteArray fwd = bytes({137, 0, 200, 128, 0});
        const QByteArray back = bytes({137, 255, 56, 128, 0});        // -200 straight
        const QByteArray backTight = bytes({137, 255, 56, 255, 255}); // -200, radius -1
        const QByteArray backWide = bytes({137, 255, 56, 3, 232});    // -200, radius 1000
        const QByteArray stop = bytes({137, 0, 0, 0, 0});
        QTest::newRow("cliff driving forward") << fwd << "cliff frontleft" << false << "passive";
        QTest::newRow("cliff driving backward straight")
            << back << "cliff right" << false << "safe";
        QTest::newRow("cliff backward radius -1")
            << backTight << "cliff left" << false << "passive";
        QTest::newRow("cliff backward wide radius") << backWide << "cliff left" << false << "safe";
        QTest::newRow("cliff standing") << stop << "cliff left" << false << "safe";
        QTest::newRow("wheel drop standing") << stop << "wheeldrop caster" << false << "passive";
        QTest::newRow("wheel drop driving") << fwd << "wheeldrop right" << false << "passive";
        QTest::newRow("charger") << stop << "dock" << false << "passive";
        QTest::newRow("full: cliff forward") << fwd << "cliff frontright" << true << "full";
        QTest::newRow("full: wheel drop") << fwd << "wheeldrop left" << true << "full";
        QTest::newRow("full: charger") << stop << "dock" << true << "full";
    }

    void safeModeStops()
    {
        QFETCH(QByteArray, drive);
        QFETCH(QString, hands);
        QFETCH(bool, full);
        QFETCH(QString, mode);
        Rig rig;
        rig.send(kSafe + (full ? bytes({132}) : QByteArray()) + drive);
        rig.hands(hands.toLatin1().constData());
        rig.wait(0.01);
        QCOMPARE(rig.mode(), mode);
        if (mode == QLatin1String("passive")) {
            QCOMPARE(int(rig.robot().drive().velocity), 0);
            QVERIFY(rig.meanings(Trace::Dir::Info).last().startsWith(QLatin1String("safe mode: ")));
            // Passive now: a new drive is not obeyed.
            rig.send(bytes({137, 0, 200, 128, 0}));
            QCOMPARE(int(rig.robot().drive().velocity), 0);
        }
    }

    void goldenPackets_data()
    {
        QTest::addColumn<QStringList>("hands");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("idle") << QStringList{} << idleWith({});
        QTest::newRow("bump left") << QStringList{"bump left"} << idleWith({{0, 2}});
        QTest::newRow("bump right") << QStringList{"bump right"} << idleWith({{0, 1}});
        QTest::newRow("bump both") << QStringList{"bump both"} << idleWith({{0, 3}});
        QTest::newRow("bump left then off") << QStringList{"bump left", "bump off"} << idleWith({});
        QTest::newRow("wheel drops left and caster")
            << QStringList{"wheeldrop left", "wheeldrop caster"} << idleWith({{0, 24}});
        QTest::newRow("wheel drop right and bump right")
            << QStringList{"wheeldrop right", "bump right"} << idleWith({{0, 5}});
        QTest::newRow("cliff left") << QStringList{"cliff left"} << idleWith({{2, 1}});
        QTest::newRow("cliff front right and right")
            << QStringList{"cliff frontright", "cliff right"} << idleWith({{4, 1}, {5, 1}});
        QTest::newRow("cliff front left") << QStringList{"cliff frontleft"} << idleWith({{3, 1}});
        QTest::newRow("overcurrent left wheel")
            << QStringList{"overcurrent left"} << idleWith({{7, 16}});
        QTest::newRow("overcurrent right wheel")
            << QStringList{"overcurrent right"} << idleWith({{7, 8}});
        QTest::newRow("overcurrent brushes and vacuum")
            << QStringList{"overcurrent side", "overcurrent vacuum", "overcurrent main"}
            << idleWith({{7, 7}});
        QTest::newRow("buttons max and power")
            << QStringList{"button max", "button power"} << idleWith({{11, 9}});
        QTest::newRow("buttons clean and spot")
            << QStringList{"button clean", "button spot"} << idleWith({{11, 6}});
        QTest::newRow("dirt and remote")
            << QStringList{"dirt 7 200", "remote 130"} << idleWith({{8, 7}, {9, 200}, {10, 130}});
        // Docked: the charger carries the robot's own use; the battery takes the charge current,
        // and charging lifts the voltage by 600 mV.
        QTest::newRow("charging") << QStringList{"dock"}
                                  << idleWith({{16, 2}, {17, 64}, {18, 209}, {19, 5}, {20, 220}});
        QTest::newRow("charging recovery")
            << QStringList{"battery 200", "dock"}
            << idleWith({{16, 1}, {17, 55}, {18, 127}, {19, 1}, {20, 244}, {22, 0}, {23, 200}});
        QTest::newRow("trickle charging")
            << QStringList{"battery 2600", "dock"}
            << idleWith({{16, 3}, {17, 65}, {18, 56}, {19, 0}, {20, 100}, {22, 10}, {23, 40}});
        QTest::newRow("waiting, full")
            << QStringList{"battery 2700", "dock"}
            << idleWith({{16, 4}, {17, 63}, {18, 72}, {19, 0}, {20, 0}, {22, 10}, {23, 140}});
        QTest::newRow("charging error") << QStringList{"chargeerror on", "dock"}
                                        << idleWith({{16, 5}, {18, 121}, {19, 0}, {20, 0}});
        QTest::newRow("undocked again") << QStringList{"dock", "undock"} << idleWith({});
        // The room's own sensors: along the south wall the right-hand wall sensor sees it; on
        // the virtual wall's beam; facing the stairs with the two front cliff sensors over them.
        QTest::newRow("wall on the right") << QStringList{"place 2000 200 0"} << idleWith({{1, 1}});
        QTest::newRow("virtual wall") << QStringList{"place 1000 2200 90"} << idleWith({{6, 1}});
        QTest::newRow("stairs ahead")
            << QStringList{"place 3500 930 -90"} << idleWith({{3, 1}, {4, 1}});
        QTest::newRow("fallen down the stairs")
            << QStringList{"place 3500 500 0"}
            << idleWith({{0, 28}, {2, 1}, {3, 1}, {4, 1}, {5, 1}});
    }

    void goldenPackets()
    {
        QFETCH(QStringList, hands);
        QFETCH(QByteArray, expected);
        Rig rig;
        rig.send(kSafe);
        for (const QString &h : hands) {
            const QString reply = rig.hands(h.toLatin1().constData());
            QVERIFY2(!reply.startsWith(QLatin1String("usage")) &&
                         !reply.startsWith(QLatin1String("unknown")),
                     qPrintable(reply));
        }
        QCOMPARE(rig.send(kSensors0), expected);
    }

    void packetSlices()
    {
        Rig rig;
        rig.send(kSafe);
        for (const char *h : {"bump left", "cliff right", "overcurrent main", "dirt 3 4",
                              "remote 9", "button spot", "dock"})
            rig.hands(h);
        const QByteArray whole = rig.send(kSensors0);
        QCOMPARE(whole.size(), 26);
        QCOMPARE(rig.send(bytes({142, 1})), whole.mid(0, 10));
        QCOMPARE(rig.send(bytes({142, 2})), whole.mid(10, 6));
        QCOMPARE(rig.send(bytes({142, 3})), whole.mid(16, 10));
        // All three in one go come back in order, back to back.
        QCOMPARE(rig.send(bytes({142, 1, 142, 2, 142, 3})), whole);
    }

    // Distance and angle since the last read, saturating rather than wrapping, and cleared by the
    // read.
    void odometry_data()
    {
        QTest::addColumn<QByteArray>("drive");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("distance");
        QTest::addColumn<int>("angle");
        QTest::newRow("forward") << bytes({137, 0, 200, 128, 0}) << 1.0 << 200 << 0;
        QTest::newRow("backward") << bytes({137, 255, 56, 128, 0}) << 0.5 << -100 << 0;
        QTest::newRow("in place, radius 1") << bytes({137, 0, 100, 0, 1}) << 1.0 << 0 << 100;
        QTest::newRow("in place, radius -1") << bytes({137, 0, 100, 255, 255}) << 0.5 << 0 << -50;
        QTest::newRow("in place, radius 0") << bytes({137, 0, 100, 0, 0}) << 0.5 << 0 << 50;
        // 500 mm/s for 70 s is 35,000 mm: beyond what 16 bits hold.
        QTest::newRow("angle saturates up") << bytes({137, 1, 244, 0, 1}) << 70.0 << 0 << 32767;
        QTest::newRow("angle saturates down")
            << bytes({137, 1, 244, 255, 255}) << 70.0 << 0 << -32768;
        // Round and round a circle of 500 mm radius, clear of the walls.
        QTest::newRow("distance saturates up")
            << bytes({137, 1, 244, 1, 244}) << 70.0 << 32767 << kAnyAngle;
        QTest::newRow("distance saturates down")
            << bytes({137, 254, 12, 1, 244}) << 70.0 << -32768 << kAnyAngle;
    }
    void odometry()
    {
        QFETCH(QByteArray, drive);
        QFETCH(double, seconds);
        QFETCH(int, distance);
        QFETCH(int, angle);
        Rig rig;
        rig.send(kSafe);
        // Read by packet 2 then by packet 0, and the other one finds them cleared. Packets 1
        // and 3 carry neither field and clear nothing.
        for (const QByteArray &asked : {bytes({142, 2}), kSensors0}) {
            rig.send(drive);
            rig.wait(seconds);
            rig.send(kHalt);
            QCOMPARE(rig.robot().world().bumps(), 0);
            rig.send(bytes({142, 1, 142, 3}));
            // Distance and angle: bytes 12 to 15 of packet 0, 2 to 5 of packet 2.
            const auto odometry = [&](const QByteArray &request) {
                const QByteArray p = rig.send(request);
                return p.mid(p.size() == 26 ? 12 : 2, 4);
            };
            const QByteArray got = odometry(asked);
            QCOMPARE(field16(got, 0), distance);
            if (angle != kAnyAngle)
                QCOMPARE(field16(got, 2), angle);
            QCOMPARE(odometry(asked == kSensors0 ? bytes({142, 2}) : kSensors0),
                     QByteArray(4, '\0'));
        }
    }

    void driveIntoWall_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<int>("bumps");
        // The east wall is at x = 4000; the body's radius is 170 mm.
        QTest::newRow("head on") << "place 3500 1500 0" << 3;
        QTest::newRow("wall to the right") << "place 3700 1500 40" << 1;
        QTest::newRow("wall to the left") << "place 3700 1500 -40" << 2;
        QTest::newRow("into the north wall") << "place 2000 2700 90" << 3;
    }

    void driveIntoWall()
    {
        QFETCH(QString, place);
        QFETCH(int, bumps);
        Rig rig;
        rig.hands(place.toLatin1().constData());
        rig.send(kSafe + bytes({137, 0, 255, 128, 0}));
        rig.wait(3.0);
        QByteArray p = rig.send(kSensors0);
        QCOMPARE(int(p[0]), bumps);
        if (place.endsWith(QLatin1String(" 0")))
            QCOMPARE(field16(p, 12), 4000 - 170 - 3500);
        // Pushing on does not move it further; stopping releases the bumper.
        rig.wait(0.5);
        p = rig.send(kSensors0);
        QCOMPARE(int(p[0]), bumps);
        QCOMPARE(field16(p, 12), 0);
        rig.send(bytes({137, 0, 0, 0, 0}));
        rig.wait(0.05);
        QCOMPARE(int(rig.send(kSensors0)[0]), 0);
        // Backing away is free.
        rig.send(bytes({137, 255, 56, 128, 0}));
        rig.wait(0.5);
        QCOMPARE(field16(rig.send(kSensors0), 12), -100);
    }

    void atWake_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<bool>("wakes");
        const QByteArray esc = QByteArray("+++\r");
        QTest::newRow("whole sequence")
            << QByteArrayList{esc, "ATSW22,6,1,1\r", "ATSW23,6,0,1\r", "ATSW23,6,1,1\r", "ATMD\r"}
            << true;
        QTest::newRow("lower case commands")
            << QByteArrayList{esc, "atsw22,6,1,1\r", "atsw23,6,0,1\r", "atsw23,6,1,1\r", "atmd\r"}
            << true;
        QTest::newRow("pin left an input")
            << QByteArrayList{esc, "ATSW23,6,0,1\r", "ATSW23,6,1,1\r", "ATMD\r"} << false;
        QTest::newRow("another pin made an output")
            << QByteArrayList{esc, "ATSW22,5,1,1\r", "ATSW23,6,0,1\r", "ATSW23,6,1,1\r", "ATMD\r"}
            << false;
        QTest::newRow("low but never high")
            << QByteArrayList{esc, "ATSW22,6,1,1\r", "ATSW23,6,0,1\r", "ATMD\r"} << false;
        QTest::newRow("another pin")
            << QByteArrayList{esc, "ATSW22,5,1,1\r", "ATSW23,5,0,1\r", "ATSW23,5,1,1\r", "ATMD\r"}
            << false;
        QTest::newRow("no command mode")
            << QByteArrayList{"ATSW22,6,1,1\r", "ATSW23,6,0,1\r", "ATSW23,6,1,1\r"} << false;
    }

    void atWake()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(bool, wakes);
        Options o;
        o.asleep = true;
        Rig rig(o);
        QCOMPARE(rig.send(kStart + kSensors0).size(), 0);
        for (const QByteArray &l : lines)
            QCOMPARE(rig.send(l).size(), 0); // no replies unless asked for
        QCOMPARE(rig.robot().asleep(), !wakes);
        QCOMPARE(rig.send(kStart + kSensors0).size(), wakes ? 26 : 0);
    }

    void atCommandModeKeepsBytesFromRobot()
    {
        Rig rig;
        rig.send(QByteArray("+++\r"));
        QVERIFY(rig.sim->adapter().commandMode());
        QCOMPARE(rig.meanings(), QStringList{"AT +++ (command mode)"});
        // In command mode SCI bytes are the adapter's: no answer, and the line they end up in is
        // not a command.
        QCOMPARE(rig.send(kStart + kSensors0).size(), 0);
        rig.send(QByteArray("ATMD\r"));
        QVERIFY(rig.sim->adapter().commandMode());
        QVERIFY(rig.meanings().last().startsWith(QLatin1String("AT ")));
        QVERIFY(rig.meanings().last().endsWith(QLatin1String("ATMD (unknown command)")));
        rig.send(QByteArray("\rATMD\r"));
        QVERIFY(!rig.sim->adapter().commandMode());
        QCOMPARE(rig.send(kStart + kSensors0).size(), 26);
    }

    void atRenameAndReplies()
    {
        Options o;
        o.adapterReplies = true;
        Rig rig(o);
        QCOMPARE(rig.send(QByteArray("+++\r")), QByteArray("OK\r\n"));
        QCOMPARE(rig.send(QByteArray("ATSN,Kitchen robot, 2nd\r")), QByteArray("OK\r\n"));
        QCOMPARE(QString::fromStdString(rig.sim->adapter().name()),
                 QStringLiteral("Kitchen robot, 2"));
        QVERIFY(rig.meanings().last().contains(QLatin1String("cut to 16")));
        QVERIFY(statusText(*rig.sim).find("\"Kitchen robot, 2\"") != std::string::npos);
        QCOMPARE(rig.send(QByteArray("ATSN,\r")), QByteArray("OK\r\n"));
        QCOMPARE(QString::fromStdString(rig.sim->adapter().name()), QString());
        QCOMPARE(rig.send(QByteArray("ATXYZ\r")), QByteArray("ERROR\r\n"));
        // Five wake lines, five answers, sent as they come in.
        QCOMPARE(rig.send(QByteArray("+++\rATSW22,6,1,1\rATSW23,6,0,1\rATSW23,6,1,1\rATMD\r")),
                 QByteArray("OK\r\nOK\r\nOK\r\nOK\r\nOK\r\n"));
        QVERIFY(!rig.sim->adapter().commandMode());
        // Back in data mode the robot answers again, and the adapter stays quiet.
        QCOMPARE(rig.send(kStart + bytes({142, 1})).size(), 10);
    }

    // Paced, each byte reaches the line a byte's time (10 bits) after the one before, from when
    // the line is free for it; the fault options shape the answer first.
    void pacedLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<double>("lateMs");
        QTest::addColumn<QList<double>>("expectedMs");
        // n bytes, the first a byte's time after fromMs, after those already in to.
        auto paced = [](int n, double fromMs, int baud = 57600, QList<double> to = {}) {
            for (int i = 1; i <= n; ++i)
                to << fromMs + i * 10'000.0 / baud;
            return to;
        };
        const double byteMs = 10 / 57.6;
        QTest::newRow("at once by default")
            << QStringList{} << kSensors0 << 0.0 << QList<double>(26, 0.0);
        QTest::newRow("answer at 57600")
            << QStringList{"--pace", "57600"} << kSensors0 << 0.0 << paced(26, 0);
        QTest::newRow("answer at 9600")
            << QStringList{"--pace", "9600"} << kSensors0 << 0.0 << paced(26, 0, 9600);
        QTest::newRow("adapter reply") << QStringList{"--pace", "57600", "--adapter-replies"}
                                       << QByteArray("+++\r") << 0.0 << paced(4, 0);
        QTest::newRow("answer, then adapter reply in turn")
            << QStringList{"--pace", "57600", "--adapter-replies"} << kSensors0 + "+++\r" << 0.0
            << paced(30, 0);
        QTest::newRow("delayed") << QStringList{"--pace", "57600", "--delay", "50"} << kSensors0
                                 << 0.0 << paced(26, 50);
        QTest::newRow("split, gap shorter than a piece")
            << QStringList{"--pace", "57600", "--split", "10,16", "--gap", "1"} << kSensors0 << 0.0
            << paced(26, 0);
        QTest::newRow("split, gap longer than a piece")
            << QStringList{"--pace", "57600", "--split", "10,16", "--gap", "10"} << kSensors0 << 0.0
            << paced(16, 10, 57600, paced(10, 0));
        QTest::newRow("stray and extra bytes")
            << QStringList{"--pace", "57600", "--stray-before", "2", "--extra-byte"} << kSensors0
            << 0.0 << paced(29, 0);
        // Woken 1 ms late, the five bytes due by then go together and the rest keep the pace.
        QTest::newRow("owner late") << QStringList{"--pace", "57600"} << kSensors0 << 1.0
                                    << paced(21, 5 * byteMs, 57600, QList<double>(5, 1.0));
    }
    void pacedLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(double, lateMs);
        QFETCH(QList<double>, expectedMs);
        std::vector<std::string> a;
        for (const QString &s : args)
            a.push_back(s.toStdString());
        Options o;
        QCOMPARE(parseOptions(a, o), std::string());
        Rig rig(o);
        rig.send(kStart);
        rig.sim->receive(reinterpret_cast<const std::uint8_t *>(input.constData()),
                         static_cast<std::size_t>(input.size()));
        const QList<double> got = rig.arrivalsMs(lateMs);
        QCOMPARE(got.size(), expectedMs.size());
        for (qsizetype i = 0; i < got.size(); ++i)
            QVERIFY2(std::abs(got[i] - expectedMs[i]) < 1e-6,
                     qPrintable(QStringLiteral("byte %1 at %2 ms, not %3")
                                    .arg(i)
                                    .arg(got[i])
                                    .arg(expectedMs[i])));
        // A write is traced whole when its last byte goes.
        QCOMPARE(rig.trace.entries().back().dir, Trace::Dir::Tx);
        QCOMPARE(rig.trace.entries().back().t, rig.clock.now() - 500.0);
    }

    void faultDelayKeepsOrder()
    {
        Options o;
        o.adapterReplies = true;
        o.faults.delayMs = 50;
        Rig rig(o);
        rig.send(kStart + kSensors0);
        // An adapter reply asked for later does not overtake the delayed answer.
        rig.send(QByteArray("+++\r"));
        rig.clock.advance(0.05);
        const QByteArray out = rig.drain();
        QCOMPARE(out.size(), 30);
        QCOMPARE(out.right(4), QByteArray("OK\r\n"));
    }

    void unplugAfterAndLineDown()
    {
        // An unplug time given at run time counts from the command.
        Rig rig;
        rig.send(kStart);
        rig.hands("fault unplug-after 200");
        rig.clock.advance(0.199);
        QVERIFY(!rig.sim->unplugDue());
        rig.clock.advance(0.001);
        QVERIFY(rig.sim->unplugDue());
        rig.hands("fault unplug-after off");

        // Writes still waiting when the line goes are lost with it.
        rig.hands("fault delay 100");
        rig.send(kSensors0);
        rig.sim->lineDown("test");
        QVERIFY(!rig.sim->nextWrite());
        QCOMPARE(rig.send(kSensors0).size(), 0);
        rig.sim->lineUp("/dev/pts/test");
        rig.send(kSensors0);
        rig.clock.advance(0.1);
        QCOMPARE(rig.drain().size(), 26);
    }

    void cleaningCycleRunsAndEnds()
    {
        Rig rig;
        rig.send(kStart + bytes({134})); // Spot
        QCOMPARE(rig.robot().autonomy().cycle(), Cycle::Spot);
        rig.wait(5.0);
        QByteArray p = rig.send(kSensors0);
        QVERIFY(field16(p, 12) > 500);  // it moved by itself
        QVERIFY(field16(p, 19) < -800); // brushes and vacuum draw current
        rig.wait(60.0);
        QCOMPARE(rig.robot().autonomy().cycle(), Cycle::None);
        QVERIFY(
            rig.meanings(Trace::Dir::Info).contains(QStringLiteral("spot cycle ended: finished")));

        // Clean wanders the room without falling down the stairs, until Control takes over.
        rig.send(bytes({135}));
        rig.wait(120.0);
        QVERIFY(!rig.robot().world().fallen());
        QCOMPARE(rig.robot().autonomy().cycle(), Cycle::Clean);
        rig.send(bytes({130}));
        QCOMPARE(rig.robot().autonomy().cycle(), Cycle::None);
        QCOMPARE(rig.robot().mode(), Mode::Safe);

        // Seeking the dock during a cycle ends on the charger.
        rig.send(bytes({136, 143}));
        QVERIFY(rig.robot().autonomy().seekingDock());
        rig.wait(60.0);
        QVERIFY(rig.robot().docked());
        QCOMPARE(rig.robot().autonomy().cycle(), Cycle::None);
        QCOMPARE(int(rig.send(kSensors0)[16]), 2);
    }

    void batteryDrainsAndCharges()
    {
        Rig rig;
        rig.send(kSafe + bytes({138, 7}));
        QByteArray p = rig.send(kSensors0);
        const int before = (quint8(p[22]) << 8) | quint8(p[23]);
        QCOMPARE(field16(p, 19), -(120 + 100 + 300 + 400));
        rig.wait(360.0); // 920 mA for a tenth of an hour
        p = rig.send(kSensors0);
        const int after = (quint8(p[22]) << 8) | quint8(p[23]);
        QCOMPARE(after, before - 92);
        QVERIFY(int(p[21]) > 25); // warmer under load

        rig.send(bytes({138, 0}));
        rig.hands("dock");
        QCOMPARE(rig.robot().mode(), Mode::Passive); // the charger ends safe mode
        rig.wait(3600.0);
        p = rig.send(kSensors0);
        QVERIFY(quint8(p[16]) >= 3);
        QVERIFY(((quint8(p[22]) << 8) | quint8(p[23])) > 2600);
    }

    void optionParsing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("port zero")
            << QStringList{"--port", "0"} << "--port needs a number from 1 to 32767";
        QTest::newRow("port text")
            << QStringList{"--port", "com3"} << "--port needs a number from 1 to 32767";
        QTest::newRow("split one number")
            << QStringList{"--split", "10"}
            << "--split needs A,B: two piece sizes from 1 to 4096 bytes (or off), not \"10\"";
        QTest::newRow("negative gap")
            << QStringList{"--gap", "-1"} << "--gap needs milliseconds, not \"-1\"";
        QTest::newRow("pace too slow")
            << QStringList{"--pace", "299"} << "--pace needs a baud rate from 300 to 1000000";
        QTest::newRow("unknown") << QStringList{"--fast"} << "unknown option \"--fast\"";
    }

    void optionParsing()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        std::vector<std::string> a;
        for (const QString &s : args)
            a.push_back(s.toStdString());
        Options o;
        QCOMPARE(QString::fromStdString(parseOptions(a, o)), error);
    }

    void traceJsonLines()
    {
        std::FILE *f = std::tmpfile();
        QVERIFY(f);
        auto contents = [f] {
            std::fflush(f);
            std::rewind(f);
            QByteArray all;
            char buf[512];
            while (std::size_t n = std::fread(buf, 1, sizeof buf, f))
                all.append(buf, qsizetype(n));
            return all;
        };
        Trace trace(10.0);
        trace.setJson(f);
        const QByteArray head =
            "{\"t\":0,\"dir\":\"info\",\"clock\":\"monotonic\",\"t0\":10.000000}\n";
        QCOMPARE(contents(), head);
        // Held lines wait for the release and keep the times they were made with.
        trace.hold();
        trace.rx(10.5, {128}, "Start");
        trace.tx(10.625, {79, 75, 13, 10}, "AT reply OK");
        QCOMPARE(contents(), head);
        trace.release();
        trace.info(11.0, "renamed to \"a\\b\"\x01\xe9");
        QCOMPARE(contents(),
                 head + "{\"t\":0.500000,\"dir\":\"rx\",\"bytes\":[128],\"meaning\":\"Start\"}\n"
                        "{\"t\":0.625000,\"dir\":\"tx\",\"bytes\":[79,75,13,10],\"meaning\":\"AT "
                        "reply OK\"}\n"
                        "{\"t\":1.000000,\"dir\":\"info\",\"meaning\":\"renamed to "
                        "\\\"a\\\\b\\\"\\u0001\\u00e9\"}\n");
        std::fclose(f);
    }
};

QTEST_APPLESS_MAIN(TestSimCore)
#include "tst_simcore.moc"
