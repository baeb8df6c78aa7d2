// What each button writes to the port, how writes are grouped, and the wake-up of each adapter.

#include "consoletest.h"

using velmora::link::byteText;
using velmora::test::Console;

namespace {

// Own flags and captions of every widget, to see that a click changed nothing.
QStringList snapshot(const Console &c)
{
    QStringList out;
    for (QWidget *w : c.window->findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith("qt_"))
            continue;
        const auto *b = qobject_cast<QAbstractButton *>(w);
        out << QStringLiteral("%1 %2 %3 %4")
                   .arg(w->objectName())
                   .arg(w->testAttribute(Qt::WA_ForceDisabled))
                   .arg(w->isVisible())
                   .arg(b ? b->text() : QString());
    }
    out.sort();
    return out;
}

} // namespace

class TestHandlers : public QObject
{
    Q_OBJECT
private slots:
    void buttonWrites_data()
    {
        QTest::addColumn<bool>("initialised");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("writes");
        QTest::newRow("safe mode") << false << QStringList{"btnSafe"} << QStringList{"128 130"};
        QTest::newRow("safe mode twice") << true << QStringList{"btnSafe", "btnSafe"}
                                         << QStringList{"128 130", "128 130"};
        QTest::newRow("off before safe mode") << false << QStringList{"btnOff"} << QStringList{"133"};
        QTest::newRow("off") << true << QStringList{"btnOff"} << QStringList{"133"};
        QTest::newRow("spot") << true << QStringList{"btnSpot"} << QStringList{"134"};
        QTest::newRow("clean") << true << QStringList{"btnClean"} << QStringList{"135"};
        QTest::newRow("max") << true << QStringList{"btnMax"} << QStringList{"136"};
        QTest::newRow("spot twice") << true << QStringList{"btnSpot", "btnSpot"} << QStringList{"134", "134"};
    }
    void buttonWrites()
    {
        QFETCH(bool, initialised);
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, writes);
        Console c;
        if (initialised)
            c.initialise();
        else
            c.connectPort();
        c.port->clearRecord();
        const QStringList before = snapshot(c);
        for (const QString &name : clicks)
            c.click(name.toLatin1());
        QCOMPARE(c.writes(), writes);
        QVERIFY(c.port->rtsSets().isEmpty());
        QVERIFY(c.messages().isEmpty());
        // Only safe mode, and only the first time, changes the controls.
        if (!(clicks.first() == "btnSafe" && !initialised))
            QCOMPARE(snapshot(c), before);
    }

    void wiredWakeUpPulsesRts_data()
    {
        QTest::addColumn<QString>("adapter");
        QTest::newRow("Krennet") << "mnuFileKrennet";
        QTest::newRow("Dallop") << "mnuFileDallop";
    }
    void wiredWakeUpPulsesRts()
    {
        QFETCH(QString, adapter);
        Console c;
        c.connectPort(adapter.toLatin1());
        c.port->clearRecord();
        c.click("btnOn");
        const QList<bool> pulse{false, true, true, true, true, true, false};
        QCOMPARE(c.port->rtsSets(), pulse);
        QVERIFY(c.port->writes().isEmpty());
        QCOMPARE(c.port->rtsEnable(), false);
        c.click("btnOn");
        QCOMPARE(c.port->rtsSets(), pulse + pulse);
    }

    void wexbinWakeUpWritesFiveAtLines()
    {
        Console c;
        c.connectPort("mnuFileWexbin");
        c.port->clearRecord();
        c.click("btnOn");
        const QList<QByteArray> lines{"+++\r", "ATSW22,6,1,1\r", "ATSW23,6,0,1\r", "ATSW23,6,1,1\r", "ATMD\r"};
        QCOMPARE(c.port->writes(), lines);
        QCOMPARE(c.port->writtenBytes().size(), 48);
        QVERIFY(c.port->rtsSets().isEmpty());
    }

    void refusedRtsEndsTheClickWithAMessage()
    {
        Console c;
        c.port->setRtsSupported(false);
        c.connectPort("mnuFileKrennet");
        c.port->clearRecord();
        c.click("btnOn");
        QVERIFY(c.port->rtsSets().isEmpty());
        QVERIFY(c.port->writes().isEmpty());
        const QStringList shown = c.messages();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains("has no RTS line"), qPrintable(shown[0]));
    }

    void rawByte_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1: nothing written, a message instead
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("255") << "255" << 255;
        QTest::newRow("blanks around") << "  137 " << 137;
        QTest::newRow("plus sign") << "+131" << 131;
        QTest::newRow("minus zero") << "-0" << 0;
        QTest::newRow("leading zeros") << "007" << 7;
        QTest::newRow("256") << "256" << -1;
        QTest::newRow("-1") << "-1" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("blanks only") << "   " << -1;
        QTest::newRow("two numbers") << "128 130" << -1;
        QTest::newRow("comma list") << "128,130" << -1;
        QTest::newRow("blank after sign") << "- 5" << -1;
        QTest::newRow("sign alone") << "+" << -1;
        QTest::newRow("fraction") << "1.5" << -1;
        QTest::newRow("hex") << "0x80" << -1;
        QTest::newRow("exponent") << "1e2" << -1;
        QTest::newRow("beyond 32 bits") << "4294967424" << -1;
        QTest::newRow("huge") << "99999999999999999999999999" << -1;
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661\u0662") << -1;
    }
    void rawByte()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        Console c;
        c.connectPort();
        c.port->clearRecord();
        c.type("txtSCI", text);
        c.click("btnSend");
        if (expected < 0) {
            QVERIFY(c.port->writes().isEmpty());
            QCOMPARE(c.messages().size(), 1);
            QVERIFY(c.messages()[0].contains("0 to 255"));
        } else {
            QCOMPARE(c.port->writes(), QList<QByteArray>{QByteArray(1, static_cast<char>(expected))});
            QVERIFY(c.messages().isEmpty());
            c.click("btnSend");
            QCOMPARE(c.port->writes().size(), 2);
        }
        QCOMPARE(c.get<QLineEdit>("txtSCI")->text(), text);
    }

    void failedWritesAreShownOncePerRun()
    {
        Console c;
        c.startLive();
        c.port->failWrites("The device refused the write.");
        for (int i = 0; i < 5; ++i)
            c.tick();
        c.click("btnSpot");
        QCOMPARE(c.messages().size(), 1);
        QVERIFY(c.messages()[0].contains("The device refused the write."));
        // A write that gets through ends the run; the next failure is news again.
        c.dismissMessages();
        c.port->failWrites(QString());
        c.tick();
        c.port->failWrites("Gone again.");
        c.tick();
        c.tick();
        QCOMPARE(c.messages().size(), 1);
        QVERIFY(c.messages()[0].contains("Gone again."));
    }

    void safeModeThatCouldNotBeSentUnlocksNothing()
    {
        Console c;
        c.connectPort();
        c.port->failWrites("Write refused.");
        c.click("btnSafe");
        QCOMPARE(c.messages().size(), 1);
        QVERIFY(!c.get("frameDrive")->isEnabled());
        QVERIFY(!c.get("GetSensorData")->isEnabled());
    }
};

QTEST_MAIN(TestHandlers)
#include "tst_handlers.moc"
