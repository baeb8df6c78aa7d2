// The console's real window and Windows port under Wine against the robot simulator on COM99,
// which tests/wine/e2e.py runs on the Linux side: it sends "bump right" when asked on standard
// output, and afterwards checks what the simulator received.

#include "../console/consoletest.h"

#include "link/deviceport.h"

#include <QLabel>

#include <cstdio>

#include "../support/qtry.h"

using velmora::test::ConsoleWindow;

namespace
{

constexpr int kWait = 10000;

// A line for the driver on the far side of Wine.
void tellDriver(const char *line)
{
    std::printf("e2e: %s\n", line);
    std::fflush(stdout);
}

} // namespace

class TestWineConsole : public QObject
{
    Q_OBJECT

private slots:
    void bumpStopsTheRobot()
    {
        const QString port = qEnvironmentVariable("VELMORA_E2E_PORT", QStringLiteral("99"));
        ConsoleWindow c{new velmora::link::DevicePort};
        int shown = 0;
        QObject::connect(c.get<QTextEdit>("rtbWexbin"), &QTextEdit::textChanged, c.window.get(),
                         [&] { shown += c.report().endsWith("End Sensor Data\n") ? 1 : 0; });
        c.connectPort("mnuFileKrennet", port);
        QCOMPARE(c.messages(), QStringList());
        QCOMPARE(c.button("btnPort")->text(), "Disconnect");

        c.click("btnSafe");
        c.click("GetSensorData");
        QTRY_VERIFY_WITH_TIMEOUT(shown >= 2, kWait);
        QVERIFY(!c.report().contains("Bump"));

        tellDriver("bump right");
        QTRY_VERIFY_WITH_TIMEOUT(c.report().startsWith("Bump Right\n"), kWait);
        QVERIFY(c.get<QLabel>("labelBumpRight")->isVisible());
        QCOMPARE(c.messages(), QStringList());
        // The view goes on after the stop.
        const int before = shown;
        QTRY_VERIFY_WITH_TIMEOUT(shown >= before + 2, kWait);

        c.window->close();
        QVERIFY(!c.window->isVisible());
        tellDriver("closed");
    }
};

QTEST_MAIN(TestWineConsole)
#include "tst_wine_console.moc"
