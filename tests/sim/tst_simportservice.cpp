// The console's own port service and protocol against the running simulator: open the
// port by its number through the link, start safe mode, drive into the room's north wall,
// and poll until the sensor packet reports the bump.

#include "simrobot.h"

#include "link/qtserialport.h"
#include "protocol/sci.h"
#include "protocol/sensordecoder.h"

#include <QtTest>

#include "../support/qtry.h"

namespace sci = velmora::sci;
using velmora::link::QtSerialPort;
using velmora::sci::SensorPacket;
using velmora::test::SimRobot;

namespace
{

int distanceOf(const SensorPacket &p)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[12] << 8 | p[13]));
}

} // namespace

class TestSimPortService : public QObject
{
    Q_OBJECT

private slots:
    void driveIntoWallReportsBump();
};

void TestSimPortService::driveIntoWallReportsBump()
{
    // 430 mm short of the north wall (y = 3000, body radius 170): under two seconds at 255 mm/s.
    SimRobot sim;
    QVERIFY2(sim.start({"--port", "61", "--quiet", "--pose", "2000,2400,90"}),
             qPrintable(sim.output()));
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(sim.configHome()));
    auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", oldConfig); });

    QtSerialPort port;
    port.setCommPort(sim.port());
    QVERIFY(port.setSettings(QStringLiteral("57600,n,8,1")));
    QVERIFY2(port.setPortOpen(true), qPrintable(port.errorString()));

    QList<SensorPacket> packets;
    QStringList reports;
    QObject::connect(&port, &QtSerialPort::onComm, &port, [&] {
        const QByteArray in = port.input();
        if (in.size() != int(velmora::sci::kSensorPacketSize))
            return;
        SensorPacket p{};
        std::copy(in.begin(), in.end(), reinterpret_cast<char *>(p.data()));
        packets << p;
        reports << QString::fromStdString(velmora::sci::DecodeSensorPacket(p));
    });
    auto poll = [&] {
        port.setInputLen(int(velmora::sci::kSensorPacketSize));
        port.setRThreshold(1);
        sci::sendSci(port, sci::sciSensors());
    };
    QTimer poller;
    poller.setInterval(100);
    QObject::connect(&poller, &QTimer::timeout, &port, poll);

    QVERIFY(sci::sendSci(port, sci::safeMode()));
    QVERIFY(sci::sendSci(port, sci::goFwd()));
    poller.start();
    QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty() && reports.last().contains(QLatin1String("Bump")),
                             10000);
    poller.stop();

    const QStringList lines = reports.last().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.mid(0, 2), (QStringList{"Bump Right", "Bump Left"}));
    // Every packet before the bump was a plain one of a robot on the move.
    for (int i = 0; i + 1 < reports.size(); ++i)
        QVERIFY2(!reports[i].contains(QLatin1String("Bump")), qPrintable(reports[i]));

    // The distances read add up to the way to the wall.
    int travelled = 0;
    for (const SensorPacket &p : packets)
        travelled += distanceOf(p);
    QVERIFY2(std::abs(travelled - 430) <= 1, qPrintable(QString::number(travelled)));
    QVERIFY(port.setPortOpen(false));
    QCOMPARE(sim.quit(), 0);
}

QTEST_GUILESS_MAIN(TestSimPortService)
#include "tst_simportservice.moc"
