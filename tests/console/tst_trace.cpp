// The line trace of a console session over the fake port: one line per event, in the order the
// events happen, and nothing at all unless the trace is switched on.

#include "../link/tracecapture.h"
#include "consoletest.h"

using velmora::test::Console;

namespace
{

const QString kLive = "dallop connect safe live";
const QString kPacket = "1 0 0 0 0 0 0 0 0 0 255 0 0 0 0 0 0 58 152 0 0 0 0 0 0 0";
const QString kStop = "out 137 0 0 0 0";
const QString kRequest = "out 142 0";
const QString kWritten = "= stop written"; // when the stop reached the port
const QString kDecoded = "receive event: 26 waiting, 26 taken, decoded, %1 stops written";

} // namespace

class TestTrace : public QObject
{
    Q_OBJECT
private slots:
    void lines_data()
    {
        QTest::addColumn<QString>("setup"); // its lines are left out, unless it is empty
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("events"); // the lines without their time stamps

        QTest::newRow("load and connect")
            << ""
            << "dallop connect"
            << QStringList{"rts 0: kept for the next open (port closed)",
                           "open port 3, 57600,n,8,1", "rts 0 at open: set"};
        QTest::newRow("open refused")
            << "dallop"
            << "connect:0"
            << QStringList{"open port 0 refused: Port 0 does not exist: port numbers start at 1."};
        // No line is written before the stops; then the lines of the event in their order.
        QTest::newRow("bumped answer: stops first, then its lines")
            << kLive << "tick pkt:0=3"
            << QStringList{kRequest,       kWritten,
                           kWritten,       "in 26: 3" + kPacket.mid(1) + " (26 waiting)",
                           kStop,          kStop,
                           kDecoded.arg(2)};
        QTest::newRow("too few") << kLive << "tick split:10:0=1"
                                 << QStringList{
                                        kRequest, "in 10: 1 0 0 0 0 0 0 0 0 0 (10 waiting)",
                                        "receive event: 10 waiting, 10 taken, dropped: too few",
                                        "in 16: 255 0 0 0 0 0 0 58 152 0 0 0 0 0 0 0 (16 waiting)",
                                        "receive event: 16 waiting, 16 taken, dropped: too few"};
        QTest::newRow("too many") << kLive << "tick pkt27:0=1"
                                  << QStringList{
                                         kRequest, "in 27: " + kPacket + " 85 (27 waiting)",
                                         "receive event: 27 waiting, 26 taken, dropped: too many"};
        QTest::newRow("no request outstanding")
            << kLive + " tick pkt"
            << "pkt:0=1"
            << QStringList{"in 26: " + kPacket + " (26 waiting)",
                           "receive event: 26 waiting, 26 taken, dropped: no request outstanding"};
        QTest::newRow("discarded before a request")
            << "wexbin connect on"
            << "ok ok safe live tick pkt:0=1"
            << QStringList{R"(in 4: "OK\r\n" (4 waiting))",
                           R"(in 4: "OK\r\n" (8 waiting))",
                           "out 128 130",
                           "discarded 8 waiting before the request",
                           kRequest,
                           kWritten,
                           "in 26: " + kPacket + " (26 waiting)",
                           kStop,
                           kDecoded.arg(1)};
        QTest::newRow("reply cut off an answer")
            << "wexbin connect safe live tick on pulse"
            << "okq piece:0:22 piece:22:26"
            << QStringList{R"(in 4: "OK\r\n" (4 waiting))",
                           "in 22: 0" + kPacket.mid(1, 47) + " (26 waiting)",
                           R"(cut off 4 of adapter replies: "OK\r\n")",
                           "in 4: 0 0 0 0 (26 waiting)",
                           "receive event: 26 waiting, 26 taken, decoded, 0 stops written"};
        QTest::newRow("out of step")
            << kLive << "tick strayq:3 piece:0:23"
            << QStringList{kRequest, "in 3: 170 170 170 (3 waiting)",
                           "in 23: 0" + kPacket.mid(1, 49) + " (26 waiting)",
                           "receive event: 26 waiting, 26 taken, dropped: out of step (no battery "
                           "voltage)"};
        QTest::newRow("no battery voltage")
            << kLive << "tick pkt:0=1,17=0,18=0"
            << QStringList{kRequest,
                           "in 26: 1" + QString(" 0").repeated(9) + " 255" +
                               QString(" 0").repeated(15) + " (26 waiting)",
                           "receive event: 26 waiting, 26 taken, dropped: out of step (no battery "
                           "voltage)"};
        QTest::newRow("device lost")
            << kLive << "unplug tick"
            << QStringList{"device lost: The connection to port 3 was lost: the device went away."};
    }
    void lines()
    {
        QFETCH(QString, setup);
        QFETCH(QString, steps);
        QFETCH(QStringList, events);
        TraceCapture trace;
        Console c;
        c.port->setWriteWatcher([&trace](const QByteArray &bytes) {
            if (bytes == QByteArray("\x89\0\0\0\0", 5))
                trace.note(QStringLiteral("stop written"));
        });
        c.run(setup);
        if (!setup.isEmpty())
            trace.lines.clear();

        c.run(steps);

        QCOMPARE(trace.events(), events);
    }

    // Off as shipped: a whole session with every kind of event logs nothing.
    void nothingUnlessSwitchedOn_data()
    {
        QTest::addColumn<bool>("on");
        QTest::newRow("off") << false;
        QTest::newRow("on") << true;
    }
    void nothingUnlessSwitchedOn()
    {
        QFETCH(bool, on);
        if (!on && qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
            QSKIP("QT_LOGGING_RULES is set; the trace is not as shipped");
        TraceCapture trace(on);
        QCOMPARE(velmora::link::lcLink().isDebugEnabled(), on);
        Console c;
        c.run("wexbin connect on ok safe live tick pkt:0=3 tick split:10 tick pkt27 pkt fail:x "
              "spot unfail port port unplug");
        QCOMPARE(trace.lines.isEmpty(), !on);
    }
};

QTEST_MAIN(TestTrace)
#include "tst_trace.moc"
