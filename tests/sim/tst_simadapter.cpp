// The Bluetooth adapter in front of the robot: the AT wake-up, command mode keeping bytes from
// the robot, renaming, and its replies when it gives them.

#include "simrig.h"

#include "sim/operator_commands.h"

#include <QtTest>

using namespace velmora::sim;
using namespace velmora::sim::test;

class TestSimAdapter : public QObject
{
    Q_OBJECT

private slots:
    // Pin 6 as the robot's Device Detect input: low, held, high again. Each row sends its lines
    // in two bursts, holdMs apart, after the line at index split.
    void atWake_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<int>("split");
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<bool>("wakes");
        QTest::addColumn<bool>("tooShort"); // the trace names a pulse that ended too soon
        const QByteArrayList whole{"+++\r", "ATSW22,6,1,1\r", "ATSW23,6,0,1\r", "ATSW23,6,1,1\r",
                                   "ATMD\r"};
        QTest::newRow("held 500 ms") << whole << 2 << 500 << true << false;
        QTest::newRow("held the minimum") << whole << 2 << 100 << true << false;
        QTest::newRow("held 99 ms") << whole << 2 << 99 << false << true;
        QTest::newRow("all at once") << whole << 2 << 0 << false << true;
        // The pause comes before the pin goes low: the pulse itself is as short as ever.
        QTest::newRow("pause before the pulse") << whole << 1 << 500 << false << true;
        QTest::newRow("pin left an input")
            << QByteArrayList{"+++\r", "ATSW23,6,0,1\r", "ATSW23,6,1,1\r", "ATMD\r"} << 1 << 500
            << false << false;
        // Set low while still an input, then made an output: the pulse starts there.
        QTest::newRow("made an output while low")
            << QByteArrayList{"+++\r", "ATSW23,6,0,1\r", "ATSW22,6,1,1\r", "ATSW23,6,1,1\r",
                              "ATMD\r"}
            << 2 << 500 << true << false;
        QTest::newRow("low but never high")
            << QByteArrayList{"+++\r", "ATSW22,6,1,1\r", "ATSW23,6,0,1\r", "ATMD\r"} << 2 << 500
            << false << false;
        QTest::newRow("no command mode")
            << QByteArrayList{"ATSW22,6,1,1\r", "ATSW23,6,0,1\r", "ATSW23,6,1,1\r"} << 1 << 500
            << false << false;
    }

    void atWake()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(int, split);
        QFETCH(int, holdMs);
        QFETCH(bool, wakes);
        QFETCH(bool, tooShort);
        Options o;
        o.asleep = true;
        o.wakeMs = 0;
        Rig rig(o);
        QCOMPARE(rig.send(kStart + kSensors0).size(), 0);
        for (int i = 0; i < lines.size(); ++i) {
            QCOMPARE(rig.send(lines[i]).size(), 0); // no replies unless asked for
            if (i == split)
                rig.wait(holdMs / 1000.0);
        }
        QCOMPARE(rig.robot().asleep(), !wakes);
        QCOMPARE(rig.send(kStart + kSensors0).size(), wakes ? 26 : 0);
        QCOMPARE(!rig.meanings(Trace::Dir::Info).filter("too short to wake").isEmpty(), tooShort);
    }

    // After the wake-up the robot ignores every byte for its wake time, then listens. Each row
    // wakes it, waits, and sends Start and a sensor request.
    void wakeTime_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("byHand"); // the operator's wake instead of the adapter's pulse
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<bool>("answered");
        QTest::newRow("default, a moment too soon")
            << QStringList{"--asleep"} << false << 1999 << false;
        QTest::newRow("default, on time") << QStringList{"--asleep"} << false << 2000 << true;
        QTest::newRow("by hand, too soon") << QStringList{"--asleep"} << true << 1000 << false;
        QTest::newRow("50 ms, too soon")
            << QStringList{"--asleep", "--wake-ms", "50"} << false << 49 << false;
        QTest::newRow("50 ms, on time")
            << QStringList{"--asleep", "--wake-ms", "50"} << false << 50 << true;
        QTest::newRow("none") << QStringList{"--asleep", "--wake-ms", "0"} << true << 0 << true;
    }

    void wakeTime()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, byHand);
        QFETCH(int, afterMs);
        QFETCH(bool, answered);
        Options o;
        QCOMPARE(parse(args, o), QString());
        Rig rig(o);
        if (byHand)
            rig.hands("wake");
        else
            rig.atWake(0.5);
        QVERIFY(!rig.robot().asleep());
        rig.wait(afterMs / 1000.0);
        QCOMPARE(rig.send(kStart + kSensors0).size(), answered ? 26 : 0);
        if (answered)
            return;
        // Ignored whole, as asleep: Start did not count, so a sensor request alone stays
        // unanswered once it listens.
        QVERIFY(rig.meanings().last().endsWith("(robot still waking up)"));
        rig.wait(o.wakeMs / 1000.0);
        QCOMPARE(rig.send(kSensors0).size(), 0);
        QCOMPARE(rig.send(kStart + kSensors0).size(), 26);
    }

    // What the adapter itself reads and answers never meets the speed set on the other end: a
    // Bluetooth link has none. Its data-mode bytes reach the robot at its own speed, which is
    // the speed the robot powers up with; only a robot moved on by the Baud command mismatches.
    void atLinesWhateverTheLineSpeed_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("lineBaud");
        QTest::addColumn<int>("robotBaud"); // moved there by the Baud command after the wake-up
        QTest::addColumn<int>("answered");
        const QStringList later{"--baud", "115200"};
        QTest::newRow("robot 57600, line 115200") << QStringList{} << 115200 << 0 << 26;
        QTest::newRow("robot 57600, line 9600") << QStringList{} << 9600 << 0 << 26;
        QTest::newRow("robot 115200, line 57600") << later << 57600 << 0 << 26;
        QTest::newRow("robot 115200, line 19200") << later << 19200 << 0 << 26;
        QTest::newRow("robot moved to 115200") << QStringList{} << 57600 << 115200 << 0;
        QTest::newRow("robot moved to 19200") << QStringList{} << 115200 << 19200 << 0;
    }

    void atLinesWhateverTheLineSpeed()
    {
        QFETCH(QStringList, args);
        QFETCH(int, lineBaud);
        QFETCH(int, robotBaud);
        QFETCH(int, answered);
        Options o;
        QCOMPARE(parse(args + QStringList{"--asleep", "--adapter-replies", "--wake-ms", "0"}, o),
                 QString());
        Rig rig(o);
        rig.sim->setLineBaud(lineBaud);
        QCOMPARE(rig.atWake(0.5), QByteArray("OK\r\n").repeated(5));
        QVERIFY(!rig.robot().asleep());
        QCOMPARE(rig.sim->link(), Simulator::Link::Bluetooth);
        if (robotBaud) {
            const int code = robotBaud == 115200 ? 11 : 7;
            QCOMPARE(rig.send(kStart + bytes({129, code})).size(), 0);
            QCOMPARE(rig.robot().baudRate(), robotBaud);
        }
        QCOMPARE(rig.send(kStart + kSensors0).size(), answered);
        // The adapter's replies stay whole even then.
        QCOMPARE(rig.send("+++\r"), QByteArray("OK\r\n"));
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
};

QTEST_APPLESS_MAIN(TestSimAdapter)
#include "tst_simadapter.moc"
