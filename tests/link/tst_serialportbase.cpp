// Rules every backend shares, through the fake port: RTS across opens, output of text, input
// into a caller's buffer, and how the line trace shows bytes.
#include "link/fakeserialport.h"
#include "link/linetrace.h"

#include <QTest>

using velmora::link::FakeSerialPort;
using velmora::link::lineText;

class TestSerialPortBase : public QObject
{
    Q_OBJECT

private slots:
    // A value set while closed holds from the open on; the first open sets it at once.
    void rtsHoldsFromOpen()
    {
        FakeSerialPort port;
        QVERIFY(port.setRtsEnable(false));
        QVERIFY(port.setRtsEnable(true));
        QVERIFY(port.rtsSets().isEmpty());
        QVERIFY(port.setPortOpen(true));
        QCOMPARE(port.rtsSets(), QList<bool>{true});
        QVERIFY(port.setRtsEnable(false));
        QCOMPARE(port.rtsSets(), (QList<bool>{true, false}));
    }

    // Takes what input() would take, but no more than the buffer holds.
    void inputIntoABuffer_data()
    {
        QTest::addColumn<int>("inputLen");
        QTest::addColumn<int>("room");
        QTest::addColumn<QByteArray>("taken");
        QTest::newRow("all waiting") << 0 << 26 << QByteArray("abcdefghij");
        QTest::newRow("InputLen") << 4 << 26 << QByteArray("abcd");
        QTest::newRow("room") << 0 << 3 << QByteArray("abc");
    }
    void inputIntoABuffer()
    {
        QFETCH(int, inputLen);
        QFETCH(int, room);
        QFETCH(QByteArray, taken);
        FakeSerialPort port;
        QVERIFY(port.setPortOpen(true));
        port.injectQuietly("abcdefghij");
        port.setInputLen(inputLen);
        QByteArray into(32, '-');
        QCOMPARE(port.input(into.data(), room), taken.size());
        QCOMPARE(into.left(taken.size() + 1), taken + '-');
        port.setInputLen(0);
        QCOMPARE(port.input(), QByteArray("abcdefghij").mid(taken.size()));
    }

    // Text lines are shown as text with their line ends, anything else as decimal bytes.
    void traceShowsBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("AT line") << QByteArray("ATSN,Robo \"7\"\r") << "\"ATSN,Robo \\\"7\\\"\\r\"";
        QTest::newRow("no line end") << QByteArray("OK") << "79 75";
        QTest::newRow("binary ending in CR") << QByteArray("\x89\x00\r", 3) << "137 0 13";
        QTest::newRow("long reply")
            << QByteArray(70, 'A') + '\r' << '"' + QString(64, 'A') + "\" ... (7 more)";
    }
    void traceShowsBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QCOMPARE(lineText(bytes), shown);
    }
};

QTEST_GUILESS_MAIN(TestSerialPortBase)
#include "tst_serialportbase.moc"
