// velmora-probe against the simulator: each row a situation a person meets at the robot, the
// exit status it must end with and the words it must use.

#include "link/qtserialport.h"
#include "probe/answer.h"
#include "simrobot.h"

#include <QElapsedTimer>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using velmora::test::SimRobot;

namespace
{

// What the rig does besides the simulator.
enum class Rig {
    None,
    NoPort,     // a port number with no device
    Unplug,     // the simulator's line is pulled once the probe asks for sensors
    Busy,       // this test holds the port open with the console's port code
    NotAllowed, // the probe runs as a user who may not open the device
};

constexpr int kPort = 41;

} // namespace

Q_DECLARE_METATYPE(Rig)

using Patch = QList<QPair<int, int>>; // byte index, new value
Q_DECLARE_METATYPE(Patch)

class TestProbe : public QObject
{
    Q_OBJECT

private slots:
    void scenarios_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QString>("simCommand");
        QTest::addColumn<QStringList>("probeOptions");
        QTest::addColumn<Rig>("rig");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<int>("wakeUps"); // the adapter's wake-up lines the simulator read

        QTest::newRow("right speed")
            << QStringList{} << QString() << QStringList{} << Rig::None << 0
            << QStringList{"The robot answers at 57600,n,8,1",
                           "Battery: 2500 of 2700 mAh (92 %)",
                           "none is on",
                           "as given",
                           "passive mode",
                           "no RTS line",
                           "through the link"}
            << 0;
        QTest::newRow("robot at 115200, default settings")
            << QStringList{"--baud", "115200"} << QString() << QStringList{} << Rig::None << 0
            << QStringList{"at 57600 baud.\n- Nothing came back", "The robot answers at 115200",
                           "Type 115200,n,8,1 into the console's settings box"}
            << 0;
        // The robot's own wake time, 2 s, in both: the walk must wait it out before Start.
        QTest::newRow("asleep, woken by the Bluetooth adapter")
            << QStringList{"--asleep", "--adapter-replies"} << QString()
            << QStringList{"--adapter", "wexbin"} << Rig::None << 0
            << QStringList{"AT wake-up lines", "\"OK\\r\\nOK\\r\\n", "The robot answers at 57600"}
            << 1;
        // A pseudo-terminal has no RTS, so a hand wakes the robot just before the probe starts,
        // as the probe's own advice has it.
        QTest::newRow("asleep, woken by hand, wired")
            << QStringList{"--asleep"} << QStringLiteral("wake") << QStringList{} << Rig::None << 0
            << QStringList{"no RTS line", "all the same", "The robot answers at 57600"} << 0;
        // Over Bluetooth the speed set here does not matter: the adapter meets the robot at its
        // own speed, and its AT lines reach no robot mangled into commands.
        QTest::newRow("asleep at 115200, woken by the Bluetooth adapter")
            << QStringList{"--asleep", "--baud", "115200"} << QString()
            << QStringList{"--adapter", "wexbin"} << Rig::None << 0
            << QStringList{"The robot answers at 57600"} << 1;
        QTest::newRow("bumped") << QStringList{} << QStringLiteral("bump left") << QStringList{}
                                << Rig::None << 0 << QStringList{"On now: Bump Left"} << 0;
        QTest::newRow("off, Bluetooth")
            << QStringList{"--off", "--adapter-replies"} << QString()
            << QStringList{"--adapter", "wexbin", "--settings", "38400,n,8,1"} << Rig::None << 5
            << QStringList{"silent at every speed",
                           "57600, 115200 and 19200",
                           "1. The robot is asleep: the wake-up did not reach",
                           "2. It is switched off",
                           "3. The cable",
                           "cannot be reached over Bluetooth"}
            << 1;
        QTest::newRow("off, wired")
            << QStringList{"--off"} << QString() << QStringList{} << Rig::None << 5
            << QStringList{"RTS, which this line cannot carry; ", "ms of waiting; then Start",
                           "1. The wake-up could not be sent", "give that speed with --settings"}
            << 0;
        QTest::newRow("answer out of step")
            << QStringList{"--stray-before", "2"} << QString() << QStringList{} << Rig::None << 6
            << QStringList{"28 bytes", "aa aa 00", "after 2 bytes and followed by 0 more"} << 0;
        QTest::newRow("unplugged in the middle")
            << QStringList{"--off"} << QString() << QStringList{} << Rig::Unplug << 2
            << QStringList{"went away in the middle of the walk", "The port reported"} << 0;
        QTest::newRow("no such port")
            << QStringList{} << QString() << QStringList{} << Rig::NoPort << 2
            << QStringList{"There is no port 97", QStringLiteral("  %1  /dev/pts/").arg(kPort),
                           "/dev/serial/by-id"}
            << 0;
        QTest::newRow("busy") << QStringList{} << QString() << QStringList{} << Rig::Busy << 4
                              << QStringList{"is busy", "holds the lock file",
                                             "holds the other end of this pseudo-terminal"}
                              << 0;
        QTest::newRow("not allowed")
            << QStringList{} << QString() << QStringList{} << Rig::NotAllowed << 3
            << QStringList{"permission denied", "belongs to user", "log out and in again"} << 0;
    }

    void scenarios()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QString, simCommand);
        QFETCH(QStringList, probeOptions);
        QFETCH(Rig, rig);
        QFETCH(int, exitCode);
        QFETCH(QStringList, words);
        QFETCH(int, wakeUps);

        SimRobot sim(QString(), kPort, simOptions);
        QString ready;
        QVERIFY2(sim.waitReady(&ready), qPrintable(ready));
        if (!simCommand.isEmpty()) {
            const qsizetype from = sim.output().size();
            sim.command(simCommand);
            QVERIFY(sim.waitForOutput(QStringLiteral("\n"), 5000, from));
        }

        QString program = QStringLiteral(VELMORA_PROBE_PATH);
        QStringList args{QString::number(kPort)};
        std::unique_ptr<velmora::link::QtSerialPort> holder;
        switch (rig) {
        case Rig::None:
        case Rig::Unplug:
            break;
        case Rig::NoPort:
            args = QStringList{QStringLiteral("97")};
            break;
        case Rig::Busy:
            // Held as the console holds it: the serial lock file, which stops even root.
            holder = std::make_unique<velmora::link::QtSerialPort>();
            holder->setDevicePath(sim.device());
            QVERIFY2(holder->setPortOpen(true), qPrintable(holder->errorString()));
            words << QStringLiteral("Held by PID %1").arg(QCoreApplication::applicationPid());
            break;
        case Rig::NotAllowed:
            args = QStringList{sim.device()};
            if (::geteuid() == 0) {
                // Root opens anything: the probe runs as nobody against a device of the
                // dialout group, as a serial adapter's device is.
                const group *dialout = ::getgrnam("dialout");
                QVERIFY(dialout);
                QCOMPARE(::chown(QFile::encodeName(sim.device()).constData(), 0, dialout->gr_gid),
                         0);
                QCOMPARE(::chmod(QFile::encodeName(sim.device()).constData(), 0660), 0);
                args.prepend(program);
                args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + args;
                program = QStringLiteral("setpriv");
                words << "You (nobody) are not in the group dialout"
                      << "sudo adduser nobody dialout";
            } else {
                QCOMPARE(::chmod(QFile::encodeName(sim.device()).constData(), 0), 0);
            }
            break;
        }

        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), sim.configHome());
        probe.setProcessEnvironment(env);
        QElapsedTimer took;
        took.start();
        probe.start(program, args + probeOptions);
        QVERIFY(probe.waitForStarted());
        if (rig == Rig::Unplug) {
            QByteArray seen;
            while (!seen.contains("Asked for the sensor packet") && probe.waitForReadyRead(5000))
                seen += probe.readAllStandardOutput();
            sim.command(QStringLiteral("unplug"));
        }
        QVERIFY(probe.waitForFinished(10000));
        const qint64 ms = took.elapsed();
        const QString out = QString::fromUtf8(probe.readAll() + probe.readAllStandardError());
        const QString shown =
            QStringLiteral("%1 ms, exit %2:\n%3").arg(ms).arg(probe.exitCode()).arg(out);
        QCOMPARE(probe.exitCode(), exitCode);
        for (const QString &w : words)
            QVERIFY2(out.contains(w), qPrintable(QStringLiteral("no \"%1\" in %2").arg(w, shown)));
        // Silent at every speed, even four of them after the Bluetooth wake-up, the walk is
        // still over within 5 s.
        if (exitCode == 5)
            QVERIFY2(ms < 5000, qPrintable(shown));
        // One wake-up, and nothing that moves the robot or starts a cycle reached it.
        QByteArray read;
        for (const velmora::test::TraceEntry &e : sim.received()) {
            read += e.bytes;
            static const QRegularExpression moving(
                QStringLiteral("^(Power|Spot|Clean|Max|Drive|Motors|Force-Seeking-Dock)\\b"));
            QVERIFY2(!moving.match(e.meaning).hasMatch(), qPrintable(e.meaning));
        }
        QCOMPARE(read.count("ATSW23,6,0,1\r"), wakeUps);
    }

    // Which 26 bytes count as the robot's answer: the simulator's own answer, changed.
    void answerChecks_data()
    {
        QTest::addColumn<Patch>("patch");
        QTest::addColumn<bool>("robot");
        QTest::addColumn<QString>("words");

        QTest::newRow("as the robot answers") << Patch{} << true << QString();
        QTest::newRow("charge above capacity: a warning only")
            << Patch{{22, 0x0b}, {23, 0xb8}} << true << "3000 mAh, is above the capacity";
        QTest::newRow("charging state out of range")
            << Patch{{16, 6}} << false << "charging state is 6";
        QTest::newRow("voltage no battery shows")
            << Patch{{17, 0x03}, {18, 0xe8}} << false << "battery voltage, 1000 mV";
        QTest::newRow("unusual temperature: a warning only")
            << Patch{{21, 100}} << true << "temperature, 100 C";
        QTest::newRow("unused bit set: a warning only")
            << Patch{{0, 0x21}} << true << "byte 0 is 0x21, with bits set";
    }

    void answerChecks()
    {
        QFETCH(Patch, patch);
        QFETCH(bool, robot);
        QFETCH(QString, words);

        QByteArray bytes = QByteArray::fromHex("00 00 00 00 00 00 00 00 00 00 ff 00 00 00 00 00 00 "
                                               "3e 6a ff 88 19 09 c4 0a 8c");
        for (const auto &[index, value] : patch)
            bytes[index] = static_cast<char>(value);
        const velmora::probe::AnswerCheck c = velmora::probe::checkAnswer(bytes);
        QCOMPARE(c.robot, robot);
        const QString said = robot ? c.warnings.join(u'\n') : c.failed;
        QVERIFY2(words.isEmpty() ? said.isEmpty() : said.contains(words), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(TestProbe)
#include "tst_probe.moc"
