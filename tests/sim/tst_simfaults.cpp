// What the simulator sends and when: the pace of the line, the faults that shape answers,
// writes lost with the line, and the options that set them.

#include "simrig.h"

#include "sim/uart.h"

#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace velmora::sim;
using namespace velmora::sim::test;

namespace
{

// When each byte sent reaches the line, in ms from now, for an owner that first looks
// lateMs from now and then wakes exactly at each deadline; clumps show as equal times.
QList<double> arrivalsMs(Rig &rig, double lateMs)
{
    const double t0 = rig.clock.now();
    rig.clock.advance(lateMs / 1000);
    QList<double> out;
    for (int wakes = 0; wakes < 10000; ++wakes) {
        const double t = rig.sim->nextDeadline();
        if (t == Simulator::kNever)
            break;
        rig.clock.set(std::max(t, rig.clock.now()));
        const QByteArray got = rig.drain();
        if (got.isEmpty())
            break; // woken for nothing: the deadline and the bytes disagree
        out.append(QList<double>(got.size(), (rig.clock.now() - t0) * 1000));
    }
    return out;
}

} // namespace

class TestSimFaults : public QObject
{
    Q_OBJECT

private slots:
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
        QTest::newRow("answer at 9600")
            << QStringList{"--pace", "9600"} << kSensors0 << 0.0 << paced(26, 0, 9600);
        QTest::newRow("answer, then adapter reply in turn")
            << QStringList{"--pace", "57600", "--adapter-replies"} << kSensors0 + "+++\r" << 0.0
            << paced(30, 0);
        QTest::newRow("delayed") << QStringList{"--pace", "57600", "--delay", "50"} << kSensors0
                                 << 0.0 << paced(26, 50);
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
        Options o;
        QCOMPARE(parse(args, o), QString());
        Rig rig(o);
        rig.send(kStart);
        rig.sim->receive(reinterpret_cast<const std::uint8_t *>(input.constData()),
                         static_cast<std::size_t>(input.size()));
        const QList<double> got = arrivalsMs(rig, lateMs);
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

    // A receiver at the wrong speed, worked out bit by bit: 128 is a start bit and seven low
    // data bits, then two high bits.
    void wrongSpeed_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("sentBaud");
        QTest::addColumn<int>("readBaud");
        QTest::addColumn<QByteArray>("read");
        QTest::newRow("same speed") << kSafe + kSensors0 << 57600 << 57600 << kSafe + kSensors0;
        // Read at twice the speed, the long low run holds through the stop bit: framing error.
        QTest::newRow("twice as fast, byte lost") << kStart << 57600 << 115200 << QByteArray();
        // Read at half the speed, the low run ends after three data bits; the rest read high.
        QTest::newRow("half as fast, byte changed") << kStart << 115200 << 57600 << bytes({0xf8});
        QTest::newRow("sensor request at 57600 read at 115200")
            << kSensors0 << 57600 << 115200 << bytes({248, 224});
    }
    void wrongSpeed()
    {
        QFETCH(QByteArray, sent);
        QFETCH(int, sentBaud);
        QFETCH(int, readBaud);
        QFETCH(QByteArray, read);
        const std::vector<std::uint8_t> in(sent.begin(), sent.end());
        QCOMPARE(joined(readAtWrongSpeed(in, sentBaud, readBaud)), read);
    }

    // The robot's own speed against the speed the other end set: at the same speed the answer
    // is whole; across a mismatch neither side gets what the other sent; switched off, nothing.
    void lineSpeed_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("lineBaud");
        QTest::addColumn<bool>("wake");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("answered");
        QTest::newRow("default, line unknown") << QStringList{} << 0 << false << "passive" << 26;
        QTest::newRow("robot at 115200, line 115200")
            << QStringList{"--baud", "115200"} << 115200 << false << "passive" << 26;
        QTest::newRow("robot at 115200, line 57600")
            << QStringList{"--baud", "115200"} << 57600 << false << "off" << 0;
        QTest::newRow("robot at 57600, line 19200")
            << QStringList{} << 19200 << false << "off" << 0;
        QTest::newRow("switched off, woken")
            << QStringList{"--off", "--adapter-replies"} << 57600 << true << "off" << 0;
    }
    void lineSpeed()
    {
        QFETCH(QStringList, args);
        QFETCH(int, lineBaud);
        QFETCH(bool, wake);
        QFETCH(QString, mode);
        QFETCH(int, answered);
        Options o;
        QCOMPARE(parse(args, o), QString());
        Rig rig(o);
        rig.sim->setLineBaud(lineBaud);
        if (wake)
            QCOMPARE(rig.send("+++\rATSW22,6,1,1\rATSW23,6,0,1\rATSW23,6,1,1\rATMD\r"),
                     QByteArray());
        rig.send(kStart);
        QCOMPARE(rig.send(kSensors0).size(), answered);
        QCOMPARE(rig.mode(), mode);
    }

    // An answer in flight when the other end changes speed is read at the new speed: it no
    // longer has 26 bytes.
    void answerReadAtWrongSpeed()
    {
        Options o;
        o.baud = 115200;
        o.faults.delayMs = 50;
        Rig rig(o);
        rig.sim->setLineBaud(115200);
        rig.send(kStart + kSensors0);
        const std::array<std::uint8_t, kPacketSize> packet = rig.robot().packet(false);
        rig.sim->setLineBaud(57600);
        rig.clock.advance(0.05);
        const QByteArray expected =
            joined(readAtWrongSpeed({packet.begin(), packet.end()}, 115200, 57600));
        QVERIFY(expected.size() != 26);
        QCOMPARE(rig.drain(), expected);
    }

    void optionParsing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("port zero")
            << QStringList{"--port", "0"} << "--port needs a number from 1 to 32767";
        QTest::newRow("split one number")
            << QStringList{"--split", "10"}
            << "--split needs A,B: two piece sizes from 1 to 4096 bytes (or off), not \"10\"";
        QTest::newRow("unknown") << QStringList{"--fast"} << "unknown option \"--fast\"";
        QTest::newRow("baud not the robot's")
            << QStringList{"--baud", "56000"}
            << "--baud needs one of the robot's rates: 300, 600, 1200, 2400, 4800, 9600, "
               "14400, 19200, 28800, 38400, 57600, 115200";
    }

    void optionParsing()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        Options o;
        QCOMPARE(parse(args, o), error);
    }
};

QTEST_APPLESS_MAIN(TestSimFaults)
#include "tst_simfaults.moc"
