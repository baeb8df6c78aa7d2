// The console's control states, start-up, connecting and its refusals, device loss and shutdown.

#include "consoletest.h"

#include <QPushButton>

using velmora::console::ConsoleState;
using velmora::link::PortChoice;
using velmora::test::Console;

namespace
{

// What the operator can use in each state: the Comm. Panel always, and as the state allows.
QStringList usableIn(ConsoleState state)
{
    const QString comm = "txtPort txtPortNum btnPort ";
    const QString connected = comm + "btnOn btnOff btnSafe txtSCI btnSend";
    switch (state) {
    case ConsoleState::Connected:
        return connected.split(' ');
    case ConsoleState::RobotInitialised:
    case ConsoleState::LiveData:
        return (connected +
                " btnFwd btnBack btnLeft btnRight btnSpot btnClean btnMax GetSensorData")
            .split(' ');
    default: {
        QStringList names = comm.split(' ', Qt::SkipEmptyParts);
        for (const velmora::link::AdapterProduct &product : velmora::link::kAdapters)
            names << QLatin1String(product.objectName);
        return names;
    }
    }
}

} // namespace

class TestStates : public QObject
{
    Q_OBJECT
private slots:
    void stateTable_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<ConsoleState>("state");
        QTest::addColumn<bool>("live"); // the view's caption and timer
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("indicators");
        QTest::addColumn<bool>("report"); // rtbWexbin shows a report

        const QString bumped = "dallop connect safe live tick pkt:0=1";
        auto row = [](const char *name, const QString &steps, ConsoleState state, bool live,
                      const char *checked, const char *indicators = "", bool report = false) {
            QTest::newRow(name) << steps << state << live << checked << indicators << report;
        };
        using enum ConsoleState;
        row("start-up", "", StartUp, false, "");
        row("adapter chosen again", "dallop krennet wexbin krennet", AdapterChosen, false,
            "mnuFileKrennet");
        row("connected", "wexbin connect", Connected, false, "mnuFileWexbin");
        row("safe mode refused by the port", "wexbin connect fail:No. safe", Connected, false,
            "mnuFileWexbin");
        row("robot initialised; power and cleaning change nothing",
            "dallop connect safe safe spot clean max off on", RobotInitialised, false,
            "mnuFileDallop");
        row("live data with a bump", bumped, LiveData, true, "mnuFileDallop", "labelBumpRight",
            true);
        row("live data stopped", bumped + " live", RobotInitialised, false, "mnuFileDallop",
            "labelBumpRight");
        row("safe mode during live data", bumped + " safe", LiveData, true, "mnuFileDallop",
            "labelBumpRight", true);
        row("disconnected from live data", bumped + " port", Disconnected, true, "mnuFileDallop",
            "labelBumpRight");
        row("device lost during live data", bumped + " unplug", Disconnected, true, "mnuFileDallop",
            "labelBumpRight");
        row("disconnected, other adapter", "dallop connect port wexbin", Disconnected, false,
            "mnuFileWexbin");
        row("reconnected with live data on", "dallop connect safe live port port", Connected, true,
            "mnuFileDallop");
        row("live data again through safe mode", "dallop connect safe live port port safe",
            LiveData, true, "mnuFileDallop");
    }
    void stateTable()
    {
        QFETCH(QString, steps);
        QFETCH(ConsoleState, state);
        QFETCH(bool, live);
        QFETCH(QString, checked);
        QFETCH(QString, indicators);
        QFETCH(bool, report);

        Console c;
        c.run(steps);
        QCOMPARE(c.messages().size(), steps.contains("unplug") || steps.contains("fail") ? 1 : 0);
        QCOMPARE(c.window->consoleState(), state);
        const QStringList usable = usableIn(state);
        for (const QString &name :
             usableIn(ConsoleState::LiveData) + usableIn(ConsoleState::StartUp)) {
            QAction *item = c.window->findChild<QAction *>(name);
            const bool enabled = item ? item->isEnabled() : c.get(name.toLatin1())->isEnabled();
            QVERIFY2(enabled == usable.contains(name), qPrintable(name));
            if (item)
                QVERIFY2(item->isChecked() == (name == checked), qPrintable(name + " check mark"));
        }
        QCOMPARE(c.indicators(), indicators);
        QCOMPARE(!c.report().isEmpty(), report);
        const bool open = state == ConsoleState::Connected || usable.contains("btnFwd");
        QCOMPARE(c.port->portOpen(), open);
        QCOMPARE(c.button("btnPort")->text(), open ? "Disconnect" : "Connect");
        QCOMPARE(c.button("GetSensorData")->text(),
                 live ? "Stop Live Sensor Data" : "Start Live Sensor Data");
        QCOMPARE(c.timer()->isActive(), live);
        if (live)
            QCOMPARE(c.timer()->interval(), 250);
    }

    // A refused Connect says why in one box and changes nothing; the same click connects once
    // the input is mended.
    void connectRefusals_data()
    {
        QTest::addColumn<QString>("adapter");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("openFailure");
        QTest::addColumn<QString>("message"); // part of it

        const QString settings = "57600,n,8,1";
        auto row = [&](const char *name, const char *adapter, const char *number,
                       const QString &text, const char *failure, const char *message) {
            QTest::newRow(name) << adapter << number << text << failure << message;
        };
        row("no product", "", "3", settings, "", "select a product from the File menu");
        row("no number", "mnuFileDallop", "", settings, "", "enter a Comm Port number");
        row("not a number", "mnuFileKrennet", "com3", settings, "", "is not a port number");
        row("zero", "mnuFileWexbin", "0", settings, "", "port numbers start at 1");
        row("parity", "mnuFileWexbin", "3", "57600,x,8,1", "", "parity \"x\"");
        row("busy", "mnuFileDallop", "3", settings, "Port 3 is in use.", "Port 3 is in use.");
    }
    void connectRefusals()
    {
        QFETCH(QString, adapter);
        QFETCH(QString, number);
        QFETCH(QString, settings);
        QFETCH(QString, openFailure);
        QFETCH(QString, message);

        Console c;
        if (!adapter.isEmpty())
            c.action(adapter.toLatin1())->trigger();
        c.type("txtPortNum", number);
        c.type("txtPort", settings);
        if (!openFailure.isEmpty())
            c.port->failNextOpen(openFailure);
        const ConsoleState before = c.window->consoleState();
        c.click("btnPort");

        // One box, shown without a nested event loop: the click has returned while it is up.
        const auto boxes = c.window->findChildren<QMessageBox *>();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0]->isVisible() && boxes[0]->text().contains(message),
                 qPrintable(boxes[0]->text()));
        QVERIFY(!c.port->portOpen());
        QCOMPARE(c.window->consoleState(), before);

        c.dismissMessages();
        c.run("dallop");
        c.type("txtPortNum", " 7 ");
        c.type("txtPort", "57600,n,8,1");
        c.click("btnPort");
        QVERIFY(c.messages().isEmpty());
        QVERIFY(c.port->log().contains("open 7 57600,n,8,1"));
    }

    void portTooltipListsThePorts()
    {
        Console c;
        QList<PortChoice> ports{{3, "/dev/ttyUSB0", "USB serial"}};
        c.window->setPortLister([&] { return ports; }, "Link it as comN.");
        auto *box = c.get<QLineEdit>("txtPortNum");
        QVERIFY(box->toolTip().contains("3  /dev/ttyUSB0  (USB serial)"));
        QVERIFY(!box->toolTip().contains("Link it"));
        // Asked again whenever the pointer enters the panel.
        ports.append({0, "/dev/ttyACM0", ""});
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(c.get("frameWireless"), &enter);
        QVERIFY(box->toolTip().contains("(no number)  /dev/ttyACM0\nLink it as comN."));
        ports.clear();
        QCoreApplication::sendEvent(c.get("frameWireless"), &enter);
        QVERIFY(box->toolTip().contains("No serial ports"));
    }
};

QTEST_MAIN(TestStates)
#include "tst_states.moc"
