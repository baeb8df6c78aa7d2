// The POSIX advice's choices: which way out each situation at a refused device gets.

#include "probe/advice.h"

#include <QtTest>

using velmora::probe::Advice;
using velmora::probe::DeviceAccess;
using velmora::probe::Holder;

class TestProbeAdvice : public QObject
{
    Q_OBJECT

private slots:
    void notAllowed_data()
    {
        QTest::addColumn<bool>("groupMayReadWrite");
        QTest::addColumn<bool>("inGroupListed");
        QTest::addColumn<QStringList>("said"); // in the details or what to do
        QTest::addColumn<QString>("notSaid");

        QTest::newRow("not in the group")
            << true << false
            << QStringList{"You (alice) are not in the group dialout.",
                           "Join the group: sudo adduser alice dialout", "log out and in again"}
            << "udev";
        // Joined already: telling to join again would send the operator round in circles.
        QTest::newRow("joined, not yet in this login")
            << true << true
            << QStringList{"listed in the group dialout, but this login does not have it",
                           "Log out and in again"}
            << "adduser";
        QTest::newRow("the group may not either")
            << false << false
            << QStringList{"may not read and write it either; only root may",
                           "KERNEL==\"ttyUSB0\", GROUP=\"dialout\"", "sudo adduser alice dialout"}
            << "Join the group";
        QTest::newRow("joined, and the group may not either")
            << false << true
            << QStringList{"this login does not have it yet", "only root may",
                           "KERNEL==\"ttyUSB0\""}
            << "Join the group";
    }

    void notAllowed()
    {
        QFETCH(bool, groupMayReadWrite);
        QFETCH(bool, inGroupListed);
        QFETCH(QStringList, said);
        QFETCH(QString, notSaid);

        const DeviceAccess a{.owner = "root",
                             .group = "dialout",
                             .mode = "crw-rw----",
                             .groupMayReadWrite = groupMayReadWrite,
                             .user = "alice",
                             .inGroupNow = false,
                             .inGroupListed = inGroupListed};
        const Advice advice = velmora::probe::notAllowedAdvice("/dev/ttyUSB0", a);
        const QString shown = (advice.details + advice.todo).join(u'\n');
        for (const QString &s : said)
            QVERIFY2(shown.contains(s), qPrintable(s + QStringLiteral(" not in:\n") + shown));
        QVERIFY2(!shown.contains(notSaid), qPrintable(shown));
        QVERIFY(!advice.todo.isEmpty());
    }

    void holder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("todo");

        QTest::newRow("ModemManager") << "ModemManager"
                                      << "/usr/sbin/ModemManager"
                                      << "sudo systemctl stop ModemManager";
        QTest::newRow("a login prompt on the port")
            << "agetty"
            << "/sbin/agetty -o -p -- \\u --keep-baud 115200,57600 ttyUSB0 vt220"
            << "sudo systemctl stop serial-getty@ttyUSB0.service";
        QTest::newRow("a terminal program") << "minicom"
                                            << "minicom -D /dev/ttyUSB0"
                                            << "Close that program, or end it: kill 42";
        // Only a program of that name is a login prompt.
        QTest::newRow("a name that ends in getty") << "nuggetty"
                                                   << "nuggetty /dev/ttyUSB0"
                                                   << "kill 42";
    }

    void holder()
    {
        QFETCH(QString, name);
        QFETCH(QString, command);
        QFETCH(QString, todo);

        const Holder h{.pid = 42, .command = command, .name = name};
        const Advice advice = velmora::probe::holderAdvice(h, "/dev/ttyUSB0");
        QCOMPARE(advice.todo.size(), 1);
        QVERIFY2(advice.todo.first().contains(todo), qPrintable(advice.todo.first()));
    }
};

QTEST_GUILESS_MAIN(TestProbeAdvice)
#include "tst_probeadvice.moc"
