// The Windows port over a real COM port: under Wine, a pseudo-terminal linked as the port, whose
// far end (tests/wine/farend.py) plays the robot and takes commands written over the line itself.
#include "link/winserialport.h"
#include "tracecapture.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMap>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include "../support/qtry.h"

#include <algorithm>
#include <chrono>
#include <list>
#include <memory>
#include <numeric>

#include <windows.h>

using velmora::link::OpenRefusal;
using velmora::link::SerialPort;
using velmora::link::WinSerialPort;

namespace
{

// What the far end answers "#answer" with.
QByteArray filler(int size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return bytes;
}

// User and kernel time of this process. The C runtime's clock() counts wall time on Windows.
double processCpuMs()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto ms = [](const FILETIME &t) {
        return static_cast<double>((static_cast<quint64>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e4;
    };
    return ms(kernel) + ms(user);
}

QString sinkReply(const QByteArray &bytes)
{
    return QStringLiteral("sink %1 %2")
        .arg(bytes.size())
        .arg(QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
}

// The waiting count at each receive event, as the console's handler would see it.
class EventLog
{
public:
    explicit EventLog(SerialPort &port)
    {
        QObject::connect(&port, &SerialPort::onComm, &context_, [this, &port] {
            waiting << port.inBufferCount();
            commEvents << port.commEvent();
            at << clock.elapsed();
        });
        clock.start();
    }
    // "26 waiting at 3 ms, ..." for a failure message.
    QString text() const
    {
        QStringList events;
        for (qsizetype i = 0; i < waiting.size(); ++i)
            events << QStringLiteral("%1 waiting at %2 ms").arg(waiting[i]).arg(at[i]);
        return events.isEmpty() ? QStringLiteral("no event") : events.join(QLatin1String(", "));
    }
    QList<int> waiting;
    QList<int> commEvents;
    QList<qint64> at;
    QElapsedTimer clock;

private:
    QObject context_; // ends the connection with the log
};

} // namespace

class TestWinSerialPort : public QObject
{
    Q_OBJECT

private:
    int number_ = 0;
    std::unique_ptr<WinSerialPort> port_;

    QString portText() const { return QStringLiteral("Port %1 (COM%1)").arg(number_); }

    bool open(const QString &settings = QStringLiteral("57600,n,8,1"))
    {
        return port_->setSettings(settings) && port_->setPortOpen(true);
    }

    // The far end's next one-line answer without the leading "=", or an empty string if none
    // came. It is taken from the input whether or not receive events are on.
    static QString reply(WinSerialPort &port)
    {
        if (!QTest::qWaitFor([&] { return port.peekInput().contains('\n'); }, 5000))
            return QString();
        const QByteArrayView waiting = port.peekInput();
        const qsizetype end = waiting.indexOf('\n');
        const QString line = QString::fromLatin1(waiting.first(end).toByteArray());
        port.skipInput(end + 1);
        return line.startsWith(QLatin1Char('=')) ? line.mid(1) : QString();
    }
    QString reply() { return reply(*port_); }

    static QString ask(WinSerialPort &port, const QByteArray &command)
    {
        return port.outputBytes(command + '\n') ? reply(port) : QString();
    }
    QString ask(const QByteArray &command) { return ask(*port_, command); }

    // The slave's termios as the far end reads it: "ospeed" -> "57600", "cstopb" -> "1", ...
    static QMap<QString, QString> farTermios(WinSerialPort &port)
    {
        QMap<QString, QString> fields;
        const QStringList words = ask(port, "#termios").split(QLatin1Char(' '));
        if (words.value(0) != QLatin1String("termios"))
            return fields;
        for (const QString &word : words.mid(1))
            fields.insert(word.section(QLatin1Char('='), 0, 0), word.section(QLatin1Char('='), 1));
        return fields;
    }

private slots:
    void initTestCase()
    {
        bool ok = false;
        number_ = qEnvironmentVariableIntValue("VELMORA_FAREND_PORT", &ok);
        if (!ok)
            QSKIP("needs a far end on the line: run through tests/wine/farend.py");
    }

    // Each test gets a port set up as the live view uses it.
    void init()
    {
        port_ = std::make_unique<WinSerialPort>();
        port_->setCommPort(number_);
        port_->setInputLen(26);
        port_->setRThreshold(1);
    }
    void cleanup() { port_.reset(); }

    // What the far end's termios holds after an open, or after an open that was refused part
    // way. The port under test opens the same line as a second COM port, so the far end can be
    // asked over the first one whatever became of the second.
    //
    // The robot's Baud command knows 12 speeds. Wine's serial driver gives a speed without a
    // termios constant (14400, 28800, 12345) the line 38400 instead, so such an open is refused.
    // A pseudo-terminal keeps no parity enable bit and no word size but 8, and this machine's
    // kernel refuses (EINVAL, error 87 through Wine) a termios asking for them once nothing
    // else in it changes: the parity step goes through, leaving what Wine made of the parity in
    // PARODD, CMSPAR and INPCK, and the next step is refused.
    void settingsReachTheLine_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("termios");   // what the far end sees afterwards
        QTest::addColumn<QStringList>("named"); // in the refusal

        const QString eightNone = QStringLiteral("csize=8 parenb=0 parodd=0 cmspar=0 inpck=0");
        for (int baud : {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
            QTest::addRow("%d baud", baud)
                << QStringLiteral("%1,n,8,1").arg(baud) << true
                << QStringLiteral("ospeed=%1 ispeed=%1 cstopb=0 %2").arg(baud).arg(eightNone)
                << QStringList();
        }
        for (int baud : {14400, 28800, 12345}) {
            QTest::addRow("%d baud, which Wine runs at 38400", baud)
                << QStringLiteral("%1,n,8,1").arg(baud) << false
                << QStringLiteral("ospeed=38400 ispeed=38400")
                << QStringList{QStringLiteral("refused the baud rate %1 (its driver set 38400 "
                                              "instead)")
                                   .arg(baud)};
        }
        QTest::newRow("two stop bits")
            << "57600,n,8,2" << true << "ospeed=57600 cstopb=1 " + eightNone << QStringList();
        // The word size stays 8 on a pseudo-terminal; CSTOPB is what 1.5 stop bits become.
        QTest::newRow("1.5 stop bits with 5 data bits")
            << "57600,n,5,1.5" << true << "ospeed=57600 cstopb=1 csize=8 inpck=0" << QStringList();
        QTest::newRow("1.5 stop bits with 8 data bits")
            << "57600,n,8,1.5" << false << "ospeed=57600 cstopb=0 " + eightNone
            << QStringList{QStringLiteral("cannot use 1.5 stop bits with 8 data bits")};
        const QStringList stepAfterParity{QStringLiteral("refused 8 data bits"),
                                          QStringLiteral("system error 87")};
        QTest::newRow("even parity")
            << "57600,e,8,1" << false << "parenb=0 parodd=0 cmspar=0 inpck=1" << stepAfterParity;
        QTest::newRow("odd parity")
            << "57600,o,8,1" << false << "parenb=0 parodd=1 cmspar=0 inpck=1" << stepAfterParity;
        QTest::newRow("mark parity")
            << "57600,m,8,1" << false << "parenb=0 parodd=1 cmspar=1 inpck=1" << stepAfterParity;
        QTest::newRow("space parity")
            << "57600,s,8,1" << false << "parenb=0 parodd=0 cmspar=1 inpck=1" << stepAfterParity;
        QTest::newRow("7 data bits") << "57600,n,7,1" << false << "csize=8 inpck=0"
                                     << QStringList{QStringLiteral("refused 7 data bits"),
                                                    QStringLiteral("system error 87")};
        QTest::newRow("7 data bits, even parity")
            << "57600,e,7,1" << false << "csize=8 parodd=0 inpck=1"
            << QStringList{QStringLiteral("refused 7 data bits"),
                           QStringLiteral("system error 87")};
    }
    void settingsReachTheLine()
    {
        QFETCH(QString, settings);
        QFETCH(bool, opens);
        QFETCH(QString, termios);
        QFETCH(QStringList, named);

        QVERIFY2(open(), qPrintable(port_->errorString()));
        const QString slave = ask("#hello").section(QLatin1Char(' '), 1);
        QVERIFY(slave.startsWith(QLatin1String("/dev/pts/")));
        const int second = number_ - 2; // the same line under another number; 99 is taken
        QCOMPARE(ask("#link " + QByteArray::number(second) + ' ' + slave.toLatin1()),
                 QStringLiteral("link %1").arg(second));
        WinSerialPort tested;
        tested.setCommPort(second);
        QVERIFY(tested.setSettings(settings));

        const bool opened = tested.setPortOpen(true);
        QCOMPARE(opened, opens);
        QMap<QString, QString> seen;
        if (opened) {
            QVERIFY(port_->setPortOpen(false)); // its read would take the answer otherwise
            seen = farTermios(tested);
            // Handshaking stays off: RTS belongs to the console, XON/XOFF would eat robot bytes.
            QCOMPARE(seen.value("crtscts"), QStringLiteral("0"));
            QCOMPARE(seen.value("ixon"), QStringLiteral("0"));
            QVERIFY(tested.setPortOpen(false));
            QVERIFY2(open(), qPrintable(port_->errorString()));
        } else {
            QVERIFY(!tested.portOpen());
            QCOMPARE(tested.openRefusal(), OpenRefusal::Settings);
            const QString why = tested.errorString();
            QVERIFY2(why.startsWith(QStringLiteral("Port %1 (COM%1) ").arg(second)),
                     qPrintable(why));
            QVERIFY2(why.endsWith(QLatin1String("; the port was not opened.")), qPrintable(why));
            for (const QString &part : named)
                QVERIFY2(why.contains(part), qPrintable(why));
            seen = farTermios(*port_);
        }
        QCOMPARE(ask("#link " + QByteArray::number(second)), QStringLiteral("link %1").arg(second));
        QVERIFY2(!seen.isEmpty(), "no termios from the far end");
        for (const QString &field : termios.split(QLatin1Char(' '))) {
            const QString key = field.section(QLatin1Char('='), 0, 0);
            const QString expected = field.section(QLatin1Char('='), 1);
            QVERIFY2(seen.value(key) == expected,
                     qPrintable(
                         QStringLiteral("%1=%2, expected %3").arg(key, seen.value(key), expected)));
        }
    }

    // One output is the bytes as given, whatever their values and however many.
    void bytesArriveIntact_data()
    {
        QTest::addColumn<QList<QByteArray>>("writes");
        QByteArray everyValue;
        for (int v = 0; v < 256; ++v)
            everyValue.append(static_cast<char>(v));
        QTest::newRow("every byte value") << QList<QByteArray>{everyValue};
        QTest::newRow("one byte") << QList<QByteArray>{QByteArray(1, '\x80')};
        QTest::newRow("64 KiB in one write") << QList<QByteArray>{filler(64 * 1024, 3)};
        QList<QByteArray> requests;
        for (int i = 0; i < 200; ++i)
            requests << QByteArray("\x8e\x00", 2) << QByteArray(1, static_cast<char>(i));
        QTest::newRow("400 writes back to back") << requests;
    }
    void bytesArriveIntact()
    {
        QFETCH(QList<QByteArray>, writes);
        QVERIFY2(open(), qPrintable(port_->errorString()));
        const QByteArray all = std::accumulate(writes.begin(), writes.end(), QByteArray());
        QVERIFY(port_->outputBytes("#sink " + QByteArray::number(all.size()) + '\n'));
        // The caller's memory is lent for the call only: spoiled right after it, as a stop built
        // on the stack goes away. Kept until the answer, so the spoiling cannot be left out.
        std::list<velmora::sci::Sequence> lent;
        for (const QByteArray &w : writes) {
            QVERIFY(port_->writeBytes(lent.emplace_back(w.begin(), w.end())));
            std::fill(lent.back().begin(), lent.back().end(), quint8{0xEE});
        }
        QCOMPARE(reply(), sinkReply(all));
    }

    // An answer the line splits must still be one receive event with all of it waiting: at once
    // when InputLen bytes wait (a settle time of 10 s shows it does not wait for quiet), otherwise
    // once the line has been quiet for the settle time.
    void receiveEvents_data()
    {
        QTest::addColumn<QByteArray>("answer"); // the far end's command
        QTest::addColumn<int>("inputLen");
        QTest::addColumn<int>("settleMs");
        QTest::addColumn<QList<int>>("waitingAtEvents");

        const int quiet = static_cast<int>(WinSerialPort::kDefaultSettle.count());
        QTest::newRow("26 whole") << QByteArray("#answer 26") << 26 << 10000 << QList<int>{26};
        QTest::newRow("27 whole") << QByteArray("#answer 27") << 26 << 10000 << QList<int>{27};
        // Well under the settle time apart: a loaded machine stretches the far end's gaps.
        QTest::newRow("10+16, 10 ms apart")
            << QByteArray("#answer 10,16 gap 10") << 26 << quiet << QList<int>{26};
        QTest::newRow("10+16, 300 ms apart, long settle")
            << QByteArray("#answer 10,16 gap 300") << 26 << 10000 << QList<int>{26};
        QTest::newRow("1+1+24, 5 ms apart")
            << QByteArray("#answer 1,1,24 gap 5") << 26 << quiet << QList<int>{26};
        QTest::newRow("short answer waits for quiet")
            << QByteArray("#answer 10") << 26 << quiet << QList<int>{10};
        QTest::newRow("InputLen 0 waits for quiet")
            << QByteArray("#answer 10,16 gap 5") << 0 << quiet << QList<int>{26};
    }
    void receiveEvents()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, inputLen);
        QFETCH(int, settleMs);
        QFETCH(QList<int>, waitingAtEvents);

        port_->setSettleTime(std::chrono::milliseconds(settleMs));
        QVERIFY2(open(), qPrintable(port_->errorString()));
        port_->setInputLen(inputLen);
        QSignalSpy spy(port_.get(), &SerialPort::onComm);
        QVERIFY(port_->outputBytes(answer + '\n'));
        EventLog events(*port_);

        QVERIFY(spy.wait(3000));
        // Nothing more may follow: a second event would mean the answer was cut in two.
        spy.wait(qMin(settleMs * 3, 300));
        QVERIFY2(events.waiting == waitingAtEvents, qPrintable(events.text()));
        QCOMPARE(events.commEvents.first(), SerialPort::kCommEventReceive);
        const int total = waitingAtEvents.first();
        if (inputLen == 0 || total < inputLen)
            QVERIFY2(events.at.first() >= settleMs, "raised before the line was quiet");
        const QByteArray sent = filler(total);
        const qsizetype taken = inputLen > 0 ? qMin(inputLen, total) : total;
        QCOMPARE(port_->input(), sent.left(taken));
        QCOMPARE(port_->inBufferCount(), total - taken);
    }

    // More than one read's worth arrives whole and in order, read after read.
    void longAnswerArrivesInOrder()
    {
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QByteArray got;
        const QObject context;
        connect(port_.get(), &SerialPort::onComm, &context, [&] {
            while (port_->inBufferCount() > 0)
                got += port_->input();
        });
        const int size = 100 * 1024;
        QVERIFY(port_->outputBytes("#answer " + QByteArray::number(size) + " seed 9\n"));
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), size, 10000);
        QVERIFY(got == filler(size, 9));
    }

    // A pseudo-terminal has no RTS line: the stored value must not stop the open, a set fails
    // with a message, and the refusal must not look like a lost device afterwards.
    void rtsRefusedOnLineWithoutModemControl_data()
    {
        QTest::addColumn<bool>("rts");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }
    void rtsRefusedOnLineWithoutModemControl()
    {
        QFETCH(bool, rts);
        QVERIFY(port_->setRtsEnable(rts));
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QSignalSpy lost(port_.get(), &SerialPort::deviceLost);

        QVERIFY(!port_->setRtsEnable(rts));
        QVERIFY2(port_->errorString().startsWith(portText() +
                                                 QLatin1String(" has no RTS line that can be set")),
                 qPrintable(port_->errorString()));
        QVERIFY(port_->portOpen());
        QCOMPARE(port_->rtsEnable(), rts);

        EventLog events(*port_);
        QVERIFY(port_->outputBytes("#answer 26\n"));
        QTRY_COMPARE(events.waiting, QList<int>{26});
        QCOMPARE(port_->input(), filler(26));
        QVERIFY(port_->outputBytes("#sink 1\n"));
        QVERIFY(port_->writeBytes(velmora::sci::Sequence{128}));
        QCOMPARE(reply(), sinkReply(QByteArray(1, '\x80')));
        QCOMPARE(lost.size(), 0);
    }

    // The robot's end goes away: one loss, the port closed, and then silence, not a spin.
    void hangUpIsReportedOnceAndGoesQuiet_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<bool>("writeAfter");
        QTest::newRow("idle line") << QByteArray("#hangup 50") << false;
        QTest::newRow("writes into the dead line") << QByteArray("#hangup 0") << true;
        QTest::newRow("right after an answer") << QByteArray("#answer 10\n#hangup 0") << false;
    }
    void hangUpIsReportedOnceAndGoesQuiet()
    {
        QFETCH(QByteArray, command);
        QFETCH(bool, writeAfter);
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QSignalSpy lost(port_.get(), &SerialPort::deviceLost);

        QVERIFY(port_->outputBytes(command + '\n'));
        if (writeAfter) {
            // Held off the event loop while the far end hangs up, so the port has not seen it
            // yet: a request and a stop written into the dead line are refused, and the read
            // that fails next must not make it a second loss.
            QThread::msleep(300);
            QVERIFY(!port_->outputBytes(QByteArray(2, '\x8e')));
            QVERIFY(!port_->writeBytes(velmora::sci::Sequence(5, 137)));
        }
        QVERIFY(lost.size() == 1 || lost.wait(3000));
        QVERIFY(!port_->portOpen());
        const QString message = lost.first().first().toString();
        QVERIFY2(message.startsWith(portText() + QLatin1String(" is gone")), qPrintable(message));
        QCOMPARE(port_->errorString(), message);
        QCOMPARE(port_->inBufferCount(), 0);

        // A port left open on a dead line spins; a closed one costs nothing. Nor may an answer
        // that came just before the loss raise its receive event after it.
        const QSignalSpy events(port_.get(), &SerialPort::onComm);
        const double before = processCpuMs();
        QTest::qWait(500);
        const double spent = processCpuMs() - before;
        QVERIFY2(spent < 100.0,
                 qPrintable(QStringLiteral("%1 ms of CPU in 500 ms after the loss").arg(spent)));
        QCOMPARE(lost.size(), 1);
        QCOMPARE(events.size(), 0);
        QVERIFY(!port_->outputBytes(QByteArray(1, '\x80')));

        // The robot is back (the far end links a new line): the port opens again as new.
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QVERIFY(ask("#hello").startsWith(QLatin1String("hello /dev/pts/")));
    }

    // Shutdown writes the Start byte and closes at once: it must still reach the robot, behind
    // more output than the driver has taken yet, and when the port opens again right away (a
    // reconnect) while the bytes still wait in the line for a robot busy elsewhere.
    void closeDrainsOutputAndReopens_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("farEndPauseMs");
        QTest::newRow("64 KiB") << 64 * 1024 << 0;
        // More than the far end's side of the line holds, so the rest waits on the way to it, but
        // less than the line takes at once: the close has nothing left to wait for.
        QTest::newRow("8 KiB, far end busy") << 8 * 1024 << 1000;
    }
    void closeDrainsOutputAndReopens()
    {
        QFETCH(int, size);
        QFETCH(int, farEndPauseMs);
        const QByteArray sent = filler(size, 5) + QByteArray("\x89\x00\x00\x00\x00\x80", 6);
        QVERIFY2(open(), qPrintable(port_->errorString()));
        if (farEndPauseMs > 0)
            QCOMPARE(ask("#pause " + QByteArray::number(farEndPauseMs)),
                     QStringLiteral("paused %1").arg(farEndPauseMs));
        // Quiet: an answer now could come after the next open and be taken for another one.
        QVERIFY(port_->outputBytes("#sink " + QByteArray::number(sent.size()) + " quiet\n"));
        QVERIFY(port_->outputBytes(sent));
        QVERIFY(port_->setPortOpen(false));
        QVERIFY(!port_->portOpen());

        QVERIFY2(port_->setPortOpen(true), qPrintable(port_->errorString()));
        QCOMPARE(ask("#lastsink"), sinkReply(sent));
        EventLog events(*port_);
        QVERIFY(port_->outputBytes("#answer 26\n"));
        QTRY_COMPARE(events.waiting, QList<int>{26});
    }

    void openFailures_data()
    {
        QTest::addColumn<int>("number");        // 0: the far end's port
        QTest::addColumn<QByteArray>("linkTo"); // what the far end links COM<number> to first
        QTest::addColumn<QString>("settings");
        QTest::addColumn<OpenRefusal>("refusal");
        QTest::addColumn<QStringList>("named");
        QTest::newRow("no such COM port")
            << 97 << QByteArray() << "57600,n,8,1" << OpenRefusal::NoDevice
            << QStringList{"Port 97 has no device: COM97 does not exist.", "\"Ports (COM & LPT)\""};
        // Windows refuses a held COM port with an access error; Wine never does (below), but
        // refuses a folder so.
        QTest::newRow("access refused")
            << 95 << QByteArray("/tmp") << "57600,n,8,1" << OpenRefusal::Busy
            << QStringList{"Port 95 (COM95) is in use by another program."};
        QTest::newRow("not a serial device")
            << 94 << QByteArray("/dev/null") << "57600,n,8,1" << OpenRefusal::Settings
            << QStringList{"Port 94 (COM94) refused to tell its settings (",
                           "); the port was not opened."};
    }
    void openFailures()
    {
        QFETCH(int, number);
        QFETCH(QByteArray, linkTo);
        QFETCH(QString, settings);
        QFETCH(OpenRefusal, refusal);
        QFETCH(QStringList, named);
        if (!linkTo.isEmpty()) {
            // Asked over the far end's own line, which stays usable afterwards.
            QVERIFY2(open(), qPrintable(port_->errorString()));
            QCOMPARE(ask("#link " + QByteArray::number(number) + ' ' + linkTo),
                     QStringLiteral("link %1").arg(number));
            QVERIFY(port_->setPortOpen(false));
        }
        WinSerialPort other;
        other.setCommPort(number);
        QVERIFY(other.setSettings(settings));
        QVERIFY(!other.setPortOpen(true));
        QVERIFY(!other.portOpen());
        QCOMPARE(other.openRefusal(), refusal);
        QCOMPARE(other.device(), QStringLiteral("COM%1").arg(number));
        for (const QString &part : named)
            QVERIFY2(other.errorString().contains(part), qPrintable(other.errorString()));
        if (!linkTo.isEmpty()) {
            QVERIFY2(open(), qPrintable(port_->errorString()));
            QCOMPARE(ask("#link " + QByteArray::number(number)),
                     QStringLiteral("link %1").arg(number));
        }
    }

    // Windows opens a COM port for one handle at a time; Wine does not enforce that for a device,
    // so a second open of the same port succeeds here. Each port must then stay its own: closing
    // one must not cancel the other's read.
    void secondOpenOfTheSamePort()
    {
        QVERIFY2(open(), qPrintable(port_->errorString()));
        WinSerialPort second;
        second.setCommPort(number_);
        QVERIFY2(second.setPortOpen(true), qPrintable(second.errorString()));
        QCOMPARE(second.openRefusal(), OpenRefusal::None);
        QVERIFY(second.setPortOpen(false));

        QVERIFY(port_->portOpen());
        QVERIFY(ask("#hello").startsWith(QLatin1String("hello /dev/pts/")));
    }

    // The line trace of the real port: the device at the open, the refused RTS, a write, the
    // drain at the close, and the error that lost the device.
    void traceOfTheRealPort()
    {
        TraceCapture trace;
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QVERIFY(port_->outputBytes("#sink 5 quiet\n")); // no answer racing the close
        QVERIFY(port_->writeBytes(velmora::sci::Sequence{137, 0, 0, 0, 0}));
        QVERIFY(port_->setPortOpen(false));
        QVERIFY(port_->setPortOpen(true));
        QSignalSpy lost(port_.get(), &SerialPort::deviceLost);
        QVERIFY(port_->outputBytes("#hangup\n"));
        QVERIFY(lost.wait(3000));

        const QString port = QRegularExpression::escape(portText());
        const QString opened = QStringLiteral("open port %1 \\(COM%1\\), 57600,n,8,1").arg(number_);
        const QString rts = "rts 0 at open: refused: " + port + " has no RTS line that can be set";
        const QStringList expected{opened,
                                   rts,
                                   "out \"#sink 5 quiet\\\\n\"",
                                   "out 137 0 0 0 0",
                                   "drain: \\d+ bytes queued, 0 left unsent, \\d+\\.\\d{3} ms",
                                   "close",
                                   opened,
                                   rts,
                                   "out \"#hangup\\\\n\"",
                                   "device error: (read|write) failed: .+, system error \\d+",
                                   "device lost: " + port + " is gone: "};
        const QStringList events = trace.events();
        QVERIFY2(events.size() == expected.size(), qPrintable(events.join(QLatin1Char('\n'))));
        for (qsizetype i = 0; i < events.size(); ++i) {
            QVERIFY2(QRegularExpression("^" + expected[i]).match(events[i]).hasMatch(),
                     qPrintable(events[i]));
        }
    }
};

QTEST_GUILESS_MAIN(TestWinSerialPort)
#include "tst_winserialport.moc"
