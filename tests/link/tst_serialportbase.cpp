// Rules every backend shares, through the fake port: RTS across opens, output of text.
#include "link/fakeserialport.h"

#include <QTest>

using velmora::link::FakeSerialPort;

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

    void outputRefusesCharacterAbove255()
    {
        FakeSerialPort port;
        QVERIFY(port.setPortOpen(true));
        QVERIFY(!port.output(QStringLiteral("\u0080\u00ff\u0100")));
        QVERIFY(port.writes().isEmpty());
        QVERIFY2(port.errorString().contains(QStringLiteral("position 3")),
                 qPrintable(port.errorString()));
        QVERIFY(port.output(QStringLiteral("\u0080\u00ff")));
        QCOMPARE(port.writes(), QList<QByteArray>{QByteArray("\x80\xff")});
    }
};

QTEST_GUILESS_MAIN(TestSerialPortBase)
#include "tst_serialportbase.moc"
