// The real port over a real pseudo-terminal: the test plays the robot on the master side.
#include "link/qtserialport.h"
#include "ptypair.h"
#include "tracecapture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "../support/qtry.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <numeric>
#include <thread>

#include <ctime>

#include <poll.h>
#include <unistd.h>

using velmora::link::QtSerialPort;
using velmora::link::SerialPort;
using namespace std::chrono_literals;

namespace
{

QByteArray filler(int size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return bytes;
}

double processCpuMs()
{
    return static_cast<double>(std::clock()) * 1000.0 / CLOCKS_PER_SEC;
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
    QList<int> waiting;
    QList<int> commEvents;
    QList<qint64> at;
    QElapsedTimer clock;

private:
    QObject context_; // ends the connection with the log
};

} // namespace

class TestQtSerialPort : public QObject
{
    Q_OBJECT

private:
    // Each test gets a fresh line and a port set up for it as the live view uses it.
    std::unique_ptr<PtyPair> pty_;
    std::unique_ptr<QtSerialPort> port_;

    bool open(const QString &settings = QStringLiteral("57600,n,8,1"))
    {
        return port_->setSettings(settings) && port_->setPortOpen(true);
    }

private slots:
    void init()
    {
        pty_ = std::make_unique<PtyPair>();
        QVERIFY2(pty_->problem().isEmpty(), qPrintable(pty_->problem()));
        port_ = std::make_unique<QtSerialPort>();
        port_->setCommPort(pty_->number());
        port_->setInputLen(26);
        port_->setRThreshold(1);
    }
    void cleanup()
    {
        port_.reset();
        pty_.reset();
    }

    void everyByteValuePassesUnchangedBothWays()
    {
        QByteArray bytes;
        for (int v = 0; v < 256; ++v)
            bytes.append(static_cast<char>(v));
        QVERIFY2(open(), qPrintable(port_->errorString()));
        port_->setInputLen(0);

        // Out: one output is one write on the line, bytes as given.
        QVERIFY(port_->outputBytes(bytes));
        QTRY_COMPARE(pty_->received().size(), bytes.size());
        QCOMPARE(pty_->chunks().size(), 1);
        QCOMPARE(pty_->received(), bytes);

        // In: as sent, whatever their values.
        QVERIFY(pty_->write(bytes));
        QTRY_COMPARE(port_->inBufferCount(), bytes.size());
        QCOMPARE(port_->input(), bytes);
    }

    // An answer split by the line must still be one receive event with all 26 bytes waiting;
    // InputLen bytes raise it at once (a settle time of 10 s shows it does not wait), fewer
    // once the line has been quiet for the settle time.
    void receiveEvents_data()
    {
        QTest::addColumn<QList<int>>("pieces");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("inputLen");
        QTest::addColumn<int>("settleMs");
        QTest::addColumn<QList<int>>("waitingAtEvents");

        const int quiet = static_cast<int>(QtSerialPort::kDefaultSettle.count());
        QTest::newRow("26 at once") << QList<int>{26} << 0 << 26 << 10000 << QList<int>{26};
        QTest::newRow("27 at once") << QList<int>{27} << 0 << 26 << 10000 << QList<int>{27};
        QTest::newRow("10+16, 5 ms apart")
            << QList<int>{10, 16} << 5 << 26 << quiet << QList<int>{26};
        QTest::newRow("10+16, 20 ms apart")
            << QList<int>{10, 16} << 20 << 26 << quiet << QList<int>{26};
        QTest::newRow("short answer waits for quiet")
            << QList<int>{10} << 0 << 26 << quiet << QList<int>{10};
        QTest::newRow("InputLen 0 waits for quiet")
            << QList<int>{10, 16} << 5 << 0 << quiet << QList<int>{26};
    }
    void receiveEvents()
    {
        QFETCH(QList<int>, pieces);
        QFETCH(int, gapMs);
        QFETCH(int, inputLen);
        QFETCH(int, settleMs);
        QFETCH(QList<int>, waitingAtEvents);

        port_->setSettleTime(std::chrono::milliseconds(settleMs));
        QVERIFY2(open(), qPrintable(port_->errorString()));
        port_->setInputLen(inputLen);
        EventLog events(*port_);

        // The robot's side writes the pieces on timers, so the port's event loop runs between them.
        const QByteArray answer = filler(std::accumulate(pieces.begin(), pieces.end(), 0));
        int offset = 0;
        for (int i = 0; i < pieces.size(); ++i) {
            const QByteArray piece = answer.mid(offset, pieces[i]);
            offset += pieces[i];
            QTimer::singleShot(i * gapMs, Qt::PreciseTimer, port_.get(),
                               [this, piece] { QVERIFY(pty_->write(piece)); });
        }

        QSignalSpy spy(port_.get(), &SerialPort::onComm);
        QVERIFY(spy.wait(2000));
        // Nothing more may follow: a second event would mean the answer was cut in two.
        spy.wait(std::min(settleMs * 3, 200));
        QCOMPARE(events.waiting, waitingAtEvents);
        QCOMPARE(events.commEvents.first(), SerialPort::kCommEventReceive);
        if (inputLen == 0 || answer.size() < inputLen)
            QVERIFY2(events.at.first() >= settleMs, "raised before the line was quiet");
        const qsizetype taken =
            inputLen > 0 ? qMin<qsizetype>(inputLen, answer.size()) : answer.size();
        QCOMPARE(port_->input(), answer.left(taken));
        QCOMPARE(port_->inBufferCount(), answer.size() - taken);
    }

    void noEventsWithRThresholdZero()
    {
        QVERIFY2(open(), qPrintable(port_->errorString()));
        port_->setRThreshold(0);
        QSignalSpy spy(port_.get(), &SerialPort::onComm);
        QVERIFY(pty_->write(filler(10)));
        QVERIFY(pty_->write(filler(30)));
        QTRY_COMPARE(port_->inBufferCount(), 40);
        spy.wait(static_cast<int>(port_->settleTime().count()) * 3);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(port_->input(), (filler(10) + filler(30)).left(26));
    }

    // A line streaming garbage that nobody reads keeps at most kInputLimit bytes: the first ones.
    void unreadInputIsBounded()
    {
        QVERIFY2(open(), qPrintable(port_->errorString()));
        int most = 0;
        const QObject context;
        connect(port_.get(), &SerialPort::onComm, &context,
                [&] { most = qMax(most, port_->inBufferCount()); });

        const QByteArray garbage = filler(100 * 1024, 7);
        std::atomic<qsizetype> sent{0};
        std::thread writer([&] {
            const int fd = pty_->masterFd();
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (sent < garbage.size() && std::chrono::steady_clock::now() < deadline) {
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, 100) <= 0)
                    continue;
                const ssize_t n = ::write(fd, garbage.constData() + sent,
                                          static_cast<size_t>(garbage.size() - sent));
                if (n > 0)
                    sent += n;
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(sent == garbage.size(), 20000);
        writer.join();
        QTRY_COMPARE(port_->inBufferCount(), SerialPort::kInputLimit);
        QVERIFY(most > 0);
        QVERIFY(most <= SerialPort::kInputLimit);
        port_->setInputLen(0);
        QCOMPARE(port_->input(), garbage.left(SerialPort::kInputLimit));
    }

    // Shutdown writes the Start byte and closes at once: it must still reach the robot, even
    // behind more output than the driver has taken yet. What was waiting goes with the close,
    // and the port opens again as new.
    void closeDrainsOutputAndReopens()
    {
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QVERIFY(pty_->write(filler(5)));
        QTRY_COMPARE(port_->inBufferCount(), 5);
        const QByteArray sent = filler(64 * 1024) + QByteArray("\x89\x00\x00\x00\x00\x80", 6);
        QVERIFY(port_->outputBytes(sent));
        QByteArray arrived;
        std::thread robot([&] { // reads while the close drains, as the far end of a cable does
            char buffer[65536];
            const auto deadline = std::chrono::steady_clock::now() + 2s;
            while (arrived.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
                pollfd p{pty_->masterFd(), POLLIN, 0};
                const ssize_t n = ::poll(&p, 1, 100) > 0 ? ::read(p.fd, buffer, sizeof buffer) : 0;
                arrived.append(buffer, n > 0 ? n : 0);
            }
        });
        QVERIFY(port_->setPortOpen(false));
        robot.join();
        QVERIFY(!port_->portOpen());
        QCOMPARE(port_->inBufferCount(), 0);
        QCOMPARE(arrived.size(), sent.size());
        QVERIFY(arrived == sent);

        QVERIFY2(port_->setPortOpen(true), qPrintable(port_->errorString()));
        QCOMPARE(port_->device(), pty_->slavePath());
        EventLog events(*port_);
        QVERIFY(pty_->write(filler(26)));
        QTRY_COMPARE(events.waiting, QList<int>{26});
    }

    void deviceLossIsReportedOnceAndGoesQuiet()
    {
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QSignalSpy lost(port_.get(), &SerialPort::deviceLost);
        QSignalSpy events(port_.get(), &SerialPort::onComm);

        pty_->closeMaster();
        // A request and a stop written into the dead line: each write fails, the loss is one.
        port_->outputBytes(QByteArray(2, '\x8e'));
        port_->outputBytes(QByteArray(5, '\x89'));
        QVERIFY(lost.wait(3000));
        QVERIFY(!port_->portOpen());
        const QString message = lost.first().first().toString();
        QVERIFY2(message.contains(QStringLiteral("Port 7 (%1)").arg(pty_->slavePath())),
                 qPrintable(message));
        QCOMPARE(port_->errorString(), message);

        // A port left open on a dead device spins at full speed; a closed one costs nothing.
        const double before = processCpuMs();
        QTest::qWait(300);
        const double spent = processCpuMs() - before;
        QVERIFY2(spent < 60.0,
                 qPrintable(QStringLiteral("%1 ms of CPU in 300 ms after the loss").arg(spent)));
        QCOMPARE(lost.size(), 1);
        QCOMPARE(events.size(), 0);
        QVERIFY(port_->setPortOpen(false));
        QVERIFY(!port_->outputBytes(QByteArray(1, '\x80')));
    }

    // Baud rate and stop bits as the driver holds them. A pseudo-terminal forces 8 data bits and no
    // parity, so those two cannot be seen here; QSerialPort even refuses some of them on it
    // because it reads the settings back.
    void settingsApplyAtOpen_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<unsigned>("baud");
        QTest::addColumn<bool>("twoStop");
        QTest::newRow("default") << "57600,n,8,1" << 57600u << false;
        QTest::newRow("two stop bits") << "19200,n,8,2" << 19200u << true;
        QTest::newRow("non-standard baud") << "12345,o,8,1" << 12345u << false;
        QTest::newRow("1.5 stop bits with 5 data bits") << "9600,m,5,1.5" << 9600u << true;
    }
    void settingsApplyAtOpen()
    {
        QFETCH(QString, settings);
        QFETCH(unsigned, baud);
        QFETCH(bool, twoStop);
        QVERIFY2(open(settings), qPrintable(port_->errorString()));
        QCOMPARE(pty_->baud(), baud);
        QCOMPARE(pty_->twoStopBits(), twoStop);
    }

    void openFailures_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("linkTarget"); // empty: no link for this number
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("named");
        QTest::newRow("port 0") << 0 << ""
                                << "57600,n,8,1" << QStringList{"Port 0", "start at 1"};
        QTest::newRow("no link, no ttyS")
            << 250 << ""
            << "57600,n,8,1"
            << QStringList{"Port 250 has no device", "/dev/ttyS249 does not exist", "com250"};
        QTest::newRow("1.5 stop bits with 8 data bits")
            << 7 << ""
            << "57600,n,8,1.5" << QStringList{"Port 7 (/dev/pts/", "1.5 stop bits"};
    }
    void openFailures()
    {
        QFETCH(int, number);
        QFETCH(QString, linkTarget);
        QFETCH(QString, settings);
        QFETCH(QStringList, named);
        if (!linkTarget.isEmpty())
            QVERIFY(QFile::link(linkTarget,
                                QStringLiteral("%1/com%2").arg(pty_->linkFolder()).arg(number)));
        port_->setCommPort(number);
        const QString before = port_->settings();
        const bool taken = port_->setSettings(settings);
        QVERIFY(!(taken && port_->setPortOpen(true)));
        QCOMPARE(port_->settings(), taken ? settings : before); // a refused text changes nothing
        QVERIFY(!port_->portOpen());
        for (const QString &part : named)
            QVERIFY2(port_->errorString().contains(part), qPrintable(port_->errorString()));
    }

    void portInUseSaysSo()
    {
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QtSerialPort second;
        second.setCommPort(pty_->number());
        QVERIFY(!second.setPortOpen(true));
        QVERIFY2(second.errorString().contains(QStringLiteral("in use")),
                 qPrintable(second.errorString()));
        // The holder is unaffected and, once it lets go, the port opens again.
        QVERIFY(port_->outputBytes(QByteArray(1, 'x')));
        QTRY_COMPARE(pty_->received(), QByteArray(1, 'x'));
        QVERIFY(port_->setPortOpen(false));
        QVERIFY2(second.setPortOpen(true), qPrintable(second.errorString()));
    }

    void permissionDeniedSaysHowToGetAccess()
    {
        if (::geteuid() == 0)
            QSKIP("root opens any device");
        QVERIFY(QFile::setPermissions(pty_->slavePath(), QFileDevice::Permissions()));
        QVERIFY(!open());
        QVERIFY2(port_->errorString().contains(QStringLiteral("permission denied")),
                 qPrintable(port_->errorString()));
        QVERIFY2(port_->errorString().contains(QStringLiteral("sudo adduser $USER dialout")),
                 qPrintable(port_->errorString()));
    }

    // A pseudo-terminal has no RTS line: the stored value must not stop the open, an explicit set
    // fails with a message, and the refusal must not look like a lost device afterwards.
    void rtsOnLineWithoutModemControl()
    {
        QVERIFY(port_->setRtsEnable(true));
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QVERIFY(port_->portOpen());
        QSignalSpy lost(port_.get(), &SerialPort::deviceLost);

        QVERIFY(!port_->setRtsEnable(false));
        QVERIFY2(port_->errorString().contains(
                     QStringLiteral("Port 7 (%1) has no RTS line").arg(pty_->slavePath())),
                 qPrintable(port_->errorString()));
        QVERIFY(port_->portOpen());

        EventLog events(*port_);
        QVERIFY(pty_->write(filler(26)));
        QTRY_COMPARE(events.waiting, QList<int>{26});
        QVERIFY(port_->outputBytes(QByteArray(1, '\x80')));
        QTRY_COMPARE(pty_->received(), QByteArray(1, '\x80'));
        QCOMPARE(lost.size(), 0);
    }

    // The line trace of the real port: the device at the open, the refused RTS, a write, the
    // drain at the close, and the error that lost the device.
    void traceOfTheRealPort()
    {
        TraceCapture trace;
        QVERIFY2(open(), qPrintable(port_->errorString()));
        QVERIFY(port_->outputBytes(QByteArray("\x89\x00\x00\x00\x00", 5)));
        QVERIFY(port_->setPortOpen(false));
        QVERIFY(port_->setPortOpen(true));
        QSignalSpy lost(port_.get(), &SerialPort::deviceLost);
        pty_->closeMaster();
        QVERIFY(lost.wait(3000));

        const QString port =
            QRegularExpression::escape(QStringLiteral("Port 7 (%1)").arg(pty_->slavePath()));
        const QString opened = QStringLiteral("open port 7 \\(%1\\), 57600,n,8,1")
                                   .arg(QRegularExpression::escape(pty_->slavePath()));
        const QString rts = "rts 0 at open: refused: " + port + " has no RTS line that can be set";
        const QStringList expected{opened,
                                   rts,
                                   "out 137 0 0 0 0",
                                   "drain: 0 bytes queued, 0 left unsent, \\d+\\.\\d{3} ms",
                                   "close",
                                   opened,
                                   rts,
                                   "device error: (ReadError|ResourceError|hang-up) \\(.+\\)",
                                   "device lost: " + port + " is gone: "};
        const QStringList events = trace.events();
        QCOMPARE(events.size(), expected.size());
        for (qsizetype i = 0; i < events.size(); ++i) {
            QVERIFY2(QRegularExpression("^" + expected[i]).match(events[i]).hasMatch(),
                     qPrintable(events[i]));
        }
    }
};

QTEST_GUILESS_MAIN(TestQtSerialPort)
#include "tst_qtserialport.moc"
