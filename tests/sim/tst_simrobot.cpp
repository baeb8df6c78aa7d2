// The robot: which mode obeys which command, how the stream of bytes is cut into commands,
// what safe mode protects it from, its sensor packet, its odometry and its cleaning cycles.

#include "simrig.h"

#include <QtTest>

using namespace velmora::sim;
using namespace velmora::sim::test;

namespace
{

constexpr int kAnyAngle = 1 << 20;

// What the robot made of a run of bytes: every answer, its last command and the bytes it
// ignored after that.
struct Fed {
    QByteArray answers;
    Robot::Outcome last;
    int ignoredAfter = 0;
};

Fed feed(Robot &robot, const QByteArray &input)
{
    Fed fed;
    for (const char c : input) {
        Robot::Outcome out = robot.push(static_cast<std::uint8_t>(c));
        if (out.kind == Robot::Outcome::Ignored) {
            ++fed.ignoredAfter;
        } else if (out.kind == Robot::Outcome::Command) {
            fed.answers += joined(out.answer);
            fed.last = std::move(out);
            fed.ignoredAfter = 0;
        }
    }
    return fed;
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

class TestSimRobot : public QObject
{
    Q_OBJECT

private slots:
    // Each row: bytes in one go; then the answer's size, the mode after, the last command as the
    // robot cut it from the stream, whether its mode obeyed it, the bytes ignored after it, and
    // the drive's velocity after. How the trace words these is the trace tests' business.
    void modeRules_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("answerBytes");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("last");
        QTest::addColumn<bool>("obeyed");
        QTest::addColumn<int>("ignoredAfter");
        QTest::addColumn<int>("velocity"); // of the drive kept after
        const QByteArray control = bytes({130});
        QTest::newRow("sensors before any start")
            << kSensors0 << 0 << "off" << kSensors0 << false << 0 << 0;
        QTest::newRow("drive before control")
            << kStart + kFwd255 << 0 << "passive" << kFwd255 << false << 0 << 0;
        QTest::newRow("drive after control")
            << kSafe + kFwd255 << 0 << "safe" << kFwd255 << true << 0 << 255;
        // Ignored in safe mode: the drive it would have stopped goes on.
        QTest::newRow("control in safe")
            << kSafe + kFwd255 + control << 0 << "safe" << control << false << 0 << 255;
        QTest::newRow("full only from safe")
            << kStart + bytes({132}) << 0 << "passive" << bytes({132}) << false << 0 << 0;
        QTest::newRow("spot leaves safe mode")
            << kSafe + bytes({134}) + kFwd255 << 0 << "passive" << kFwd255 << false << 0 << 0;
        // The data bytes of an ignored command are not opcodes, even when they look like one.
        QTest::newRow("ignored baud keeps step") << bytes({129, 128}) + kStart + kSensors0 << 26
                                                 << "passive" << kSensors0 << true << 0 << 0;
        QTest::newRow("motors leds play ignored in passive")
            << kStart + bytes({138, 142, 139, 142, 142, 142, 141, 142}) + kSensors0 << 26
            << "passive" << kSensors0 << true << 0 << 0;
        QTest::newRow("not opcodes")
            << kStart + bytes({1, 2, 3}) << 0 << "passive" << kStart << true << 3 << 0;
        QTest::newRow("power sleeps") << kSafe + bytes({133}) + kStart + kSensors0 << 0 << "off"
                                      << bytes({133}) << true << 3 << 0;
    }

    void modeRules()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, answerBytes);
        QFETCH(QString, mode);
        QFETCH(QByteArray, last);
        QFETCH(bool, obeyed);
        QFETCH(int, ignoredAfter);
        QFETCH(int, velocity);
        Robot robot;
        robot.advanceTo(0);
        const Fed fed = feed(robot, input);
        QCOMPARE(fed.answers.size(), answerBytes);
        QCOMPARE(QString::fromLatin1(modeName(robot.mode())), mode);
        QCOMPARE(joined(fed.last.bytes), last);
        QCOMPARE(fed.last.obeyed, obeyed);
        QCOMPARE(fed.ignoredAfter, ignoredAfter);
        QCOMPARE(int(robot.drive().velocity), velocity);
    }

    // Notes that are opcodes too are taken as data; a length outside 1 to 16 ends the command
    // after it, and nothing is stored. Passive mode stores songs too.
    void songs_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("notes");
        QTest::newRow("16 notes in passive")
            << kStart + bytes({140, 3, 16}) + kSensors0.repeated(16) << 16;
        QTest::newRow("0 notes") << kSafe + bytes({140, 3, 0}) << 0;
        QTest::newRow("17 notes") << kSafe + bytes({140, 3, 17}) << 0;
    }
    void songs()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, notes);
        Robot robot;
        robot.advanceTo(0);
        // Played right after: the stream is still in step.
        const Fed fed = feed(robot, input + bytes({141, 3}));
        QCOMPARE(joined(fed.last.bytes), bytes({141, 3}));
        QCOMPARE(fed.answers.size(), 0);
        QCOMPARE(robot.songNotes(3), notes);
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
        const QByteArray stop = bytes({137, 0, 0, 0, 0});
        QTest::newRow("cliff driving forward") << fwd << "cliff frontleft" << false << "passive";
        QTest::newRow("cliff driving backward straight")
            << back << "cliff right" << false << "safe";
        QTest::newRow("cliff backward radius -1")
            << backTight << "cliff left" << false << "passive";
        QTest::newRow("cliff standing") << stop << "cliff left" << false << "safe";
        QTest::newRow("wheel drop standing") << stop << "wheeldrop caster" << false << "passive";
        QTest::newRow("charger") << stop << "dock" << false << "passive";
        QTest::newRow("full: cliff forward") << fwd << "cliff frontright" << true << "full";
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
        QTest::newRow("wheel drops left and caster")
            << QStringList{"wheeldrop left", "wheeldrop caster"} << idleWith({{0, 24}});
        QTest::newRow("cliff left") << QStringList{"cliff left"} << idleWith({{2, 1}});
        QTest::newRow("cliff front right and right")
            << QStringList{"cliff frontright", "cliff right"} << idleWith({{4, 1}, {5, 1}});
        QTest::newRow("overcurrent left wheel")
            << QStringList{"overcurrent left"} << idleWith({{7, 16}});
        QTest::newRow("overcurrent brushes and vacuum")
            << QStringList{"overcurrent side", "overcurrent vacuum", "overcurrent main"}
            << idleWith({{7, 7}});
        QTest::newRow("buttons max and power")
            << QStringList{"button max", "button power"} << idleWith({{11, 9}});
        QTest::newRow("dirt and remote")
            << QStringList{"dirt 7 200", "remote 130"} << idleWith({{8, 7}, {9, 200}, {10, 130}});
        // Docked: the charger carries the robot's own use; the battery takes the charge current,
        // and charging lifts the voltage by 600 mV.
        QTest::newRow("charging") << QStringList{"dock"}
                                  << idleWith({{16, 2}, {17, 64}, {18, 209}, {19, 5}, {20, 220}});
        // The room's own sensors: on the virtual wall's beam; fallen down the stairs.
        QTest::newRow("virtual wall") << QStringList{"place 1000 2200 90"} << idleWith({{6, 1}});
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

    void odometry_data()
    {
        QTest::addColumn<QByteArray>("drive");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("distance");
        QTest::addColumn<int>("angle");
        QTest::newRow("forward") << bytes({137, 0, 200, 128, 0}) << 1.0 << 200 << 0;
        QTest::newRow("in place, radius -1") << bytes({137, 0, 100, 255, 255}) << 0.5 << 0 << -50;
        QTest::newRow("in place, radius 0") << bytes({137, 0, 100, 0, 0}) << 0.5 << 0 << 50;
        // 500 mm/s for 70 s is 35,000 mm: beyond what 16 bits hold.
        QTest::newRow("angle saturates down")
            << bytes({137, 1, 244, 255, 255}) << 70.0 << 0 << -32768;
        // Round and round a circle of 500 mm radius, clear of the walls.
        QTest::newRow("distance saturates up")
            << bytes({137, 1, 244, 1, 244}) << 70.0 << 32767 << kAnyAngle;
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
};

QTEST_APPLESS_MAIN(TestSimRobot)
#include "tst_simrobot.moc"
