// Port numbers to devices on POSIX: comN links in the port folder, else /dev/ttyS{n-1}.
#include "link/portnames.h"
#include "ptypair.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <algorithm>

using velmora::link::PortChoice;
using velmora::link::PortDevice;

class TestPortNames : public QObject
{
    Q_OBJECT

private slots:
    void numberToDevice_data()
    {
        QTest::addColumn<int>("number");
        // "pty": to the pseudo-terminal; "relative": a relative link to a file; "": no link.
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QStringList>("problem"); // parts of the message; empty: none expected
        QTest::newRow("link to a device") << 3 << "pty"
                                          << "pty" << QStringList{};
        QTest::newRow("relative link") << 4 << "relative"
                                       << "relative" << QStringList{};
        QTest::newRow("link to nothing")
            << 5 << "/dev/velmora-missing"
            << "/dev/velmora-missing"
            << QStringList{"Port 5 has no device", "com5 points to /dev/velmora-missing"};
        QTest::newRow("no link: port 1") << 1 << ""
                                         << "/dev/ttyS0" << QStringList{};
    }
    void numberToDevice()
    {
        QFETCH(int, number);
        QFETCH(QString, link);
        QFETCH(QString, device);
        QFETCH(QStringList, problem);
        PtyPair pty(8);
        QVERIFY2(pty.problem().isEmpty(), qPrintable(pty.problem()));
        const QString linkPath = QStringLiteral("%1/com%2").arg(pty.linkFolder()).arg(number);
        if (link == QLatin1String("pty")) {
            QVERIFY(QFile::link(pty.slavePath(), linkPath));
            device = pty.slavePath();
        } else if (link == QLatin1String("relative")) {
            const QString target = pty.linkFolder() + QStringLiteral("/../fake-tty");
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(QFile::link(QStringLiteral("../fake-tty"), linkPath));
            device = QFileInfo(target).canonicalFilePath();
        } else if (!link.isEmpty()) {
            QVERIFY(QFile::link(link, linkPath));
        } else if (!QFile::exists(device)) {
            // Without a link the message names the device tried and how to link another.
            problem << QStringLiteral("Port %1 has no device: %2 does not exist")
                           .arg(number)
                           .arg(device)
                    << QStringLiteral("com%1 in %2").arg(number).arg(pty.linkFolder());
        }

        const PortDevice got = velmora::link::portDevice(number);
        QCOMPARE(got.device, device);
        if (problem.isEmpty())
            QCOMPARE(got.problem, QString());
        for (const QString &part : problem)
            QVERIFY2(got.problem.contains(part), qPrintable(got.problem));
    }

    void availablePortsListsLinksByNumber()
    {
        PtyPair pty(5);
        QVERIFY2(pty.problem().isEmpty(), qPrintable(pty.problem()));
        const QString folder = pty.linkFolder();
        QVERIFY(
            QFile::link(QStringLiteral("/dev/velmora-missing"), folder + QStringLiteral("/com6")));
        QVERIFY(QFile::link(pty.slavePath(), folder + QStringLiteral("/com0")));
        QVERIFY(QFile::link(pty.slavePath(), folder + QStringLiteral("/comx")));

        const QList<PortChoice> ports = velmora::link::availablePorts();
        const auto withNumber = [&ports](int n) {
            return std::count_if(ports.begin(), ports.end(),
                                 [n](const PortChoice &p) { return p.number == n; });
        };
        QCOMPARE(withNumber(5), 1);
        QCOMPARE(withNumber(6), 0);
        const auto five = std::find_if(ports.begin(), ports.end(),
                                       [](const PortChoice &p) { return p.number == 5; });
        QCOMPARE(five->device, pty.slavePath());
        // The pseudo-terminal's other names give it no second entry.
        QCOMPARE(std::count_if(ports.begin(), ports.end(),
                               [&pty](const PortChoice &p) { return p.device == pty.slavePath(); }),
                 1);
        QVERIFY(std::is_sorted(ports.begin(), ports.end()));
        for (const PortChoice &p : ports) {
            if (p.number > 0 && p.number != 5)
                QCOMPARE(p.device, QStringLiteral("/dev/ttyS%1").arg(p.number - 1));
        }
    }
};

QTEST_GUILESS_MAIN(TestPortNames)
#include "tst_portnames.moc"
