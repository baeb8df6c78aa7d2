// The console's control states, start-up, connecting and its refusals, device loss and shutdown.

#include "consoletest.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

using velmora::console::ConsoleState;
using velmora::link::PortChoice;
using velmora::test::Console;

namespace
{

const QStringList kWidgets{"frameWireless", "txtPort", "txtPortNum", "Label1",        "btnPort",
                           "frameDrive",    "btnFwd",  "btnBack",    "btnLeft",       "btnRight",
                           "frameClean",    "btnSpot", "btnClean",   "btnMax",        "framePower",
                           "btnOn",         "btnOff",  "btnSafe",    "GetSensorData", "frameData",
                           "txtSCI",        "btnSend", "WexbinIO",   "rtbWexbin"};
const QStringList kItems{"mnuFileKrennet", "mnuFileDallop", "mnuFileWexbin",
                         "mnuFileExit",    "mnuEditCN",     "mnuHelpAbout"};

// The panel each control sits in, as the layout gives it.
QString panelOf(const QString &control)
{
    static const QHash<QString, QString> panels{
        {"txtPort", "frameWireless"},    {"txtPortNum", "frameWireless"},
        {"Label1", "frameWireless"},     {"btnPort", "frameWireless"},
        {"btnFwd", "frameDrive"},        {"btnBack", "frameDrive"},
        {"btnLeft", "frameDrive"},       {"btnRight", "frameDrive"},
        {"btnSpot", "frameClean"},       {"btnClean", "frameClean"},
        {"btnMax", "frameClean"},        {"btnOn", "framePower"},
        {"btnOff", "framePower"},        {"btnSafe", "framePower"},
        {"GetSensorData", "framePower"}, {"txtSCI", "frameData"},
        {"btnSend", "frameData"},        {"rtbWexbin", "WexbinIO"}};
    return panels.value(control);
}

// The console's states: the controls whose own enabled flag is off, and btnPort's caption.
struct StateLook {
    ConsoleState state;
    QString ownOff;
    QString portCaption;
};
StateLook lookOf(const QString &state)
{
    const QString allOff = "frameDrive btnFwd btnBack btnLeft btnRight frameClean btnSpot btnClean "
                           "btnMax framePower btnSafe GetSensorData frameData";
    const QString connectedOff = "frameDrive btnFwd btnBack btnLeft btnRight btnSpot btnClean "
                                 "btnMax GetSensorData mnuFileKrennet mnuFileDallop mnuFileWexbin";
    const QString runningOff = "mnuFileKrennet mnuFileDallop mnuFileWexbin";
    static const QHash<QString, StateLook> looks{
        {"Start-up", {ConsoleState::StartUp, allOff, "Connect"}},
        {"Adapter chosen", {ConsoleState::AdapterChosen, allOff, "Connect"}},
        {"Connected", {ConsoleState::Connected, connectedOff, "Disconnect"}},
        {"Robot initialised", {ConsoleState::RobotInitialised, runningOff, "Disconnect"}},
        {"Live data", {ConsoleState::LiveData, runningOff, "Disconnect"}},
        {"Disconnected", {ConsoleState::Disconnected, allOff, "Connect"}}};
    if (!looks.contains(state))
        qFatal("no state %s", qPrintable(state));
    return looks.value(state);
}

QHash<QString, bool> ownFlags(const Console &c)
{
    QHash<QString, bool> flags;
    for (const QString &name : kWidgets)
        flags[name] = !c.get(name.toLatin1())->testAttribute(Qt::WA_ForceDisabled);
    for (const QString &name : kItems)
        flags[name] = c.action(name.toLatin1())->isEnabled();
    return flags;
}

} // namespace

class TestStates : public QObject
{
    Q_OBJECT
private slots:
    void stateTable_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("live"); // the view's caption and timer
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("indicators");
        QTest::addColumn<bool>("report"); // rtbWexbin shows a report

        const QString bump = " tick pkt:0=1";
        const QString bumped = "dallop connect safe live" + bump;
        auto row = [](const char *name, const QString &steps, const char *state, bool live,
                      const char *checked, const char *indicators = "", bool report = false) {
            QTest::newRow(name) << steps << state << live << checked << indicators << report;
        };
        row("start-up", "", "Start-up", false, "");
        row("adapter chosen", "dallop", "Adapter chosen", false, "mnuFileDallop");
        row("adapter chosen again", "dallop krennet wexbin krennet", "Adapter chosen", false,
            "mnuFileKrennet");
        row("connected", "wexbin connect", "Connected", false, "mnuFileWexbin");
        row("safe mode refused by the port", "wexbin connect fail:No. safe", "Connected", false,
            "mnuFileWexbin");
        row("robot initialised", "dallop connect safe", "Robot initialised", false,
            "mnuFileDallop");
        row("safe mode twice", "dallop connect safe safe", "Robot initialised", false,
            "mnuFileDallop");
        row("cleaning and power buttons change nothing",
            "dallop connect safe spot clean max off on", "Robot initialised", false,
            "mnuFileDallop");
        row("live data", "dallop connect safe live", "Live data", true, "mnuFileDallop");
        row("live data with a bump", bumped, "Live data", true, "mnuFileDallop", "labelBumpRight",
            true);
        row("live data stopped", bumped + " live", "Robot initialised", false, "mnuFileDallop",
            "labelBumpRight");
        row("safe mode during live data", bumped + " safe", "Live data", true, "mnuFileDallop",
            "labelBumpRight", true);
        row("disconnected", "dallop connect port", "Disconnected", false, "mnuFileDallop");
        row("disconnected from robot initialised", "dallop connect safe port", "Disconnected",
            false, "mnuFileDallop");
        row("disconnected from live data", bumped + " port", "Disconnected", true, "mnuFileDallop",
            "labelBumpRight");
        row("device lost during live data", bumped + " unplug", "Disconnected", true,
            "mnuFileDallop", "labelBumpRight");
        row("disconnected, other adapter", "dallop connect port wexbin", "Disconnected", false,
            "mnuFileWexbin");
        row("reconnected", "dallop connect safe port port", "Connected", false, "mnuFileDallop");
        row("reconnected with live data on", "dallop connect safe live port port", "Connected",
            true, "mnuFileDallop");
        row("live data again through safe mode", "dallop connect safe live port port safe",
            "Live data", true, "mnuFileDallop");
    }
    void stateTable()
    {
        QFETCH(QString, steps);
        QFETCH(QString, state);
        QFETCH(bool, live);
        QFETCH(QString, checked);
        QFETCH(QString, indicators);
        QFETCH(bool, report);
        const StateLook look = lookOf(state);

        Console c;
        c.run(steps);
        QCOMPARE(c.messages().size(), steps.contains("unplug") || steps.contains("fail") ? 1 : 0);
        QCOMPARE(c.window->consoleState(), look.state);

        const QStringList off = look.ownOff.split(' ', Qt::SkipEmptyParts);
        for (const QString &name : kWidgets) {
            QWidget *w = c.get(name.toLatin1());
            const bool own = !off.contains(name);
            const QString panel = panelOf(name);
            const bool effective = own && (panel.isEmpty() || !off.contains(panel));
            QVERIFY2(!w->testAttribute(Qt::WA_ForceDisabled) == own,
                     qPrintable(name + " own flag"));
            QVERIFY2(w->isEnabled() == effective, qPrintable(name + " effective state"));
            QVERIFY2(w->isVisible(), qPrintable(name + " visible"));
        }
        for (const QString &name : kItems) {
            QAction *item = c.action(name.toLatin1());
            QVERIFY2(item->isEnabled() == !off.contains(name), qPrintable(name + " enabled"));
            QVERIFY2(item->isChecked() == (name == checked), qPrintable(name + " check mark"));
        }
        QCOMPARE(c.indicators(), indicators);
        QCOMPARE(!c.report().isEmpty(), report);

        QCOMPARE(c.button("btnPort")->text(), look.portCaption);
        QCOMPARE(c.button("GetSensorData")->text(),
                 live ? "Stop Live Sensor Data" : "Start Live Sensor Data");
        QCOMPARE(c.timer()->isActive(), live);
        QCOMPARE(c.timer()->interval(), steps.contains("live") ? 250 : 1000);
        QCOMPARE(c.timer()->timerType(), Qt::PreciseTimer);
        QCOMPARE(c.port->portOpen(), look.portCaption == "Disconnect");
        QCOMPARE(static_cast<int>(c.window->adapterKind()),
                 checked.isEmpty() ? 0 : (checked == "mnuFileWexbin" ? 2 : 1));
    }

    void startUpAndTabOrder()
    {
        Console c;
        QCOMPARE(c.get<QLineEdit>("txtPort")->text(), "57600,n,8,1");
        QVERIFY(c.get<QLineEdit>("txtPortNum")->text().isEmpty());
        QCOMPARE(c.port->rtsEnable(), false);
        QVERIFY(c.port->log().isEmpty());
        QCOMPARE(c.window->centralWidget()->size(), QSize(578, 278));
        QCOMPARE(c.window->windowTitle(), "Velmora");

        QStringList order;
        QWidget *w = c.get("btnFwd");
        do {
            if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty() &&
                !w->objectName().startsWith("qt_"))
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != c.get("btnFwd"));
        QCOMPARE(order,
                 (QStringList{"btnFwd", "btnRight", "btnBack", "btnLeft", "btnSpot", "btnClean",
                              "btnMax", "txtPort", "btnPort", "btnOn", "btnOff", "btnSend",
                              "txtSCI", "txtPortNum", "rtbWexbin", "btnSafe", "GetSensorData"}));
    }

    void connectRefusals_data()
    {
        QTest::addColumn<QString>("adapter");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("openFailure");
        QTest::addColumn<QString>("message"); // part of it

        const QString settings = "57600,n,8,1";
        QTest::newRow("no product, no number") << ""
                                               << "" << settings << ""
                                               << "Please select a product from the File menu.";
        QTest::newRow("no product") << ""
                                    << "3" << settings << ""
                                    << "Please select a product from the File menu.";
        QTest::newRow("no number") << "mnuFileDallop"
                                   << "" << settings << ""
                                   << "Please enter a Comm Port number.";
        QTest::newRow("blanks") << "mnuFileDallop"
                                << "  " << settings << ""
                                << "is not a port number";
        QTest::newRow("letters") << "mnuFileKrennet"
                                 << "com3" << settings << ""
                                 << "is not a port number";
        QTest::newRow("fraction") << "mnuFileKrennet"
                                  << "3.5" << settings << ""
                                  << "is not a port number";
        QTest::newRow("above 16 bits") << "mnuFileKrennet"
                                       << "32768" << settings << ""
                                       << "is not a port number";
        QTest::newRow("below 16 bits") << "mnuFileKrennet"
                                       << "-32769" << settings << ""
                                       << "is not a port number";
        QTest::newRow("zero") << "mnuFileWexbin"
                              << "0" << settings << ""
                              << "port numbers start at 1";
        QTest::newRow("negative") << "mnuFileWexbin"
                                  << "-4" << settings << ""
                                  << "port numbers start at 1";
        QTest::newRow("parity") << "mnuFileWexbin"
                                << "3"
                                << "57600,x,8,1"
                                << ""
                                << "parity \"x\"";
        QTest::newRow("baud not a number") << "mnuFileWexbin"
                                           << "3"
                                           << "fast,n,8,1"
                                           << ""
                                           << "baud rate \"fast\"";
        QTest::newRow("baud zero") << "mnuFileWexbin"
                                   << "3"
                                   << "0,n,8,1"
                                   << ""
                                   << "baud rate \"0\"";
        QTest::newRow("baud negative") << "mnuFileWexbin"
                                       << "3"
                                       << "-9600,n,8,1"
                                       << ""
                                       << "baud rate \"-9600\"";
        QTest::newRow("data bits") << "mnuFileWexbin"
                                   << "3"
                                   << "57600,n,9,1"
                                   << ""
                                   << "data bits \"9\"";
        QTest::newRow("stop bits") << "mnuFileWexbin"
                                   << "3"
                                   << "57600,n,8,3"
                                   << ""
                                   << "stop bits \"3\"";
        QTest::newRow("five fields") << "mnuFileWexbin"
                                     << "3"
                                     << "57600,n,8,1,1"
                                     << ""
                                     << "four fields";
        QTest::newRow("settings refused before a bad number") << "mnuFileWexbin"
                                                              << "x"
                                                              << "fast"
                                                              << ""
                                                              << "four fields";
        QTest::newRow("busy") << "mnuFileDallop"
                              << "3" << settings << "Port 3 is in use by another program."
                              << "Port 3 is in use by another program.";
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
        const auto before = ownFlags(c);
        c.port->clearRecord();

        c.click("btnPort");

        // One box, shown without a nested event loop: the click has returned while it is up.
        const auto boxes = c.window->findChildren<QMessageBox *>();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0]->isVisible());
        QVERIFY2(boxes[0]->text().contains(message), qPrintable(boxes[0]->text()));
        QCOMPARE(boxes[0]->windowTitle(), "Velmora");
        QCOMPARE(boxes[0]->icon(), QMessageBox::NoIcon);
        QCOMPARE(boxes[0]->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!c.port->portOpen());
        QCOMPARE(c.port->openCount(), 0);
        QVERIFY(c.port->writes().isEmpty());
        QCOMPARE(ownFlags(c), before);
        QCOMPARE(c.button("btnPort")->text(), "Connect");
        QCOMPARE(c.get<QLineEdit>("txtPortNum")->text(), number);

        // Once the operator fixes the input, the same click connects.
        c.dismissMessages();
        QVERIFY(c.window->findChildren<QMessageBox *>().isEmpty());
        c.run("dallop");
        c.type("txtPortNum", " 7 ");
        c.type("txtPort", "57600,n,8,1");
        c.click("btnPort");
        QVERIFY(c.messages().isEmpty());
        QCOMPARE(c.port->log().first(), "open 7 57600,n,8,1");
    }

    void aboutIsOneWindowHiddenByOk()
    {
        Console c;
        c.run("about about");
        const auto abouts = c.window->findChildren<QWidget *>("frmAbout");
        QCOMPARE(abouts.size(), 1);
        QWidget *about = abouts.first();
        QVERIFY(about->isVisible());
        QCOMPARE(about->windowTitle(), "About Velmora");
        QCOMPARE(about->size(), QSize(312, 156));
        QVERIFY(!c.window->windowIcon().availableSizes().isEmpty());
        QCOMPARE(about->windowIcon().cacheKey(), c.window->windowIcon().cacheKey());
        const QString disclaimer = about->findChild<QLabel *>("Label2")->text();
        // Two blanks after each full stop inside the text, none at its end.
        QVERIFY(disclaimer.count(". ") >= 1);
        QCOMPARE(disclaimer.count(". "), disclaimer.count(".  "));
        QVERIFY(!disclaimer.contains(".   "));
        QVERIFY(!disclaimer.endsWith(' '));
        QTest::mouseClick(about->findChild<QPushButton *>("Command1"), Qt::LeftButton);
        QVERIFY(!about->isVisible());
        QVERIFY(c.window->isVisible());
        c.run("about");
        QCOMPARE(c.window->findChildren<QWidget *>("frmAbout"), abouts);
        QVERIFY(about->isVisible());
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
