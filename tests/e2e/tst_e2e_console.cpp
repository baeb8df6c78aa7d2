// The console's real window and real serial port against the robot simulator on a
// pseudo-terminal: what the operator does arrives at the robot as the SCI says.

#include "../console/consoletest.h"
#include "simrobot.h"

#include "link/qtserialport.h"

#include <QLabel>
#include <QTemporaryDir>

using velmora::link::byteText;
using velmora::test::bytes;
using velmora::test::ConsoleWindow;
using velmora::test::SimRobot;
using velmora::test::TraceEntry;

namespace {

constexpr int kWait = 5000;

QStringList byteLines(const QList<TraceEntry> &entries)
{
    QStringList out;
    for (const TraceEntry &e : entries)
        out << byteText(e.bytes);
    return out;
}

int countOf(const QList<TraceEntry> &entries, const QByteArray &b)
{
    int n = 0;
    for (const TraceEntry &e : entries)
        n += e.bytes == b ? 1 : 0;
    return n;
}

// The operator's console over the real port, connected to the simulator's port.
struct Session : ConsoleWindow {
    Session() : ConsoleWindow(new velmora::link::QtSerialPort) {}
    bool connectTo(int port, const char *adapter)
    {
        connectPort(adapter, QString::number(port));
        if (!messages().isEmpty())
            qWarning() << "connect refused:" << messages();
        return button("btnPort")->text() == "Disconnect";
    }
};

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir config_;
    int nextPort_ = 21;

    std::unique_ptr<SimRobot> startSim(const QStringList &options, int *port)
    {
        *port = nextPort_++;
        auto sim = std::make_unique<SimRobot>(config_.path(), *port, options);
        QString line;
        if (!sim->waitReady(&line))
            qWarning() << line;
        return sim;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    }

    void operatorSession()
    {
        int port = 0;
        auto sim = startSim({}, &port);
        Session c;
        QVERIFY(c.connectTo(port, "mnuFileDallop"));
        c.click("btnSafe");
        c.mousePress("btnFwd");
        QTRY_VERIFY_WITH_TIMEOUT(countOf(sim->received(), bytes({137, 0, 255, 128, 0})) == 1, kWait);
        c.mouseRelease("btnFwd");
        c.click("btnSpot");
        c.type("txtSCI", " 131 ");
        c.click("btnSend");
        c.action("mnuFileExit")->trigger();
        QVERIFY(!c.window->isVisible());

        const QStringList expected{"128", "130", "137 0 255 128 0", "137 0 0 0 0", "134", "131", "128"};
        QTRY_COMPARE_WITH_TIMEOUT(byteLines(sim->received()), expected, kWait);
        const QList<TraceEntry> rx = sim->received();
        QCOMPARE(rx.first().meaning, "Start");
        QCOMPARE(rx.last().meaning, "Start");
        QVERIFY(c.messages().isEmpty());
    }

    void bumpStopsTheRobot()
    {
        int port = 0;
        auto sim = startSim({}, &port);
        Session c;
        QVERIFY(c.connectTo(port, "mnuFileKrennet"));
        c.click("btnSafe");
        c.click("GetSensorData");
        QTRY_VERIFY_WITH_TIMEOUT(c.report().endsWith("End Sensor Data\n"), kWait);
        QVERIFY(!c.report().contains("Bump"));
        const auto *bumpRight = c.get<QLabel>("labelBumpRight");
        QVERIFY(!bumpRight->isVisible());
        QCOMPARE(countOf(sim->received(), bytes({137, 0, 0, 0, 0})), 0);

        sim->command("bump right");
        QTRY_VERIFY_WITH_TIMEOUT(c.report().startsWith("Bump Right\n"), kWait);
        QVERIFY(bumpRight->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(countOf(sim->received(), bytes({137, 0, 0, 0, 0})) >= 1, kWait);

        sim->command("bump off");
        QTRY_VERIFY_WITH_TIMEOUT(!c.report().isEmpty() && !c.report().contains("Bump"), kWait);
        QVERIFY(!bumpRight->isVisible());
        c.window->close();
        QTRY_COMPARE_WITH_TIMEOUT(byteLines(sim->received()).last(), "128", kWait);
    }

    void splitAnswersShowLikeWholeOnes_data()
    {
        QTest::addColumn<int>("gap");
        QTest::newRow("5 ms") << 5;
        QTest::newRow("20 ms") << 20;
    }
    void splitAnswersShowLikeWholeOnes()
    {
        QFETCH(int, gap);
        int port = 0;
        auto sim = startSim({"--split", "10,16", "--gap", QString::number(gap)}, &port);
        Session c;
        QVERIFY(c.connectTo(port, "mnuFileDallop"));
        int shown = 0;
        QObject::connect(c.get<QTextEdit>("rtbWexbin"), &QTextEdit::textChanged, c.window.get(), [&] {
            shown += c.report().endsWith("End Sensor Data\n") ? 1 : 0;
        });
        c.click("btnSafe");
        c.click("GetSensorData");
        QTRY_VERIFY_WITH_TIMEOUT(shown >= 6, 10000);
        c.click("GetSensorData");

        const QList<TraceEntry> tx = sim->sent();
        QVERIFY(tx.size() >= 12);
        QCOMPARE(tx[0].bytes.size(), 10);
        QCOMPARE(tx[1].bytes.size(), 16);
        QVERIFY(tx[1].t - tx[0].t >= gap / 1000.0 * 0.9);
        // Every request but the one still in flight when the view stopped was shown.
        const int requests = countOf(sim->received(), bytes({142, 0}));
        QVERIFY2(shown >= requests - 1, qPrintable(QStringLiteral("%1 shown, %2 asked").arg(shown).arg(requests)));
    }

    void wexbinWakeUpRenameAndRecovery()
    {
        int port = 0;
        auto sim = startSim({"--asleep", "--adapter-replies"}, &port);
        Session c;
        QVERIFY(c.connectTo(port, "mnuFileWexbin"));
        c.click("btnOn");
        c.click("btnSafe");
        c.click("GetSensorData");
        // A sleeping robot answers nothing: a report means the wake-up reached it.
        QTRY_VERIFY_WITH_TIMEOUT(c.report().endsWith("End Sensor Data\n"), kWait);
        QVERIFY(countOf(sim->received(), "ATMD\r") == 1);

        int shown = 0;
        QObject::connect(c.get<QTextEdit>("rtbWexbin"), &QTextEdit::textChanged, c.window.get(), [&] {
            shown += c.report().endsWith("End Sensor Data\n") ? 1 : 0;
        });
        c.action("mnuEditCN")->trigger();
        auto *dialog = c.window->findChild<QWidget *>("frmBTName");
        QVERIFY(dialog && dialog->isVisible());
        dialog->findChild<QLineEdit *>("txtBTName")->setText("Robo 7, den");
        QTest::mouseClick(dialog->findChild<QPushButton *>("cmdSetName"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(countOf(sim->received(), "ATSN,Robo 7, den\r") == 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(countOf(sim->sent(), "OK\r\n") >= 8, kWait); // five for the wake-up, three here
        // The adapter's replies are dropped, and the next polls are shown again.
        QTRY_VERIFY_WITH_TIMEOUT(shown >= 3, kWait);
        QVERIFY(c.messages().isEmpty());
        c.action("mnuFileExit")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(byteLines(sim->received()).last(), "128", kWait);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e_console.moc"
