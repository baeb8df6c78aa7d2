// Everything the console does to its port, as operator steps and the port's log: the buttons,
// the wake-ups, the drive panel's mouse rules, the live view's polls, answers and stops,
// connecting, losing the device and shutting down.

#include "consoletest.h"

#include <QLabel>

using velmora::console::FrmMain;
using velmora::test::Console;

namespace
{

const QString kInit = "dallop connect safe";
const QString kLive = "dallop connect safe live tick"; // a request waiting for its answer
const QString kStop = "write 137 0 0 0 0";
const QString kFwd = "write 137 0 255 128 0";
const QString kBack = "write 137 255 64 128 0";
const QString kLeft = "write 137 0 255 0 0";
const QString kRight = "write 137 0 255 255 255";
const QString kRequest = "write 142 0";
const QString kOpen = "open 3 57600,n,8,1";
const QStringList kPulse{"rts 0", "rts 1", "rts 1", "rts 1", "rts 1", "rts 1", "rts 0"};
QStringList writesOf(std::initializer_list<const char *> lines)
{
    QStringList out;
    for (const char *line : lines)
        out << "write " + velmora::link::byteText(QByteArray(line) + '\r');
    return out;
}

// The indicator labels' Show and Hide events, in order, from its construction on.
struct VisibilityLog : QObject {
    explicit VisibilityLog(const Console &c)
    {
        for (QLabel *label : c.window->findChildren<QLabel *>(QRegularExpression("^label")))
            label->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() == QEvent::Show || e->type() == QEvent::Hide)
            log << (e->type() == QEvent::Show ? "show " : "hide ") + watched->objectName();
        return false;
    }
    QStringList log;
};

} // namespace

class TestHandlers : public QObject
{
    Q_OBJECT
private slots:
    void portTraffic_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("log");    // the port's log over the steps alone
        QTest::addColumn<QString>("report");     // the report's first line
        QTest::addColumn<QString>("indicators"); // visible at the end
        QTest::addColumn<QString>("message");    // part of the one message shown
        auto row = [](const char *name, const QString &setup, const QString &steps,
                      const QStringList &log, const QString &report = {},
                      const QString &indicators = {}, const QString &message = {}) {
            QTest::newRow(name) << setup << steps << log << report << indicators << message;
        };

        // Buttons and wake-ups: one write each, nothing grouped or merged.
        row("safe mode", "dallop connect", "safe", {"write 128 130"});
        row("safe mode twice", kInit, "safe safe", {"write 128 130", "write 128 130"});
        row("off before safe mode", "dallop connect", "off", {"write 133"});
        row("off", kInit, "off", {"write 133"});
        row("spot", kInit, "spot", {"write 134"});
        row("clean", kInit, "clean", {"write 135"});
        row("max", kInit, "max", {"write 136"});
        // The wake-up: the line held until the pulse's time is up, the buttons usable meanwhile;
        // every way the port closes, and a second "On", end a pulse first.
        const QStringList rise = kPulse.mid(0, 6);
        const QStringList wexRise = writesOf({"+++", "ATSW22,6,1,1", "ATSW23,6,0,1"});
        const QStringList wexFall = writesOf({"ATSW23,6,1,1", "ATMD"});
        row("Krennet wake-up, held", "krennet connect", "on", rise);
        row("Krennet wake-up", "krennet connect", "on pulse", kPulse);
        row("Dallop wake-up, twice", "dallop connect", "on pulse on pulse", kPulse + kPulse);
        row("second On during the pulse", "dallop connect", "on on pulse", kPulse + kPulse);
        row("Wexbin wake-up, held", "wexbin connect", "on", wexRise);
        row("Wexbin wake-up", "wexbin connect", "on pulse", wexRise + wexFall);
        row("buttons during the pulse", "krennet connect safe", "on spot press:btnFwd pulse",
            rise + QStringList{"write 134", kFwd, "rts 0"});
        row("Disconnect during the pulse", "krennet connect", "on port pulse",
            rise + QStringList{"rts 0", "close"});
        row("Exit during the Wexbin pulse", "wexbin connect", "on exit pulse",
            wexRise + wexFall + QStringList{"write 128", "close"});
        row("close box during the pulse, a press held", "dallop connect safe",
            "on press:btnFwd close",
            rise + QStringList{kFwd, kStop, "rts 0", "write 128", "close"});
        row("device lost during the Wexbin pulse", "wexbin connect", "on unplug pulse",
            wexRise + QStringList{"lost"}, "", "", "The connection to the robot was lost");
        row("no RTS line", "norts krennet connect", "on pulse", {}, "", "", "has no RTS line");
        row("failed writes shown once per run", "dallop connect safe live",
            "fail:First. tick tick spot", {}, "", "", "First.");
        row("a write that gets through ends the run", kLive,
            "fail:First. tick dismiss unfail tick fail:Again. tick tick", {kRequest}, "", "",
            "Again.");
        // The live view's stops go to the port straight from the poll; their failures reach
        // the operator as any write's do, and one that gets through ends a run too.
        row("failed stops shown once", kLive, "fail:Gone. pkt:0=3", {}, "Bump Right",
            "labelBumpLeft labelBumpRight", "Gone.");
        row("a stop that gets through ends the run", kLive,
            "fail:First. tick dismiss unfail pkt:0=1 fail:Again. tick", {kStop}, "Bump Right", "",
            "Again.");
        row("connect takes the current texts", "",
            "dallop connect port wexbin set:9600,e,7,2 connect:12",
            {kOpen, "rts 0", "close", "open 12 9600,e,7,2", "rts 0"});
        row("device lost, polls resume after Connect", kLive, "unplug tick tick port tick",
            {"lost", kOpen, "rts 0", kRequest}, "", "", "The connection to the robot was lost");

        // The drive panel: any mouse button presses and releases; the release belongs to the
        // button that got the press; a cancelled press stops once.
        row("FWD", kInit, "press:btnFwd release:btnFwd", {kFwd, kStop});
        row("BCK", kInit, "press:btnBack release:btnBack", {kBack, kStop});
        row("LFT", kInit, "press:btnLeft release:btnLeft", {kLeft, kStop});
        row("RGT, middle button", kInit, "press:btnRight:middle release:btnRight:middle",
            {kRight, kStop});
        row("FWD, right button", kInit, "press:btnFwd:right release:btnFwd:right", {kFwd, kStop});
        row("release off the button", kInit,
            "press:btnFwd release:btnBack press:btnLeft release:rtbWexbin",
            {kFwd, kStop, kLeft, kStop});
        row("double click presses twice", kInit, "dclick:btnBack", {kBack, kStop, kBack, kStop});
        row("two mouse buttons held", kInit,
            "press:btnFwd press:btnFwd:right release:btnFwd:right release:btnFwd",
            {kFwd, kFwd, kStop, kStop});
        row("keyboard writes nothing", kInit, "keys:btnFwd", {});
        row("sensor stop while held", kLive + " press:btnFwd", "pkt:0=2 release:btnFwd",
            {kStop, kStop}, "Bump Left", "labelBumpLeft");
        const QString held = kInit + " press:btnFwd press:btnFwd:right";
        row("cancelled: window deactivated", held, "deactivate disable:frameDrive", {kStop});
        row("cancelled: panel disabled", held, "disable:frameDrive deactivate", {kStop});
        row("cancelled: button disabled", held, "disable:btnFwd deactivate", {kStop});
        row("cancelled: button hidden", held, "hide:btnFwd deactivate", {kStop});
        row("cancelled: panel hidden", held, "hide:frameDrive deactivate", {kStop});

        // Every way the port closes: a press still held gets its stop first, while it can.
        row("Disconnect with a press held", kInit + " press:btnLeft", "port", {kStop, "close"});
        row("Exit with a press held", kInit + " press:btnFwd", "exit",
            {kStop, "write 128", "close"});
        row("close box with a press held, live data on", kLive + " press:btnBack", "close",
            {kStop, "write 128", "close"});
        row("device lost with a press held: nothing can be written", kInit + " press:btnRight",
            "unplug", {"lost"}, "", "", "The connection to the robot was lost");

        // The live view: a stop for each stop condition, the indicators, the report.
        row("bump right", kLive, "pkt:0=1", {kStop}, "Bump Right", "labelBumpRight");
        row("both bumpers", kLive, "pkt:0=3", {kStop, kStop}, "Bump Right",
            "labelBumpLeft labelBumpRight");
        row("left cliff", kLive, "pkt:2=1", {kStop}, "Left Cliff");
        row("right wheel overcurrent", kLive, "pkt:7=8", {kStop}, "RightWheel Overcurrent");
        row("left wheel overcurrent", kLive, "pkt:7=16", {kStop}, "LeftWheel Overcurrent");
        row("wheel drops stop nothing", kLive, "pkt:0=28", {}, "Wheeldrop Right",
            "labelWheeldropLeft labelCaster labelWheeldropRight");
        // Exactly 26 waiting for a request still open, else nothing happens.
        row("on and off before the first tick", kInit, "live live", {});
        row("answer after switching off", kLive, "live pkt:0=1", {});
        row("second answer for one request", kLive + " pkt:9=7", "pkt:0=3", {},
            "Right Dirt Sensor = 7");
        // A tick that beat the reading of an answer: the late answer and the newer request's own
        // are both decoded, so neither's stop is lost; no more than the last two requests count.
        row("late answer, then the newer request's", kLive, "tick pkt:0=1 pkt:0=2",
            {kRequest, kStop, kStop}, "Bump Left", "labelBumpLeft labelBumpRight");
        row("three answers for the last two requests", kLive, "tick tick pkt:8=1 pkt:8=2 pkt:8=3",
            {kRequest, kRequest}, "Left Dirt Sensor = 2");
        row("27 bytes", kLive, "pkt27:0=1", {});
        row("split 10 + 16", kLive, "split:10:0=1", {});
        row("split 25 + 1", kLive, "split:25:0=1", {});
        row("adapter reply", kLive, "ok", {});
        // Bytes no robot sends are out of step: no report, no stop, no indicator.
        row("stray bytes, then an answer at a line's pace", kLive,
            "strayq:3 piece:0:23 piece:23:26 tick pkt:0=2", {kRequest, kStop}, "Bump Left",
            "labelBumpLeft");
        row("a bumped packet with no charging state", kLive, "pkt:0=1,16=6", {});
        row("a bumped packet with no battery voltage", kLive, "pkt:0=1,17=0,18=0", {});
        row("no reply is cut off while no lines were written", kLive, "okq pkt:0=1", {});
        // Adapter lines written since the request before: whole replies in front of an answer
        // are cut off and the answer behind them decoded, its stop first.
        const QString wexLive = "wexbin connect safe live tick on pulse";
        row("reply before a whole answer", wexLive, "okq pkt:0=1", {kStop}, "Bump Right",
            "labelBumpRight");
        row("reply plus a split answer", wexLive, "okq split:10:0=1", {kStop}, "Bump Right",
            "labelBumpRight");
        row("reply plus an answer a byte at a time", wexLive,
            "okq pieceq:0:21 piece:21:22 piece:22:26", {}, "Distance = 0");
        row("every reply the adapter has", wexLive, "okq replyq:ERROR replyq:NO_CARRIER pkt:0=2",
            {kStop}, "Bump Left", "labelBumpLeft");
        row("reply to lines written before the request", wexLive, "tick okq pkt:7=8",
            {kRequest, kStop}, "RightWheel Overcurrent");
        row("a reply behind the answer stays for the next discard", wexLive, "pkt:0=1 ok tick",
            {kStop, kRequest}, "Bump Right");
        row("more than a reply and an answer", wexLive, "okq pkt27:0=1", {});
        row("a broken reply is not cut", wexLive, "replyq:OX pkt:0=1", {});
        row("replies before the first poll are discarded", "wexbin connect on",
            "ok ok ok ok ok safe live tick pkt:0=1", {"write 128 130", kRequest, kStop},
            "Bump Right", "labelBumpRight");
        row("a byte left from 27 does not offset the next answer", kLive, "pkt27:0=2 tick pkt:0=1",
            {kRequest, kStop}, "Bump Right", "labelBumpRight");
        row("the box holds only the last report", kLive, "pkt:11=4 tick pkt:11=8", {kRequest},
            "Power button pressed");
        row("disconnect with the view on", kLive + " pkt:0=2", "port tick tick", {"close"}, "",
            "labelBumpLeft");
        row("reconnect with the view on", kLive + " port", "port tick pkt:0=1",
            {kOpen, "rts 0", kRequest, kStop}, "Bump Right", "labelBumpRight");

        // progEnd, by Exit or the close box: the Start byte last, and nothing after the end.
        row("Exit, port closed", "", "exit", {});
        row("close box, port open", kInit, "close", {"write 128", "close"});
        row("Exit with live data", kLive + " pkt:0=1", "exit tick close", {"write 128", "close"});
        row("close box after a disconnect with the view on", "dallop connect safe live port",
            "close tick", {});
    }
    void portTraffic()
    {
        QFETCH(QString, setup);
        QFETCH(QString, steps);
        QFETCH(QStringList, log);
        QFETCH(QString, report);
        QFETCH(QString, indicators);
        QFETCH(QString, message);
        Console c;
        c.run(setup);
        c.port->clearRecord();
        QSignalSpy ended(c.window.get(), &FrmMain::programEnded);

        c.run(steps);

        QCOMPARE(c.port->log(), log);
        QCOMPARE(c.report().section('\n', 0, 0), report);
        QCOMPARE(c.indicators(), indicators);
        const QStringList shown = c.messages();
        QCOMPARE(shown.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            QVERIFY2(shown[0].contains(message), qPrintable(shown[0]));
        QCOMPARE(ended.count(), c.window->isVisible() ? 0 : 1);
        // Leave no mouse button down for the next row.
        QTest::mouseRelease(c.window->windowHandle(), Qt::LeftButton, {}, QPoint(1, 1));
        QTest::mouseRelease(c.window->windowHandle(), Qt::RightButton, {}, QPoint(1, 1));
    }

    void rawByte_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1: nothing written, a message instead
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("255") << "255" << 255;
        QTest::newRow("blanks around") << "  137 " << 137;
        QTest::newRow("256") << "256" << -1;
        QTest::newRow("-1") << "-1" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("two numbers") << "128 130" << -1;
        QTest::newRow("fraction") << "1.5" << -1;
        QTest::newRow("hex") << "0x80" << -1;
        QTest::newRow("beyond 32 bits") << "4294967424" << -1;
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661\u0662") << -1;
    }
    void rawByte()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        Console c;
        c.connectPort();
        c.port->clearRecord();
        c.type("txtSCI", text);
        c.click("btnSend");
        c.click("btnSend");
        if (expected < 0) {
            QVERIFY(c.port->writes().isEmpty());
            QVERIFY(!c.messages().isEmpty() && c.messages()[0].contains("0 to 255"));
        } else {
            QCOMPARE(c.port->writes(),
                     QList<QByteArray>(2, QByteArray(1, static_cast<char>(expected))));
            QVERIFY(c.messages().isEmpty());
        }
        QCOMPARE(c.get<QLineEdit>("txtSCI")->text(), text);
    }

    // The stops go out inside the decoding walk, before any label or the report changes; the
    // labels are shown after the walk, in the walk's order.
    void stopsGoOutBeforeAnythingChanges_data()
    {
        QTest::addColumn<QString>("packet");
        QTest::addColumn<int>("stops");
        QTest::addColumn<QStringList>("shown"); // labels made visible, in order
        QTest::newRow("bumps and wheel drops")
            << "pkt:0=31" << 2
            << QStringList{"labelBumpRight", "labelBumpLeft", "labelWheeldropRight",
                           "labelWheeldropLeft", "labelCaster"};
        QTest::newRow("eight stop conditions") << "pkt:0=3,2=1,3=1,4=1,5=1,7=24" << 8
                                               << QStringList{"labelBumpRight", "labelBumpLeft"};
    }
    void stopsGoOutBeforeAnythingChanges()
    {
        QFETCH(QString, packet);
        QFETCH(int, stops);
        QFETCH(QStringList, shown);
        Console c;
        c.run(kLive);
        c.port->clearRecord();
        QStringList seen; // at each write: what was visible and the report's first line
        c.port->setWriteWatcher([&](const QByteArray &bytes) {
            seen << velmora::link::byteText(bytes) + " [" + c.indicators() + "] [" +
                        c.report().section('\n', 0, 0) + "]";
        });
        VisibilityLog changes(c);
        int reportChanges = 0;
        QObject::connect(c.get<QTextEdit>("rtbWexbin"), &QTextEdit::textChanged, c.window.get(),
                         [&] {
                             ++reportChanges;
                             QCOMPARE(c.port->writes().size(), stops);
                             QCOMPARE(changes.log.size(), shown.size());
                         });

        c.run(packet);

        QCOMPARE(seen, QStringList(stops, "137 0 0 0 0 [] []"));
        QStringList expected;
        for (const QString &name : shown)
            expected << "show " + name;
        QCOMPARE(changes.log, expected);
        QCOMPARE(reportChanges, 1);
        QCOMPARE(c.window->sensorPollActive(), 0);
    }

    // A poll sets up the port and writes its request before it hides the labels.
    void pollWritesThenHidesTheIndicatorsInOrder()
    {
        Console c;
        c.run(kLive + " pkt:0=31");
        const QString all =
            "labelBumpLeft labelWheeldropLeft labelCaster labelWheeldropRight labelBumpRight";
        QCOMPARE(c.indicators(), all);
        c.port->setInputLen(0);
        c.port->setRThreshold(0);
        c.port->injectQuietly("OK\r\n");
        c.port->clearRecord();
        QStringList seen;
        c.port->setWriteWatcher([&](const QByteArray &bytes) {
            seen << QStringLiteral("%1 [%2] %3 %4 %5 %6")
                        .arg(velmora::link::byteText(bytes), c.indicators())
                        .arg(c.window->sensorPollActive())
                        .arg(c.port->inputLen())
                        .arg(c.port->rThreshold())
                        .arg(c.port->inBufferCount());
        });

        c.run("tick");

        QCOMPARE(seen, QStringList{"142 0 [" + all + "] 1 26 1 0"});
        QCOMPARE(c.indicators(), "");
    }

    // Dropped by its owner without progEnd: the port closes with the window.
    // With the bumper held, "On" and "Set Name" while the view runs: the adapter's replies come
    // in ahead of the next answers, and every bumped answer still writes its stop.
    void adapterRepliesCostNoStops()
    {
        Console c;
        c.run("wexbin connect safe live");
        int stops = 0;
        for (int round = 0; round < 10; ++round) {
            c.run("tick");
            if (round % 2 == 0) {
                c.run("on pulse");
            } else {
                c.run("cn");
                auto *dialog = c.window->findChild<QWidget *>("frmBTName");
                dialog->findChild<QLineEdit *>("txtBTName")->setText("Robo");
                QTest::mouseClick(dialog->findChild<QPushButton *>("cmdSetName"), Qt::LeftButton);
            }
            // The replies of this round's lines (five or three) ahead of the answer.
            c.run(round % 2 == 0 ? "okq okq okq okq okq" : "okq okq okq");
            c.port->clearRecord();
            c.run("pkt:0=1");
            stops += static_cast<int>(c.port->log().count(kStop));
        }
        qInfo("stops written for 10 bumped answers: %d", stops);
        QCOMPARE(stops, 10);
    }

    // The robot's documentation holds its wake-up line low for about 500 ms; back-to-back sets
    // last microseconds and wake no real robot.
    void wakePulseIsHeld_data()
    {
        QTest::addColumn<QString>("adapter");
        QTest::newRow("wired") << "krennet";
        QTest::newRow("Wexbin") << "wexbin";
    }
    void wakePulseIsHeld()
    {
        QFETCH(QString, adapter);
        Console c;
        c.run(adapter + " connect on");
        QVERIFY(c.wakeClock->pending());
        QCOMPARE(c.wakeClock->ms(), 500);
    }

    void windowDestroyed_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("a button held") << kInit + " press:btnRight" << QStringList{kStop};
        QTest::newRow("none held") << kLive << QStringList{};
    }
    void windowDestroyed()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, written);
        Console c;
        c.run(setup);
        QStringList seen;
        c.port->setWriteWatcher([&seen](const QByteArray &bytes) {
            seen << "write " + velmora::link::byteText(bytes);
        });
        c.window.reset(); // the port goes with it; no handler may run on the half-destroyed window
        QCOMPARE(seen, written);
    }
};

QTEST_MAIN(TestHandlers)
#include "tst_handlers.moc"
