// Renaming the Bluetooth adapter: the menu's check, the dialog's life, and the three lines.

#include "consoletest.h"

#include "console/frmbtname.h"

#include <QPushButton>

using velmora::test::Console;

namespace {

QWidget *dialogOf(const Console &c) { return c.window->findChild<QWidget *>("frmBTName"); }

void setName(const Console &c, const QString &name)
{
    QWidget *dialog = dialogOf(c);
    QVERIFY(dialog);
    dialog->findChild<QLineEdit *>("txtBTName")->setText(name);
    QTest::mouseClick(dialog->findChild<QPushButton *>("cmdSetName"), Qt::LeftButton);
}

QList<QByteArray> renameLines(const QByteArray &name)
{
    return {"+++\r", "ATSN," + name + "\r", "ATMD\r"};
}

} // namespace

class TestRename : public QObject
{
    Q_OBJECT
private slots:
    void changeNameNeedsTheWexbinCheck_data()
    {
        QTest::addColumn<QStringList>("choices");
        QTest::addColumn<bool>("opens");
        QTest::newRow("no adapter") << QStringList{} << false;
        QTest::newRow("Krennet") << QStringList{"mnuFileKrennet"} << false;
        QTest::newRow("Dallop") << QStringList{"mnuFileDallop"} << false;
        QTest::newRow("Wexbin") << QStringList{"mnuFileWexbin"} << true;
        QTest::newRow("Wexbin, then Dallop") << QStringList{"mnuFileWexbin", "mnuFileDallop"} << false;
    }
    void changeNameNeedsTheWexbinCheck()
    {
        QFETCH(QStringList, choices);
        QFETCH(bool, opens);
        Console c;
        for (const QString &item : choices)
            c.chooseAdapter(item.toLatin1());
        c.action("mnuEditCN")->trigger();
        QWidget *dialog = dialogOf(c);
        if (opens) {
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(dialog->windowTitle(), "Change BlueTooth Name");
            QVERIFY(c.messages().isEmpty());
        } else {
            QVERIFY(!dialog);
            QCOMPARE(c.messages(), QStringList{"For Wexbin Only"});
        }
        QVERIFY(c.port->writes().isEmpty());
    }

    void setNameWritesThreeLines_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks and commas") << " Kitchen robot, no. 2 ";
        QTest::newRow("punctuation") << "R2;D2=\"ok\"?";
        QTest::newRow("latin-1 letter") << QString::fromUtf8("Küche");
    }
    void setNameWritesThreeLines()
    {
        QFETCH(QString, name);
        Console c;
        c.connectPort("mnuFileWexbin");
        c.action("mnuEditCN")->trigger();
        c.port->clearRecord();
        setName(c, name);
        const QList<QByteArray> lines = renameLines(name.toLatin1());
        QCOMPARE(c.port->writes(), lines);
        setName(c, name);
        QCOMPARE(c.port->writes(), lines + lines);
        QVERIFY(dialogOf(c)->isVisible());
        QCOMPARE(dialogOf(c)->findChild<QLineEdit *>("txtBTName")->text(), name);
        QVERIFY(c.messages().isEmpty());
    }

    void closedPortWritesNothing()
    {
        Console c;
        c.chooseAdapter("mnuFileWexbin");
        c.action("mnuEditCN")->trigger();
        setName(c, "Robo");
        QVERIFY(c.port->writes().isEmpty());
        QVERIFY(c.messages().isEmpty());
    }

    void onlyThePortIsTestedAtSetName()
    {
        Console c;
        c.connectPort("mnuFileWexbin");
        c.action("mnuEditCN")->trigger();
        c.click("btnPort");
        c.chooseAdapter("mnuFileKrennet");
        c.click("btnPort");
        c.port->clearRecord();
        setName(c, "Robo");
        QCOMPARE(c.port->writes(), renameLines("Robo"));
    }

    void unsafeNamesAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("why");
        QTest::newRow("carriage return") << "Robo\rATZ" << "control character";
        QTest::newRow("line feed") << "Robo\n" << "control character";
        QTest::newRow("tab") << "\tRobo" << "control character";
        QTest::newRow("nul") << QString(QChar(0)) << "control character";
        QTest::newRow("delete") << "Robo\x7f" << "control character";
        QTest::newRow("above 255") << QString::fromUtf8("Robo\u2122") << "one byte";
    }
    void unsafeNamesAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, why);
        Console c;
        c.connectPort("mnuFileWexbin");
        c.action("mnuEditCN")->trigger();
        c.port->clearRecord();
        setName(c, name);
        QVERIFY(c.port->writes().isEmpty());
        const QStringList shown = c.messages();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(why), qPrintable(shown[0]));
    }

    void dialogIsReusedUntilClosed()
    {
        Console c;
        c.chooseAdapter("mnuFileWexbin");
        c.action("mnuEditCN")->trigger();
        QPointer<QWidget> first = dialogOf(c);
        first->findChild<QLineEdit *>("txtBTName")->setText("kept");
        first->hide();
        c.action("mnuEditCN")->trigger();
        QCOMPARE(dialogOf(c), first.data());
        QVERIFY(first->isVisible());
        QCOMPARE(first->findChild<QLineEdit *>("txtBTName")->text(), "kept");
        QCOMPARE(c.window->findChildren<QWidget *>("frmBTName").size(), 1);

        first->close(); // the close box discards it
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());
        c.action("mnuEditCN")->trigger();
        QWidget *second = dialogOf(c);
        QVERIFY(second && second->isVisible());
        QVERIFY(second->findChild<QLineEdit *>("txtBTName")->text().isEmpty());
    }

    void loadCheckHidesTheDialog()
    {
        QWidget owner;
        QAction wexbin("Wexbin", nullptr);
        wexbin.setCheckable(true);
        velmora::link::FakeSerialPort port;
        auto *dialog = new velmora::console::FrmBTName(&wexbin, &port, &owner);
        dialog->present();
        QVERIFY(!dialog->isVisible());
        QStringList shown;
        for (QMessageBox *box : owner.findChildren<QMessageBox *>())
            shown << box->text();
        QCOMPARE(shown, QStringList{"This feature only works for Wexbin."});
    }
};

QTEST_MAIN(TestRename)
#include "tst_rename.moc"
