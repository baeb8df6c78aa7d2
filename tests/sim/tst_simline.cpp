// velmora-sim as a program: its port link, its pseudo-terminal, its standard input, its
// faults and its trace, seen from a small client on the other end of the line.

#include "simrobot.h"

#include <QtTest>

#include "../support/qtry.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using velmora::test::SimRobot;
using velmora::test::TraceEntry;

namespace
{

qint64 monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The other end of the line, opened by path with plain POSIX calls.
class LineClient
{
public:
    ~LineClient() { close(); }
    bool open(const QString &path)
    {
        fd_ =
            ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        return fd_ >= 0;
    }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // The bytes are few; a pseudo-terminal takes them in one write.
    bool send(const QByteArray &b)
    {
        return ::write(fd_, b.constData(), size_t(b.size())) == b.size();
    }
    short waitEvents(int timeoutMs, short events = POLLIN)
    {
        pollfd p{fd_, events, 0};
        return ::poll(&p, 1, timeoutMs) > 0 ? p.revents : 0;
    }
    // The other end went away: poll reports a hang-up and a read fails.
    bool hungUp()
    {
        char b;
        const ssize_t r = (waitEvents(5000) & (POLLHUP | POLLERR)) ? ::read(fd_, &b, 1) : 1;
        return r == 0 || (r < 0 && errno == EIO);
    }
    struct Piece {
        qint64 atNs; // monotonic time of the read that returned it
        QByteArray bytes;
    };
    // Reads until n bytes have come or the time is up, keeping the pieces as they came.
    QList<Piece> readPieces(int n, int timeoutMs = 3000)
    {
        QList<Piece> pieces;
        const qint64 end = monotonicNs() + qint64(timeoutMs) * 1'000'000;
        for (int got = 0; got < n;) {
            const qint64 left = (end - monotonicNs()) / 1'000'000;
            char buf[512];
            if (left <= 0 || !(waitEvents(int(left)) & POLLIN))
                break;
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, size_t(n - got)));
            if (r <= 0)
                break;
            pieces.append({monotonicNs(), QByteArray(buf, r)});
            got += int(r);
        }
        return pieces;
    }
    QByteArray read(int n)
    {
        QByteArray out;
        for (const Piece &p : readPieces(n))
            out += p.bytes;
        return out;
    }

private:
    int fd_ = -1;
};

const QByteArray kStart("\x80", 1);
const QByteArray kSensors0("\x8e\0", 2);
// Packet 3 ends with the capacity, 2700 mAh: 10 140. A probe whose answer is known.
const QByteArray kProbe("\x8e\x03", 2);
const QByteArray kStray(1, char(0xaa));

bool isProbeAnswer(const QByteArray &b)
{
    return b.size() == 10 && quint8(b[8]) == 10 && quint8(b[9]) == 140;
}

// A whole packet 0 of an idle robot: nothing pressed, remote 255, capacity 2700.
bool looksLikePacket0(const QByteArray &b)
{
    return b.size() == 26 && b[0] == 0 && quint8(b[10]) == 255 && quint8(b[24]) == 10 &&
           quint8(b[25]) == 140;
}

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

// A fresh open of the port reaches a robot that is past Start.
bool freshOpenAnswers(const SimRobot &sim)
{
    LineClient c;
    return c.open(sim.linkPath()) && c.send(kProbe) && isProbeAnswer(c.read(10));
}

} // namespace

class TestSimLine : public QObject
{
    Q_OBJECT

private slots:
    // Where the link goes, that it points at the line while the program runs, and that every
    // way of ending removes it.
    void linkLivesWithTheProgram_data()
    {
        QTest::addColumn<QString>(
            "folder"); // "stale": a dead link is there; "home": no XDG_CONFIG_HOME
        QTest::addColumn<int>("signal"); // 0: the quit command
        QTest::addColumn<bool>("stdinClosed");
        QTest::newRow("quit") << "" << 0 << false;
        QTest::newRow("stale link replaced") << "stale" << 0 << false;
        QTest::newRow("default folder, SIGTERM") << "home" << int(SIGTERM) << false;
        QTest::newRow("stdin closed, SIGHUP") << "" << int(SIGHUP) << true;
    }
    void linkLivesWithTheProgram()
    {
        QFETCH(QString, folder);
        QFETCH(int, signal);
        QFETCH(bool, stdinClosed);
        QTemporaryDir home;
        SimRobot sim(home.path());
        QString link = home.path() + "/velmora/ports/com41";
        if (folder == "stale") {
            QVERIFY(QDir().mkpath(home.path() + "/velmora/ports"));
            QVERIFY(QFile::link("/dev/pts/velmora-gone", link));
        } else if (folder == "home") {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("XDG_CONFIG_HOME");
            env.insert("HOME", home.path());
            sim.process().setProcessEnvironment(env);
            link = home.path() + "/.config/velmora/ports/com41";
        }
        QVERIFY2(sim.start({"--port", "41"}), qPrintable(sim.output()));
        QCOMPARE(sim.readyLine(),
                 QStringLiteral("Simulated robot ready on port 41 (%1)").arg(sim.device()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.device());
        if (stdinClosed)
            sim.process().closeWriteChannel();
        LineClient c;
        QVERIFY(c.open(link));
        c.send(kStart + kProbe);
        QVERIFY(isProbeAnswer(c.read(10)));

        if (signal == 0)
            sim.command("quit");
        else
            ::kill(static_cast<pid_t>(sim.process().processId()), signal);
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        QVERIFY(!isLink(link));
    }

    void refusesToStart_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        QTest::newRow("a file where the link goes")
            << QStringList{"--port", "43"} << 1 << "is not a link";
        QTest::newRow("bad option") << QStringList{"--split", "10"} << 2 << "usage: velmora-sim";
    }
    void refusesToStart()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        SimRobot sim;
        QVERIFY(QDir().mkpath(sim.configHome() + "/velmora/ports"));
        QFile file(sim.configHome() + "/velmora/ports/com43");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
        file.close();
        QVERIFY(!sim.start(args));
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.process().exitCode(), exitCode);
        QVERIFY2(sim.output().contains(error), qPrintable(sim.output()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
    }

    // The console opens and closes the port again and again; the robot keeps its state and
    // answers each time, and what was left unread at a close does not greet the next open.
    // The simulator learns of a close only a moment after it happens, so each round waits for
    // that before opening again, as a person reconnecting by hand always does.
    void servesAcrossReopen()
    {
        SimRobot sim;
        QVERIFY(sim.start({"--port", "47"}));
        for (int round = 0; round < 3; ++round) {
            LineClient c;
            QVERIFY(c.open(sim.linkPath()));
            c.send(round == 0 ? kStart + kProbe : kProbe);
            QVERIFY2(isProbeAnswer(c.read(10)),
                     qPrintable(QStringLiteral("round %1\n%2").arg(round).arg(sim.output())));
            const qsizetype mark = sim.output().size();
            c.send(kSensors0); // left unread
            QVERIFY(sim.waitForOutput("tx   Sensors packet 0 answer", 5000, mark));
            c.close();
            QVERIFY(sim.waitForOutput("info line closed by the other end", 5000, mark));
        }
        QVERIFY(freshOpenAnswers(sim));
    }

    // Each fault from the command line, on two answers in a row: the bytes around each answer,
    // nothing more between them, and the timing.
    void faults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("delayMs");  // at least, from request to the first byte
        QTest::addColumn<int>("spreadMs"); // at least, from the first piece to the last
        QTest::addColumn<int>("firstPiece");
        QTest::newRow("stray before") << QStringList{"--stray-before", "3"} << kStray.repeated(3)
                                      << QByteArray() << 0 << 0 << 29;
        QTest::newRow("extra byte and stray after")
            << QStringList{"--extra-byte", "--stray-after", "1"} << QByteArray()
            << QByteArray(1, '\0') + kStray << 0 << 0 << 28;
        // Pieces of 4 bytes after the first 4, each 20 ms after the one before.
        QTest::newRow("split 4,4 with gap") << QStringList{"--split", "4,4", "--gap", "20"}
                                            << QByteArray() << QByteArray() << 0 << 115 << 4;
        QTest::newRow("delay") << QStringList{"--delay", "150"} << QByteArray() << QByteArray()
                               << 145 << 0 << 26;
    }
    void faults()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(int, delayMs);
        QFETCH(int, spreadMs);
        QFETCH(int, firstPiece);
        SimRobot sim;
        LineClient c;
        QVERIFY(sim.start(QStringList{"--port", "51"} + args) && c.open(sim.linkPath()));
        c.send(kStart);
        for (int i = 0; i < 2; ++i) {
            const qint64 sentNs = monotonicNs();
            c.send(kSensors0);
            const QList<LineClient::Piece> pieces =
                c.readPieces(int(before.size() + 26 + after.size()));
            QByteArray got;
            for (const LineClient::Piece &p : pieces)
                got += p.bytes;
            QCOMPARE(got.size(), before.size() + 26 + after.size());
            QCOMPARE(got.left(before.size()), before);
            QVERIFY(looksLikePacket0(got.mid(before.size(), 26)));
            QCOMPARE(got.mid(before.size() + 26), after);
            const double firstMs = double(pieces.first().atNs - sentNs) / 1e6;
            const double spread = double(pieces.last().atNs - pieces.first().atNs) / 1e6;
            QVERIFY2(firstMs >= delayMs && firstMs < delayMs + 450,
                     qPrintable(QString::number(firstMs)));
            QVERIFY2(spread >= spreadMs && spread < spreadMs + 330,
                     qPrintable(QString::number(spread)));
            QCOMPARE(pieces.first().bytes.size(), firstPiece);
        }
    }

    // Paced, the bytes come one by one over the line's time: the last arrives no sooner than
    // the whole reply takes at that rate (however busy the machine), and the arrivals spread
    // over most of that time in at least one of five replies. Unpaced, a reply comes whole.
    void pace_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("setup"); // sent first; its reply, if any, is "OK\r\n"
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("replySize");
        QTest::addColumn<double>("minLastMs"); // from the request to the last byte
        QTest::addColumn<double>("minSpanMs"); // from the first byte to the last
        const double byteMs = 10 / 57.6;
        QTest::newRow("at once by default")
            << QStringList{} << kStart << kSensors0 << 26 << 0.0 << 0.0;
        QTest::newRow("9600") << QStringList{"--pace", "9600"} << kStart << kSensors0 << 26
                              << 26 * 6 * byteMs << 20.0;
        QTest::newRow("57600, adapter replies")
            << QStringList{"--pace", "57600", "--adapter-replies"} << QByteArray("+++\r")
            << QByteArray("ATSN,Paced\r") << 4 << 4 * byteMs << 0.3;
    }
    void pace()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, request);
        QFETCH(int, replySize);
        QFETCH(double, minLastMs);
        QFETCH(double, minSpanMs);
        SimRobot sim;
        LineClient c;
        QVERIFY(sim.start(QStringList{"--port", "59"} + args) && c.open(sim.linkPath()));
        c.send(setup);
        if (setup.startsWith('+'))
            QCOMPARE(c.read(4), QByteArray("OK\r\n"));
        double widestMs = 0;
        for (int round = 0; round < 5; ++round) {
            const qint64 sentNs = monotonicNs();
            c.send(request);
            const QList<LineClient::Piece> pieces = c.readPieces(replySize);
            QByteArray got;
            for (const LineClient::Piece &p : pieces)
                got += p.bytes;
            QCOMPARE(got.size(), replySize);
            QVERIFY(replySize != 26 || looksLikePacket0(got));
            const double lastMs = double(pieces.last().atNs - sentNs) / 1e6;
            const double spanMs = double(pieces.last().atNs - pieces.first().atNs) / 1e6;
            qDebug("round %d: %lld pieces, first byte at %.3f ms, last at %.3f ms, span %.3f ms",
                   round, qlonglong(pieces.size()), double(pieces.first().atNs - sentNs) / 1e6,
                   lastMs, spanMs);
            QVERIFY2(lastMs >= minLastMs && lastMs < minLastMs + 500,
                     qPrintable(QString::number(lastMs)));
            if (minSpanMs == 0)
                QCOMPARE(pieces.size(), 1);
            widestMs = std::max(widestMs, spanMs);
        }
        QVERIFY2(widestMs >= minSpanMs, qPrintable(QString::number(widestMs)));
    }

    // A console that stops reading fills the line; the simulator then waits for room on it
    // instead of trying again and again.
    void fullLineCostsNothing()
    {
        SimRobot sim;
        LineClient c;
        QVERIFY(sim.start({"--port", "60", "--quiet"}) && c.open(sim.linkPath()));
        c.send(kStart);
        // Answers for 10,000 requests, 260 kB: more than a pseudo-terminal holds.
        for (int sent = 0; sent < 10000;) {
            if (c.send(kSensors0))
                ++sent;
            else
                QVERIFY(c.waitEvents(1000, POLLOUT) & POLLOUT);
        }
        QVERIFY(c.waitEvents(1000) & POLLIN);
        const auto cpuSeconds = [&] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(sim.process().processId()));
            if (!stat.open(QIODevice::ReadOnly))
                return -1.0;
            // utime and stime, the 14th and 15th fields, after the name in parentheses.
            const QList<QByteArray> f = stat.readAll().split(')').last().simplified().split(' ');
            return double(f.value(11).toLongLong() + f.value(12).toLongLong()) /
                   double(::sysconf(_SC_CLK_TCK));
        };
        QTest::qWait(300); // the requests read and the line full
        const double before = cpuSeconds();
        QTest::qWait(1000);
        const double used = cpuSeconds() - before;
        QVERIFY2(before >= 0 && used < 0.1, qPrintable(QString::number(used)));
        // Reading again, the answers come.
        QVERIFY(looksLikePacket0(c.read(26)));
    }

    void faultDropEvery()
    {
        SimRobot sim;
        LineClient c;
        QVERIFY(sim.start({"--port", "54", "--drop-every", "2"}) && c.open(sim.linkPath()));
        // Answers 1 and 3 come, 2 is left out: the probe's answer follows the first directly.
        c.send(kStart + kSensors0 + kSensors0 + kProbe);
        const QByteArray got = c.read(36);
        QVERIFY(looksLikePacket0(got.left(26)));
        QVERIFY(isProbeAnswer(got.mid(26)));
    }

    // The line goes and comes back by itself with both options, and by hand with the
    // commands; the robot keeps its mode, and a client of the old line stays cut off.
    void unplugAndReplug()
    {
        SimRobot sim;
        QVERIFY(sim.start({"--port", "57", "--unplug-after", "500", "--replug-after", "300"}));
        LineClient c;
        QVERIFY(c.open(sim.linkPath()));
        c.send(kStart + kProbe);
        QVERIFY(isProbeAnswer(c.read(10)));
        QVERIFY(c.hungUp());
        QVERIFY(sim.waitForOutput("line unplugged (unplug-after)"));
        QVERIFY(!isLink(sim.linkPath()));
        QVERIFY(sim.waitForOutput("Line plugged in again on port 57 (/dev/pts/"));
        QVERIFY(c.hungUp());
        // And goes again after the same time.
        QVERIFY(sim.waitForOutput("line unplugged (unplug-after)", 5000,
                                  sim.output().indexOf("Line plugged in again")));
        sim.command("fault unplug-after off");
        QVERIFY(sim.waitForOutput("faults: replug-after 300 ms\n"));
        QTRY_VERIFY(QFileInfo(sim.linkPath()).exists());
        sim.command("fault replug-after off");
        QVERIFY(freshOpenAnswers(sim));

        LineClient d;
        QVERIFY(d.open(sim.linkPath()));
        sim.command("unplug");
        QVERIFY(d.hungUp());
        QTRY_VERIFY(!isLink(sim.linkPath()));
        sim.command("replug");
        QTRY_VERIFY(QFileInfo(sim.linkPath()).exists());
        QVERIFY(freshOpenAnswers(sim));
        QCOMPARE(sim.quit(), 0);
        QVERIFY(!isLink(sim.linkPath()));
    }

    // Quiet, the trace goes only to the file; its head line's t0 puts the lines on this
    // machine's monotonic clock, so a request is traced after it was sent.
    void traceFile()
    {
        SimRobot sim;
        const QString path = sim.configHome() + "/trace.jsonl";
        QVERIFY(sim.start({"--port", "58", "--quiet", "--trace", path}));
        LineClient c;
        QVERIFY(c.open(sim.linkPath()));
        const qint64 sentNs = monotonicNs();
        c.send(kStart + kProbe);
        QVERIFY(isProbeAnswer(c.read(10)));
        QCOMPARE(sim.output(), sim.readyLine() + "\n");
        QCOMPARE(sim.quit(), 0);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const double t0 = QJsonDocument::fromJson(f.readLine()).object().value("t0").toDouble();
        const QList<TraceEntry> rx = sim.received();
        QCOMPARE(rx.size(), 2);
        QCOMPARE(rx[0].meaning, "Start");
        const double late = t0 + rx[0].t - double(sentNs) / 1e9;
        QVERIFY2(late >= 0 && late < 1.0, qPrintable(QString::number(late)));
    }
};

QTEST_GUILESS_MAIN(TestSimLine)
#include "tst_simline.moc"
