// Renaming the Bluetooth adapter: the menu's check, the dialog's life, and the three lines.

#include "consoletest.h"

#include "console/frmbtname.h"

using velmora::test::Console;

namespace
{

QWidget *dialogOf(const Console &c)
{
    return c.window->findChild<QWidget *>("frmBTName");
}

void enterName(const Console &c, const QString &name)
{
    dialogOf(c)->findChild<QLineEdit *>("txtBTName")->setText(name);
    QTest::mouseClick(dialogOf(c)->findChild<QPushButton *>("cmdSetName"), Qt::LeftButton);
}

} // namespace

class TestRename : public QObject
{
    Q_OBJECT
private slots:
    void changeNameNeedsTheWexbinCheck_data()
    {
        QTest::addColumn<QString>("choices");
        QTest::addColumn<bool>("opens");
        QTest::newRow("no adapter") << "" << false;
        QTest::newRow("Wexbin") << "wexbin" << true;
        QTest::newRow("Wexbin, then Dallop") << "wexbin dallop" << false;
    }
    void changeNameNeedsTheWexbinCheck()
    {
        QFETCH(QString, choices);
        QFETCH(bool, opens);
        Console c;
        c.run(choices + " cn");
        QCOMPARE(dialogOf(c) && dialogOf(c)->isVisible(), opens);
        QCOMPARE(c.messages(), opens ? QStringList{} : QStringList{"For Wexbin Only"});
    }

    // "Set Name" writes its three lines only while the port is open, whatever the menu says
    // by then; a name that would break out of its AT line is refused.
    void setName_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("written");
        QTest::addColumn<QString>("why"); // part of the refusal
        const QString open = "wexbin connect cn";
        QTest::newRow("blanks and commas") << open << " Kitchen robot, no. 2 " << true << "";
        QTest::newRow("latin-1 letter") << open << QString::fromUtf8("Küche") << true << "";
        QTest::newRow("closed port") << "wexbin cn"
                                     << "Robo" << false << "";
        QTest::newRow("only the port is checked") << open + " port krennet connect"
                                                  << "Robo" << true << "";
        QTest::newRow("carriage return") << open << "Robo\rATZ" << false << "control character";
        QTest::newRow("delete") << open << "Robo\x7f" << false << "control character";
        QTest::newRow("above 255")
            << open << QString::fromUtf8("Robo\u2122") << false << "one byte";
    }
    void setName()
    {
        QFETCH(QString, setup);
        QFETCH(QString, name);
        QFETCH(bool, written);
        QFETCH(QString, why);
        Console c;
        c.run(setup);
        c.port->clearRecord();
        enterName(c, name);
        enterName(c, name);
        const QList<QByteArray> lines{"+++\r", "ATSN," + name.toLatin1() + "\r", "ATMD\r"};
        QCOMPARE(c.port->writes(), written ? lines + lines : QList<QByteArray>{});
        QVERIFY(dialogOf(c)->isVisible());
        QCOMPARE(dialogOf(c)->findChild<QLineEdit *>("txtBTName")->text(), name);
        const QStringList shown = c.messages();
        QCOMPARE(shown.size(), why.isEmpty() ? 0 : 2);
        if (!why.isEmpty())
            QVERIFY2(shown[0].contains(why), qPrintable(shown[0]));
    }

    void dialogIsReusedUntilClosed()
    {
        Console c;
        c.run("wexbin cn");
        QPointer<QWidget> first = dialogOf(c);
        first->findChild<QLineEdit *>("txtBTName")->setText("kept");
        first->hide();
        c.run("cn");
        QCOMPARE(dialogOf(c), first.data());
        QVERIFY(first->isVisible());
        QCOMPARE(first->findChild<QLineEdit *>("txtBTName")->text(), "kept");

        first->close(); // the close box discards it
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());
        c.run("cn");
        QVERIFY(dialogOf(c) && dialogOf(c)->isVisible());
        QVERIFY(dialogOf(c)->findChild<QLineEdit *>("txtBTName")->text().isEmpty());
    }
};

QTEST_MAIN(TestRename)
#include "tst_rename.moc"
