// The live sensor view: polling, the receive handler's 26-byte rule, the gate between request
// and answer, the stops written inside the decoding walk, and the report box.

#include "consoletest.h"

#include <QLabel>

using velmora::test::bytes;
using velmora::test::Console;
using velmora::test::packet;

namespace {

const QString kStop = "137 0 0 0 0";
const QString kRequest = "142 0";
const QStringList kIndicators{"labelBumpLeft", "labelWheeldropLeft", "labelCaster", "labelWheeldropRight",
                              "labelBumpRight"};

QStringList visibleIndicators(const Console &c)
{
    QStringList shown;
    for (const QString &name : kIndicators) {
        if (c.get(name.toLatin1())->isVisible())
            shown << name;
    }
    return shown;
}

// Records, for every change of the report box, how many writes the port had seen by then.
struct ReportWatch {
    explicit ReportWatch(const Console &c)
    {
        QObject::connect(c.get<QTextEdit>("rtbWexbin"), &QTextEdit::textChanged, c.get("rtbWexbin"),
                         [this, &c] { writesAtChange << static_cast<int>(c.port->writes().size()); });
    }
    QList<int> writesAtChange;
};

// Records the order in which widgets are hidden.
class HideLog : public QObject
{
public:
    QStringList hidden;
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() == QEvent::Hide)
            hidden << watched->objectName();
        return false;
    }
};

} // namespace

class TestLiveView : public QObject
{
    Q_OBJECT
private slots:
    void onAndOffBeforeTheFirstTickWritesNothing()
    {
        Console c;
        c.startLive();
        c.tick();
        c.port->injectReceived(packet({{0, 4}})); // wheel drop right: label on, no stop
        c.click("GetSensorData");
        c.click("GetSensorData");
        c.port->clearRecord();
        c.click("GetSensorData");
        QVERIFY(c.port->writes().isEmpty());
        QVERIFY(c.report().isEmpty());
        QCOMPARE(visibleIndicators(c), QStringList{"labelWheeldropRight"});
        QCOMPARE(c.button("GetSensorData")->text(), "Start Live Sensor Data");
        QVERIFY(!c.timer()->isActive());
    }

    void pollSetsUpThePortAndHidesTheIndicatorsInOrder()
    {
        Console c;
        c.startLive();
        QCOMPARE(c.window->sensorPollActive(), 0);
        c.tick();
        c.port->injectReceived(packet({{0, 31}}));
        QCOMPARE(visibleIndicators(c), kIndicators);
        HideLog log;
        for (const QString &name : kIndicators)
            c.get(name.toLatin1())->installEventFilter(&log);
        c.port->setInputLen(0);
        c.port->setRThreshold(0);
        c.port->clearRecord();

        c.tick();

        QCOMPARE(log.hidden, (QStringList{"labelBumpLeft", "labelBumpRight", "labelCaster", "labelWheeldropLeft",
                                          "labelWheeldropRight"}));
        QCOMPARE(c.port->inputLen(), 26);
        QCOMPARE(c.port->rThreshold(), 1);
        QCOMPARE(c.writes(), QStringList{kRequest});
        QCOMPARE(c.window->sensorPollActive(), 1);
        // The answer with nothing pressed leaves them all hidden.
        c.port->injectReceived(packet());
        QVERIFY(visibleIndicators(c).isEmpty());
        QCOMPARE(c.window->sensorPollActive(), 0);
    }

    void stopsAreWrittenBeforeTheReportIsShown_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("stops");
        QTest::addColumn<QStringList>("indicators");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("bump right") << packet({{0, 1}}) << 1 << QStringList{"labelBumpRight"} << "Bump Right";
        QTest::newRow("both bumpers") << packet({{0, 3}}) << 2 << QStringList{"labelBumpLeft", "labelBumpRight"}
                                      << "Bump Right";
        QTest::newRow("left cliff") << packet({{2, 1}}) << 1 << QStringList{} << "Left Cliff";
        QTest::newRow("front right cliff") << packet({{4, 1}}) << 1 << QStringList{} << "Front Right Cliff";
        QTest::newRow("cliff byte 2 reads as clear") << packet({{5, 2}}) << 0 << QStringList{}
                                                     << "Distance = 0";
        QTest::newRow("right wheel overcurrent") << packet({{7, 8}}) << 1 << QStringList{}
                                                 << "RightWheel Overcurrent";
        QTest::newRow("left wheel overcurrent") << packet({{7, 16}}) << 1 << QStringList{}
                                                << "LeftWheel Overcurrent";
        QTest::newRow("brush overcurrents stop nothing") << packet({{7, 7}}) << 0 << QStringList{}
                                                         << "SideBrush OverCurrent";
        QTest::newRow("wheel drops stop nothing") << packet({{0, 28}}) << 0
                                                  << QStringList{"labelWheeldropLeft", "labelCaster",
                                                                 "labelWheeldropRight"}
                                                  << "Wheeldrop Right";
        QTest::newRow("eight conditions") << packet({{0, 3}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {7, 24}}) << 8
                                          << QStringList{"labelBumpLeft", "labelBumpRight"} << "Bump Right";
    }
    void stopsAreWrittenBeforeTheReportIsShown()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, stops);
        QFETCH(QStringList, indicators);
        QFETCH(QString, firstLine);
        Console c;
        c.startLive();
        c.tick();
        c.port->clearRecord();
        ReportWatch watch(c);

        c.port->injectReceived(answer);

        QCOMPARE(c.writes(), QStringList(stops, kStop));
        QCOMPARE(watch.writesAtChange, QList<int>{stops});
        QCOMPARE(visibleIndicators(c), indicators);
        QCOMPARE(c.report().split('\n').first(), firstLine);
        QVERIFY(c.report().endsWith("\nEnd Sensor Data\n"));
    }

    void reportIsTheDecodedTextWhole()
    {
        Console c;
        c.startLive();
        c.tick();
        c.port->injectReceived(bytes({3, 0, 1, 0, 0, 0, 0, 8, 0, 7, 255, 2, 255, 246, 0, 5, 2, 62, 128, 254, 12,
                                      25, 9, 196, 10, 140}));
        QCOMPARE(c.report(), "Bump Right\nBump Left\nLeft Cliff\nRightWheel Overcurrent\nRight Dirt Sensor = 7\n"
                             "Clean button pressed\nDistance = -10\nAngle = 5\nCharging State = Charging\n"
                             "Voltage: 16000mv\nBattery Current Draw: -500\nTemperature: 25C\nCharge: 2500maH\n"
                             "Capacity: 2700maH\n\nEnd Sensor Data\n");
        QCOMPARE(c.writes().count(kStop), 4);
    }

    void theBoxHoldsOnlyTheLastReport()
    {
        Console c;
        c.startLive();
        c.tick();
        c.port->injectReceived(packet({{11, 4}}));
        QVERIFY(c.report().contains("Spot button pressed"));
        c.tick();
        c.port->injectReceived(packet({{11, 8}}));
        QVERIFY(c.report().startsWith("Power button pressed\n"));
        QVERIFY(!c.report().contains("Spot"));
        QCOMPARE(c.report().count("End Sensor Data"), 1);
    }

    void answerAfterSwitchingOffChangesNothing()
    {
        Console c;
        c.startLive();
        c.tick();
        c.click("GetSensorData");
        c.port->clearRecord();
        c.port->injectReceived(packet({{0, 1}}));
        QCOMPARE(c.port->inBufferCount(), 0); // read from the port all the same
        QVERIFY(c.report().isEmpty());
        QVERIFY(c.port->writes().isEmpty());
        QVERIFY(visibleIndicators(c).isEmpty());
        QCOMPARE(c.window->sensorPollActive(), 0);
    }

    void secondAnswerForOneRequestIsIgnored()
    {
        Console c;
        c.startLive();
        c.tick();
        c.port->injectReceived(packet({{9, 7}}));
        const QString first = c.report();
        c.port->clearRecord();
        c.port->injectReceived(packet({{0, 3}}));
        QCOMPARE(c.report(), first);
        QVERIFY(c.port->writes().isEmpty());
        QVERIFY(visibleIndicators(c).isEmpty());
    }

    void lateAnswerCountsForTheNewerRequest()
    {
        Console c;
        c.startLive();
        c.tick();
        c.tick(); // no answer came; ask again
        QCOMPARE(c.window->sensorPollActive(), 1);
        c.port->injectReceived(packet({{8, 1}}));
        QVERIFY(c.report().startsWith("Left Dirt Sensor = 1\n"));
        c.port->injectReceived(packet({{8, 2}}));
        QVERIFY(c.report().startsWith("Left Dirt Sensor = 1\n"));
    }

    void anythingButTwentySixWaitingIsDropped_data()
    {
        QTest::addColumn<QList<QByteArray>>("events"); // one receive event each
        QTest::addColumn<int>("leftWaiting");
        const QByteArray whole = packet({{0, 1}});
        QTest::newRow("27 bytes") << QList<QByteArray>{whole + QByteArray(1, '\x55')} << 1;
        QTest::newRow("25 bytes") << QList<QByteArray>{whole.left(25)} << 0;
        QTest::newRow("split 10 + 16") << QList<QByteArray>{whole.left(10), whole.mid(10)} << 0;
        QTest::newRow("split 25 + 1") << QList<QByteArray>{whole.left(25), whole.mid(25)} << 0;
        QTest::newRow("adapter reply") << QList<QByteArray>{"OK\r\n"} << 0;
    }
    void anythingButTwentySixWaitingIsDropped()
    {
        QFETCH(QList<QByteArray>, events);
        QFETCH(int, leftWaiting);
        Console c;
        c.startLive();
        c.tick();
        c.port->clearRecord();
        for (const QByteArray &e : events)
            c.port->injectReceived(e);
        QVERIFY(c.report().isEmpty());
        QVERIFY(c.port->writes().isEmpty());
        QVERIFY(visibleIndicators(c).isEmpty());
        QCOMPARE(c.port->inBufferCount(), leftWaiting);
        QCOMPARE(c.window->sensorPollActive(), 1); // still waiting for a whole answer
    }

    void staleInputIsDiscardedBeforeEachRequest()
    {
        Console c;
        c.connectPort("mnuFileWexbin");
        c.click("btnOn");
        c.port->injectReceived(QByteArray("OK\r\n").repeated(5)); // no receive event before the first poll
        c.click("btnSafe");
        c.click("GetSensorData");
        c.tick();
        c.port->injectReceived(packet({{0, 1}}));
        QVERIFY(c.report().startsWith("Bump Right\n"));

        // The byte left over from 27 does not offset the next answer.
        c.tick();
        c.port->injectReceived(packet({{0, 2}}) + QByteArray(1, '\x55'));
        QCOMPARE(c.port->inBufferCount(), 1);
        c.tick();
        c.port->injectReceived(packet({{0, 1}, {9, 3}}));
        QVERIFY(c.report().contains("Right Dirt Sensor = 3\n"));
    }

    void disconnectAndReconnectWithTheViewOn()
    {
        Console c;
        c.startLive();
        c.tick();
        c.port->injectReceived(packet({{0, 2}}));
        c.click("btnPort");
        QVERIFY(c.report().isEmpty());
        QCOMPARE(visibleIndicators(c), QStringList{"labelBumpLeft"});
        c.port->clearRecord();
        c.tick();
        c.tick();
        QVERIFY(c.port->writes().isEmpty());
        QVERIFY(c.timer()->isActive());

        c.click("btnPort");
        QVERIFY(!c.get("GetSensorData")->isEnabled());
        QCOMPARE(c.button("GetSensorData")->text(), "Stop Live Sensor Data");
        c.tick();
        QCOMPARE(c.writes(), QStringList{kRequest});
        c.port->injectReceived(packet({{0, 1}}));
        QVERIFY(c.report().startsWith("Bump Right\n"));
        QCOMPARE(c.writes(), (QStringList{kRequest, kStop}));
        QVERIFY(c.messages().isEmpty());
    }
};

QTEST_MAIN(TestLiveView)
#include "tst_liveview.moc"
