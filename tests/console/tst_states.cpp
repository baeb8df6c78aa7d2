// The console's control states, start-up, connecting and its refusals, device loss and shutdown.

#include "consoletest.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

using velmora::console::FrmMain;
using velmora::console::PortChoice;
using velmora::link::byteText;
using velmora::test::Console;
using velmora::test::packet;

namespace {

const QStringList kWidgets{"frameWireless", "txtPort",   "txtPortNum", "Label1",    "btnPort",   "frameDrive",
                           "btnFwd",        "btnBack",   "btnLeft",    "btnRight",  "frameClean", "btnSpot",
                           "btnClean",      "btnMax",    "framePower", "btnOn",     "btnOff",     "btnSafe",
                           "GetSensorData", "frameData", "txtSCI",     "btnSend",   "WexbinIO",   "rtbWexbin"};
const QStringList kItems{"mnuFileKrennet", "mnuFileDallop", "mnuFileWexbin",
                         "mnuFileExit",    "mnuEditCN",     "mnuHelpAbout"};
const QStringList kAdapterItems{"mnuFileKrennet", "mnuFileDallop", "mnuFileWexbin"};
const QStringList kIndicators{"labelBumpLeft", "labelWheeldropLeft", "labelCaster", "labelWheeldropRight",
                              "labelBumpRight"};

// The panel each control sits in, as the layout gives it.
QString panelOf(const QString &control)
{
    static const QHash<QString, QString> panels{
        {"txtPort", "frameWireless"}, {"txtPortNum", "frameWireless"}, {"Label1", "frameWireless"},
        {"btnPort", "frameWireless"}, {"btnFwd", "frameDrive"},        {"btnBack", "frameDrive"},
        {"btnLeft", "frameDrive"},    {"btnRight", "frameDrive"},      {"btnSpot", "frameClean"},
        {"btnClean", "frameClean"},   {"btnMax", "frameClean"},        {"btnOn", "framePower"},
        {"btnOff", "framePower"},     {"btnSafe", "framePower"},       {"GetSensorData", "framePower"},
        {"txtSCI", "frameData"},      {"btnSend", "frameData"},        {"rtbWexbin", "WexbinIO"}};
    return panels.value(control);
}

const QString kAllOff = "frameDrive btnFwd btnBack btnLeft btnRight frameClean btnSpot btnClean btnMax "
                        "framePower btnSafe GetSensorData frameData";
const QString kConnectedOff = "frameDrive btnFwd btnBack btnLeft btnRight btnSpot btnClean btnMax GetSensorData "
                              "mnuFileKrennet mnuFileDallop mnuFileWexbin";
const QString kRunningOff = "mnuFileKrennet mnuFileDallop mnuFileWexbin";
const QString kStart = "Start Live Sensor Data";
const QString kStop = "Stop Live Sensor Data";

// Runs the operator's steps named in a space-separated list.
void run(const Console &c, const QString &steps)
{
    for (const QString &step : steps.split(' ', Qt::SkipEmptyParts)) {
        if (step == "krennet")
            c.chooseAdapter("mnuFileKrennet");
        else if (step == "dallop")
            c.chooseAdapter("mnuFileDallop");
        else if (step == "wexbin")
            c.chooseAdapter("mnuFileWexbin");
        else if (step == "connect") {
            c.type("txtPortNum", "3");
            c.click("btnPort");
        } else if (step == "disconnect")
            c.click("btnPort");
        else if (step == "safe")
            c.click("btnSafe");
        else if (step == "live")
            c.click("GetSensorData");
        else if (step == "bump") {
            c.tick();
            c.port->injectReceived(packet({{0, 1}}));
        } else
            qFatal("unknown step %s", qPrintable(step));
    }
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
        QTest::addColumn<QString>("ownOff"); // controls whose own enabled flag is off
        QTest::addColumn<QString>("portCaption");
        QTest::addColumn<QString>("liveCaption");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<bool>("timerActive");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("reportShown");
        QTest::addColumn<QString>("visibleIndicators");

        QTest::newRow("start-up") << "" << kAllOff << "Connect" << kStart << "" << false << 1000 << false << "";
        QTest::newRow("adapter chosen") << "dallop" << kAllOff << "Connect" << kStart << "mnuFileDallop" << false
                                        << 1000 << false << "";
        QTest::newRow("adapter chosen again") << "dallop krennet wexbin krennet" << kAllOff << "Connect" << kStart
                                              << "mnuFileKrennet" << false << 1000 << false << "";
        QTest::newRow("connected") << "wexbin connect" << kConnectedOff << "Disconnect" << kStart << "mnuFileWexbin"
                                   << false << 1000 << false << "";
        QTest::newRow("robot initialised") << "dallop connect safe" << kRunningOff << "Disconnect" << kStart
                                           << "mnuFileDallop" << false << 1000 << false << "";
        QTest::newRow("safe mode twice") << "dallop connect safe safe" << kRunningOff << "Disconnect" << kStart
                                         << "mnuFileDallop" << false << 1000 << false << "";
        QTest::newRow("live data") << "dallop connect safe live" << kRunningOff << "Disconnect" << kStop
                                   << "mnuFileDallop" << true << 250 << false << "";
        QTest::newRow("live data with a bump") << "dallop connect safe live bump" << kRunningOff << "Disconnect"
                                               << kStop << "mnuFileDallop" << true << 250 << true
                                               << "labelBumpRight";
        QTest::newRow("live data stopped") << "dallop connect safe live bump live" << kRunningOff << "Disconnect"
                                           << kStart << "mnuFileDallop" << false << 250 << false << "labelBumpRight";
        QTest::newRow("safe mode during live data") << "dallop connect safe live bump safe" << kRunningOff
                                                    << "Disconnect" << kStop << "mnuFileDallop" << true << 250
                                                    << true << "labelBumpRight";
        QTest::newRow("disconnected") << "dallop connect disconnect" << kAllOff << "Connect" << kStart
                                      << "mnuFileDallop" << false << 1000 << false << "";
        QTest::newRow("disconnected from live data") << "dallop connect safe live bump disconnect" << kAllOff
                                                     << "Connect" << kStop << "mnuFileDallop" << true << 250
                                                     << false << "labelBumpRight";
        QTest::newRow("disconnected, other adapter") << "dallop connect disconnect wexbin" << kAllOff << "Connect"
                                                     << kStart << "mnuFileWexbin" << false << 1000 << false << "";
        QTest::newRow("reconnected with live data on") << "dallop connect safe live disconnect connect"
                                                       << kConnectedOff << "Disconnect" << kStop << "mnuFileDallop"
                                                       << true << 250 << false << "";
        QTest::newRow("live data again through safe mode")
            << "dallop connect safe live disconnect connect safe" << kRunningOff << "Disconnect" << kStop
            << "mnuFileDallop" << true << 250 << false << "";
    }
    void stateTable()
    {
        QFETCH(QString, steps);
        QFETCH(QString, ownOff);
        QFETCH(QString, portCaption);
        QFETCH(QString, liveCaption);
        QFETCH(QString, checked);
        QFETCH(bool, timerActive);
        QFETCH(int, interval);
        QFETCH(bool, reportShown);
        QFETCH(QString, visibleIndicators);

        Console c;
        run(c, steps);
        QVERIFY(c.messages().isEmpty());

        const QStringList off = ownOff.split(' ', Qt::SkipEmptyParts);
        for (const QString &name : kWidgets) {
            QWidget *w = c.get(name.toLatin1());
            const bool own = !off.contains(name);
            const QString panel = panelOf(name);
            const bool effective = own && (panel.isEmpty() || !off.contains(panel));
            QVERIFY2(!w->testAttribute(Qt::WA_ForceDisabled) == own, qPrintable(name + " own flag"));
            QVERIFY2(w->isEnabled() == effective, qPrintable(name + " effective state"));
            QVERIFY2(w->isVisible(), qPrintable(name + " visible"));
        }
        for (const QString &name : kItems) {
            QAction *item = c.action(name.toLatin1());
            QVERIFY2(item->isEnabled() == !off.contains(name), qPrintable(name + " enabled"));
            QVERIFY2(item->isChecked() == (name == checked), qPrintable(name + " check mark"));
        }
        const QStringList shown = visibleIndicators.split(' ', Qt::SkipEmptyParts);
        for (const QString &name : kIndicators)
            QVERIFY2(c.get(name.toLatin1())->isVisible() == shown.contains(name), qPrintable(name));

        QCOMPARE(c.button("btnPort")->text(), portCaption);
        QCOMPARE(c.button("GetSensorData")->text(), liveCaption);
        QCOMPARE(c.timer()->isActive(), timerActive);
        QCOMPARE(c.timer()->interval(), interval);
        QCOMPARE(c.timer()->timerType(), Qt::PreciseTimer);
        QCOMPARE(!c.report().isEmpty(), reportShown);
        QCOMPARE(c.port->portOpen(), portCaption == "Disconnect");
        QCOMPARE(static_cast<int>(c.window->adapterKind()),
                 checked.isEmpty() ? 0 : (checked == "mnuFileWexbin" ? 2 : 1));
    }

    void startUpSetsRtsOffAndTheSettingsText()
    {
        Console c;
        QCOMPARE(c.get<QLineEdit>("txtPort")->text(), "57600,n,8,1");
        QVERIFY(c.get<QLineEdit>("txtPortNum")->text().isEmpty());
        QCOMPARE(c.port->rtsEnable(), false);
        QVERIFY(c.port->writes().isEmpty());
        QCOMPARE(c.port->openCount(), 0);
        QCOMPARE(c.window->centralWidget()->size(), QSize(578, 278));
        QCOMPARE(c.window->windowTitle(), "Velmora");
    }

    void tabOrderFollowsTheDesign()
    {
        Console c;
        const QStringList expected{"btnFwd",  "btnRight", "btnBack", "btnLeft",    "btnSpot",   "btnClean",
                                   "btnMax",  "txtPort",  "btnPort", "btnOn",      "btnOff",    "btnSend",
                                   "txtSCI",  "txtPortNum", "rtbWexbin", "btnSafe", "GetSensorData"};
        QStringList order;
        QWidget *w = c.get("btnFwd");
        do {
            if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty()
                && !w->objectName().startsWith("qt_") && w->window() == c.window.get())
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != c.get("btnFwd"));
        QCOMPARE(order, expected);
    }

    void connectRefusals_data()
    {
        QTest::addColumn<QString>("adapter");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("openFailure");
        QTest::addColumn<QString>("message"); // the whole text, or "~part" for a text holding part

        const QString settings = "57600,n,8,1";
        QTest::newRow("no product, no number") << "" << "" << settings << "" << "Please select a product from the File menu.";
        QTest::newRow("no product") << "" << "3" << settings << "" << "Please select a product from the File menu.";
        QTest::newRow("no number") << "mnuFileDallop" << "" << settings << "" << "Please enter a Comm Port number.";
        QTest::newRow("blanks") << "mnuFileDallop" << "  " << settings << "" << "~is not a port number";
        QTest::newRow("letters") << "mnuFileKrennet" << "com3" << settings << "" << "~is not a port number";
        QTest::newRow("fraction") << "mnuFileKrennet" << "3.5" << settings << "" << "~is not a port number";
        QTest::newRow("above 16 bits") << "mnuFileKrennet" << "32768" << settings << "" << "~is not a port number";
        QTest::newRow("below 16 bits") << "mnuFileKrennet" << "-32769" << settings << "" << "~is not a port number";
        QTest::newRow("zero") << "mnuFileWexbin" << "0" << settings << "" << "~port numbers start at 1";
        QTest::newRow("negative") << "mnuFileWexbin" << "-4" << settings << "" << "~port numbers start at 1";
        QTest::newRow("settings refused") << "mnuFileWexbin" << "3" << "57600,x,8,1" << "" << "~parity";
        QTest::newRow("settings refused before a bad number") << "mnuFileWexbin" << "x" << "fast" << ""
                                                              << "~four fields";
        QTest::newRow("busy") << "mnuFileDallop" << "3" << settings << "Port 3 is in use by another program."
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
            c.chooseAdapter(adapter.toLatin1());
        c.type("txtPortNum", number);
        c.type("txtPort", settings);
        if (!openFailure.isEmpty())
            c.port->failNextOpen(openFailure);
        const auto before = ownFlags(c);
        c.port->clearRecord();

        c.click("btnPort");

        const QStringList shown = c.messages();
        QCOMPARE(shown.size(), 1);
        if (message.startsWith('~'))
            QVERIFY2(shown[0].contains(message.mid(1)), qPrintable(shown[0]));
        else
            QCOMPARE(shown[0], message);
        QVERIFY(!c.port->portOpen());
        QCOMPARE(c.port->openCount(), 0);
        QVERIFY(c.port->writes().isEmpty());
        QCOMPARE(ownFlags(c), before);
        QCOMPARE(c.button("btnPort")->text(), "Connect");
        QCOMPARE(c.get<QLineEdit>("txtPortNum")->text(), number);

        // Once the operator fixes the input, the same click connects.
        c.dismissMessages();
        c.chooseAdapter("mnuFileDallop");
        c.type("txtPortNum", " 7 ");
        c.type("txtPort", "57600,n,8,1");
        c.click("btnPort");
        QVERIFY(c.messages().isEmpty());
        QCOMPARE(c.port->log().first(), "open 7 57600,n,8,1");
    }

    void messageBoxesAreModelessToTheEventLoop()
    {
        Console c;
        c.click("btnPort");
        const auto boxes = c.window->findChildren<QMessageBox *>();
        QCOMPARE(boxes.size(), 1);
        QMessageBox *box = boxes.first();
        QCOMPARE(box->windowTitle(), "Velmora");
        QCOMPARE(box->icon(), QMessageBox::NoIcon);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(box->isVisible()); // the click returned while the box is up: no nested loop
        c.dismissMessages();
        QVERIFY(c.window->findChildren<QMessageBox *>().isEmpty());
    }

    void connectTakesTheCurrentTexts()
    {
        Console c;
        c.chooseAdapter("mnuFileDallop");
        c.type("txtPortNum", "3");
        c.click("btnPort");
        c.click("btnPort");
        c.chooseAdapter("mnuFileWexbin");
        c.type("txtPortNum", "12");
        c.type("txtPort", "9600,e,7,2");
        c.click("btnPort");
        QCOMPARE(c.port->log(), QStringList({"open 3 57600,n,8,1", "rts 0", "close", "open 12 9600,e,7,2", "rts 0"}));
        QCOMPARE(static_cast<int>(c.window->adapterKind()), 2);
    }

    void deviceLossDisconnectsWithOneMessage()
    {
        Console c;
        c.startLive();
        c.tick();
        c.port->unplug();
        for (int i = 0; i < 4; ++i)
            c.tick();

        const QStringList shown = c.messages();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith("The connection to the robot was lost"), qPrintable(shown[0]));
        QCOMPARE(c.port->writes().size(), 2); // safe mode and the one poll before the loss
        QCOMPARE(c.button("btnPort")->text(), "Connect");
        QVERIFY(!c.get("framePower")->isEnabled());
        QVERIFY(c.action("mnuFileDallop")->isEnabled());
        // The view stays on and resumes after the next connect.
        QCOMPARE(c.button("GetSensorData")->text(), "Stop Live Sensor Data");
        QVERIFY(c.timer()->isActive());
        c.dismissMessages();
        c.click("btnPort");
        c.tick();
        QCOMPARE(byteText(c.port->writes().last()), "142 0");
        QVERIFY(c.messages().isEmpty());
    }

    void progEnd_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("byCloseBox");
        QTest::addColumn<QStringList>("tail"); // the port log's last entries
        QTest::newRow("closed port, Exit") << "" << false << QStringList{};
        QTest::newRow("closed port, close box") << "dallop" << true << QStringList{};
        QTest::newRow("open, Exit") << "dallop connect" << false << QStringList{"write 128", "close"};
        QTest::newRow("open, close box") << "dallop connect safe" << true << QStringList{"write 128", "close"};
        QTest::newRow("live data, Exit") << "dallop connect safe live bump" << false
                                         << QStringList{"write 137 0 0 0 0", "write 128", "close"};
        QTest::newRow("live data, close box") << "dallop connect safe live bump" << true
                                              << QStringList{"write 137 0 0 0 0", "write 128", "close"};
        QTest::newRow("after a disconnect with live data on") << "dallop connect safe live disconnect" << true
                                                              << QStringList{"write 128 130", "close"};
    }
    void progEnd()
    {
        QFETCH(QString, steps);
        QFETCH(bool, byCloseBox);
        QFETCH(QStringList, tail);

        Console c;
        run(c, steps);
        const int writesBefore = static_cast<int>(c.port->writes().size());
        QSignalSpy ended(c.window.get(), &FrmMain::programEnded);

        if (byCloseBox)
            c.window->close();
        else
            c.action("mnuFileExit")->trigger();

        QCOMPARE(ended.count(), 1);
        QVERIFY(!c.window->isVisible());
        QVERIFY(!c.port->portOpen());
        const QStringList log = c.port->log();
        QCOMPARE(log.mid(log.size() - tail.size()), tail);
        const bool wasOpen = steps.contains("connect") && !steps.contains("disconnect");
        QCOMPARE(c.port->writes().size(), writesBefore + (wasOpen ? 1 : 0));
        if (steps.contains("live") && wasOpen) {
            QCOMPARE(c.button("GetSensorData")->text(), "Start Live Sensor Data");
            QVERIFY(c.report().isEmpty());
            QCOMPARE(c.window->sensorPollActive(), 0);
        }
        // Nothing runs after the end: a later close or tick writes nothing more.
        c.window->close();
        c.tick();
        QCOMPARE(ended.count(), 1);
        QCOMPARE(c.port->log(), log);
    }

    void aboutIsOneWindowHiddenByOk()
    {
        Console c;
        c.action("mnuHelpAbout")->trigger();
        c.action("mnuHelpAbout")->trigger();
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
        c.action("mnuHelpAbout")->trigger();
        QCOMPARE(c.window->findChildren<QWidget *>("frmAbout"), abouts);
        QVERIFY(about->isVisible());
    }

    void portTooltipListsThePorts()
    {
        Console c;
        int asked = 0;
        QList<PortChoice> ports{{3, "/dev/ttyUSB0", "USB serial"}};
        c.window->setPortLister(
            [&] {
                ++asked;
                return ports;
            },
            "Link it as comN.");
        auto *box = c.get<QLineEdit>("txtPortNum");
        QVERIFY(box->toolTip().contains("3  /dev/ttyUSB0  (USB serial)"));
        QVERIFY(!box->toolTip().contains("Link it"));
        ports.append({0, "/dev/ttyACM0", ""});
        const int before = asked;
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(c.get("frameWireless"), &enter);
        QCOMPARE(asked, before + 1);
        QVERIFY(box->toolTip().contains("(no number)  /dev/ttyACM0\nLink it as comN."));
        ports.clear();
        QCoreApplication::sendEvent(c.get("frameWireless"), &enter);
        QVERIFY(box->toolTip().contains("No serial ports"));
    }
};

QTEST_MAIN(TestStates)
#include "tst_states.moc"
