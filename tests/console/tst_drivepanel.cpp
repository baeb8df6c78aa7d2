// The drive buttons: raw presses and releases of any mouse button through the window, as the
// platform delivers them, and the stop written when a held press is cancelled.

#include "consoletest.h"

#include <QGroupBox>
#include <QWindow>

using velmora::link::byteText;
using velmora::test::Console;

namespace {

const QString kStop = "137 0 0 0 0";

} // namespace

class TestDrivePanel : public QObject
{
    Q_OBJECT
private slots:
    void pressDrivesReleaseStops_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("mouseButton");
        QTest::addColumn<QString>("drive");
        QTest::newRow("FWD left") << "btnFwd" << int(Qt::LeftButton) << "137 0 255 128 0";
        QTest::newRow("BCK left") << "btnBack" << int(Qt::LeftButton) << "137 255 64 128 0";
        QTest::newRow("LFT left") << "btnLeft" << int(Qt::LeftButton) << "137 0 255 0 0";
        QTest::newRow("RGT left") << "btnRight" << int(Qt::LeftButton) << "137 0 255 255 255";
        QTest::newRow("FWD right") << "btnFwd" << int(Qt::RightButton) << "137 0 255 128 0";
        QTest::newRow("RGT middle") << "btnRight" << int(Qt::MiddleButton) << "137 0 255 255 255";
    }
    void pressDrivesReleaseStops()
    {
        QFETCH(QString, button);
        QFETCH(int, mouseButton);
        QFETCH(QString, drive);
        Console c;
        c.initialise();
        c.port->clearRecord();
                const QByteArray name = button.toLatin1();
        const auto mb = static_cast<Qt::MouseButton>(mouseButton);
        c.mousePress(name, mb);
        QCOMPARE(c.writes(), QStringList{drive});
        c.mouseRelease(name, mb);
        QCOMPARE(c.writes(), (QStringList{drive, kStop}));
    }

    void releaseOffTheButtonStillStops()
    {
        Console c;
        c.initialise();
        c.port->clearRecord();
                c.mousePress("btnFwd");
        c.mouseRelease("btnBack"); // over another drive button: the release belongs to FWD
        QCOMPARE(c.writes(), (QStringList{"137 0 255 128 0", kStop}));
        c.mousePress("btnLeft");
        c.mouseRelease("rtbWexbin");
        QCOMPARE(c.writes().mid(2), (QStringList{"137 0 255 0 0", kStop}));
    }

    void doubleClickPressesTwice()
    {
        Console c;
        c.initialise();
        c.port->clearRecord();
        QTest::mouseDClick(c.window->windowHandle(), Qt::LeftButton, {}, c.centreOf("btnBack"));
        const QString back = "137 255 64 128 0";
        QCOMPARE(c.writes(), (QStringList{back, kStop, back, kStop}));
    }

    void twoMouseButtonsHeld()
    {
        Console c;
        c.initialise();
        c.port->clearRecord();
                const QString fwd = "137 0 255 128 0";
        c.mousePress("btnFwd", Qt::LeftButton);
        c.mousePress("btnFwd", Qt::RightButton);
        QCOMPARE(c.writes(), (QStringList{fwd, fwd}));
        c.mouseRelease("btnFwd", Qt::RightButton); // stops while the left one is still held
        QCOMPARE(c.writes(), (QStringList{fwd, fwd, kStop}));
        c.mouseRelease("btnFwd", Qt::LeftButton);
        QCOMPARE(c.writes(), (QStringList{fwd, fwd, kStop, kStop}));
    }

    void keyboardActivationWritesNothing()
    {
        Console c;
        c.initialise();
        c.port->clearRecord();
        QWidget *fwd = c.get("btnFwd");
        fwd->setFocus();
        QTest::keyClick(fwd, Qt::Key_Space);
        QTest::keyClick(fwd, Qt::Key_Return);
        c.button("btnFwd")->click();
        QVERIFY(c.port->writes().isEmpty());
    }

    void sensorStopWhileHeldDoesNotRedrive()
    {
        Console c;
        c.startLive();
                c.mousePress("btnFwd");
        c.tick();
        c.port->clearRecord();
        c.port->injectReceived(velmora::test::packet({{0, 2}})); // bump left
        c.mouseRelease("btnFwd");
        QCOMPARE(c.writes(), (QStringList{kStop, kStop}));
    }

    void cancelledPressStopsOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("window deactivated") << "deactivate";
        QTest::newRow("panel disabled") << "panel";
        QTest::newRow("button disabled") << "button";
        QTest::newRow("button hidden") << "hide";
        QTest::newRow("panel hidden") << "hidePanel";
    }
    void cancelledPressStopsOnce()
    {
        QFETCH(QString, how);
        Console c;
        c.initialise();
                c.mousePress("btnFwd", Qt::LeftButton);
        c.mousePress("btnFwd", Qt::RightButton);
        c.port->clearRecord();

        if (how == "deactivate") {
            QEvent deactivate(QEvent::WindowDeactivate);
            QCoreApplication::sendEvent(c.window.get(), &deactivate);
        } else if (how == "panel") {
            c.get("frameDrive")->setEnabled(false);
        } else if (how == "button") {
            c.get("btnFwd")->setEnabled(false);
        } else if (how == "hide") {
            c.get("btnFwd")->hide();
        } else {
            c.get("frameDrive")->hide();
        }
        QCOMPARE(c.writes(), QStringList{kStop});
        // Nothing is held any more: a second cancelling event writes nothing.
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(c.window.get(), &deactivate);
        c.get("frameDrive")->setEnabled(false);
        QCOMPARE(c.writes(), QStringList{kStop});
        // Leave no button down for the next test.
        QTest::mouseRelease(c.window->windowHandle(), Qt::LeftButton, {}, QPoint(1, 1));
        QTest::mouseRelease(c.window->windowHandle(), Qt::RightButton, {}, QPoint(1, 1));
    }

    void windowDestroyedWithAButtonHeld()
    {
        Console c;
        c.initialise();
        c.mousePress("btnRight");
        c.window.reset(); // the port goes with it; no handler may run on the half-destroyed window
    }

    void cancelledPressOnAClosedPortWritesNothing()
    {
        Console c;
        c.initialise();
                c.mousePress("btnLeft");
        c.port->clearRecord();
        c.click("btnPort"); // Disconnect closes the port, then disables the panel
        QVERIFY(c.port->writes().isEmpty());
        QVERIFY(c.messages().isEmpty());
    }
};

QTEST_MAIN(TestDrivePanel)
#include "tst_drivepanel.moc"
