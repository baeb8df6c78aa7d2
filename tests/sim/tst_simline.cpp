// velmora-sim as a program: its port link, its pseudo-terminal, its standard input, its
// faults and its trace, seen from a small client on the other end of the line.

#include "simharness.h"

#include <QtTest>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>

#include <csignal>
#include <poll.h>
#include <unistd.h>

using simtest::bytes;
using simtest::LineClient;
using simtest::SimProcess;

namespace {

const QByteArray kStart = bytes({128});
const QByteArray kSensors0 = bytes({142, 0});
// Packet 3 ends with the capacity, 2700 mAh: 10 140. A probe whose answer is known.
const QByteArray kProbe = bytes({142, 3});

bool isProbeAnswer(const QByteArray &b)
{
    return b.size() == 10 && quint8(b[8]) == 10 && quint8(b[9]) == 140;
}

// A whole packet 0 of an idle robot: nothing pressed, remote 255, capacity 2700.
bool looksLikePacket0(const QByteArray &b)
{
    return b.size() == 26 && b[0] == 0 && quint8(b[10]) == 255 && quint8(b[24]) == 10 && quint8(b[25]) == 140;
}

QString target(const QString &link) { return QFileInfo(link).symLinkTarget(); }

bool startWithClient(SimProcess &sim, LineClient &client, const QStringList &args)
{
    return sim.start(args) && client.open(sim.linkPath());
}

// A fresh open of the port reaches a robot that is past Start.
bool freshOpenAnswers(const SimProcess &sim)
{
    LineClient c;
    return c.open(sim.linkPath()) && c.send(kProbe) && isProbeAnswer(c.read(10));
}

} // namespace

class TestSimLine : public QObject
{
    Q_OBJECT

private slots:
    void readyLineAndLink();
    void staleLinkReplaced();
    void refusesToReplaceAFile();
    void defaultFolderUnderHome();
    void exits_data();
    void exits();
    void keepsRunningWhenStdinEnds();
    void servesAcrossReopen();
    void ignoredDataDoesNotDesync();
    void atWake_data();
    void atWake();
    void renameShowsInStatus();
    void faultPieces_data();
    void faultPieces();
    void faultSplitGap();
    void faultDelay();
    void faultDropEvery();
    void faultAtRunTime();
    void unplugAfterAndReplug();
    void unplugCommand();
    void traceFile();
    void badOptions();
};

void TestSimLine::readyLineAndLink()
{
    SimProcess sim;
    QVERIFY2(sim.start({"--port", "41"}), qPrintable(sim.output()));
    QCOMPARE(sim.port(), 41);
    QVERIFY(sim.output().startsWith(QStringLiteral("Simulated robot ready on port 41 (%1)\n").arg(sim.device())));
    QCOMPARE(target(sim.linkPath()), sim.device());
    QCOMPARE(sim.quit(), 0);
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());
}

void TestSimLine::staleLinkReplaced()
{
    QTemporaryDir home;
    QVERIFY(QDir().mkpath(home.path() + "/velmora/ports"));
    const QString link = home.path() + "/velmora/ports/com42";
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/velmora-gone"), link));
    SimProcess sim(home.path());
    QVERIFY2(sim.start({"--port", "42"}), qPrintable(sim.output()));
    QCOMPARE(target(link), sim.device());
    LineClient c;
    QVERIFY(c.open(link));
    c.send(kStart + kProbe);
    QVERIFY(isProbeAnswer(c.read(10)));
    QCOMPARE(sim.quit(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimLine::refusesToReplaceAFile()
{
    QTemporaryDir home;
    QVERIFY(QDir().mkpath(home.path() + "/velmora/ports"));
    QFile file(home.path() + "/velmora/ports/com43");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    SimProcess sim(home.path());
    QVERIFY(!sim.start({"--port", "43"}));
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process().exitCode(), 1);
    QVERIFY(QString::fromLocal8Bit(sim.process().readAllStandardError()).contains(QLatin1String("is not a link")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void TestSimLine::defaultFolderUnderHome()
{
    QTemporaryDir home;
    SimProcess sim(home.path()); // replaced below: no XDG_CONFIG_HOME at all
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    env.insert(QStringLiteral("HOME"), home.path());
    sim.process().setProcessEnvironment(env);
    QVERIFY2(sim.start({"--port", "44"}), qPrintable(sim.output()));
    const QString link = home.path() + "/.config/velmora/ports/com44";
    QCOMPARE(target(link), sim.device());
    QCOMPARE(sim.quit(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimLine::exits_data()
{
    QTest::addColumn<int>("signal"); // 0: the quit command
    QTest::newRow("quit") << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestSimLine::exits()
{
    QFETCH(int, signal);
    SimProcess sim;
    QVERIFY(sim.start({"--port", "45"}));
    QVERIFY(QFileInfo(sim.linkPath()).isSymLink());
    if (signal == 0)
        sim.command(QStringLiteral("quit"));
    else
        ::kill(static_cast<pid_t>(sim.process().processId()), signal);
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());
}

void TestSimLine::keepsRunningWhenStdinEnds()
{
    SimProcess sim;
    QVERIFY(sim.start({"--port", "46"}));
    sim.process().closeWriteChannel();
    LineClient c;
    QVERIFY(c.open(sim.linkPath()));
    c.send(kStart + kProbe);
    QVERIFY(isProbeAnswer(c.read(10)));
    QCOMPARE(sim.process().state(), QProcess::Running);
}

// The console opens and closes the port again and again; the robot keeps its state and
// answers each time, and what was left unread at a close does not greet the next open.
// The simulator learns of a close only a moment after it happens, so each round waits for
// that before opening again, as a person reconnecting by hand always does.
void TestSimLine::servesAcrossReopen()
{
    SimProcess sim;
    QVERIFY(sim.start({"--port", "47"}));
    for (int round = 0; round < 3; ++round) {
        LineClient c;
        QVERIFY(c.open(sim.linkPath()));
        if (round == 0)
            c.send(kStart);
        c.send(kProbe);
        const QByteArray got = c.read(10);
        QVERIFY2(isProbeAnswer(got), qPrintable(QStringLiteral("round %1: %2\n%3").arg(round).arg(QString::fromLatin1(got.toHex(' '))).arg(sim.output())));
        const qsizetype mark = sim.output().size();
        c.send(kSensors0); // left unread
        QVERIFY(sim.waitForOutput(QStringLiteral("tx   Sensors packet 0 answer"), 5000, mark));
        c.close();
        QVERIFY(sim.waitForOutput(QStringLiteral("info line closed by the other end"), 5000, mark));
    }
    QVERIFY(freshOpenAnswers(sim));
}

void TestSimLine::ignoredDataDoesNotDesync()
{
    SimProcess sim;
    LineClient c;
    QVERIFY(startWithClient(sim, c, {"--port", "48"}));
    // Passive mode: the drive is ignored with its four data bytes, the 142 among them.
    c.send(kStart + bytes({137, 0, 142, 128, 0}) + bytes({137, 142, 0, 142, 0}) + kProbe);
    QVERIFY(isProbeAnswer(c.read(10)));
    QVERIFY(sim.waitForOutput(QStringLiteral("Drive 142 mm/s straight (ignored in passive mode)  [137 0 142 128 0]")));
}

void TestSimLine::atWake_data()
{
    QTest::addColumn<bool>("replies");
    QTest::newRow("silent adapter") << false;
    QTest::newRow("adapter replies") << true;
}

void TestSimLine::atWake()
{
    QFETCH(bool, replies);
    SimProcess sim;
    QStringList args{"--port", "49", "--asleep"};
    if (replies)
        args << "--adapter-replies";
    QVERIFY(sim.start(args));
    LineClient c;
    QVERIFY(c.open(sim.linkPath()));
    c.send(kStart + kSensors0); // asleep: nothing
    // The five wake lines, each as its own write, as the console sends them.
    for (const char *line : {"+++\r", "ATSW22,6,1,1\r", "ATSW23,6,0,1\r", "ATSW23,6,1,1\r", "ATMD\r"})
        c.send(QByteArray(line));
    c.send(kStart + kProbe);
    const QByteArray expectedReplies = replies ? QByteArray("OK\r\nOK\r\nOK\r\nOK\r\nOK\r\n") : QByteArray();
    const QByteArray got = c.read(int(expectedReplies.size()) + 10);
    QCOMPARE(got.left(expectedReplies.size()), expectedReplies);
    QVERIFY(isProbeAnswer(got.mid(expectedReplies.size())));
    QVERIFY(sim.waitForOutput(QStringLiteral("robot woken by the Device Detect pulse")));
}

void TestSimLine::renameShowsInStatus()
{
    SimProcess sim;
    LineClient c;
    QVERIFY(startWithClient(sim, c, {"--port", "50"}));
    c.send("+++\r");
    c.send("ATSN,Hall robot\r");
    c.send("ATMD\r");
    c.send(kStart + kProbe);
    QVERIFY(isProbeAnswer(c.read(10)));
    sim.command(QStringLiteral("status"));
    QVERIFY(sim.waitForOutput(QStringLiteral("adapter: \"Hall robot\", data mode")));
}

void TestSimLine::faultPieces_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::addColumn<QByteArray>("afterBytes");
    QTest::newRow("stray before") << QStringList{"--stray-before", "3"} << 3 << 0 << QByteArray();
    QTest::newRow("stray after") << QStringList{"--stray-after", "2"} << 0 << 2 << QByteArray(2, char(0xaa));
    QTest::newRow("extra byte") << QStringList{"--extra-byte"} << 0 << 1 << QByteArray(1, char(0));
    QTest::newRow("extra byte and stray after") << QStringList{"--extra-byte", "--stray-after", "1"} << 0 << 2
                                                << bytes({0, 0xaa});
}

void TestSimLine::faultPieces()
{
    QFETCH(QStringList, args);
    QFETCH(int, before);
    QFETCH(int, after);
    QFETCH(QByteArray, afterBytes);
    SimProcess sim;
    LineClient c;
    QVERIFY(startWithClient(sim, c, QStringList{"--port", "51"} + args));
    for (int i = 0; i < 2; ++i) {
        c.send(i == 0 ? kStart + kSensors0 : kSensors0);
        const QByteArray got = c.read(before + 26 + after);
        QCOMPARE(got.size(), before + 26 + after);
        QCOMPARE(got.left(before), QByteArray(before, char(0xaa)));
        QVERIFY(looksLikePacket0(got.mid(before, 26)));
        QCOMPARE(got.mid(before + 26), afterBytes);
    }
    // Nothing more than that: the next answer starts right after.
    c.send(kProbe);
    QVERIFY(isProbeAnswer(c.read(before + 10 + after).mid(before, 10)));
}

void TestSimLine::faultSplitGap()
{
    SimProcess sim;
    LineClient c;
    QVERIFY(startWithClient(sim, c, {"--port", "52", "--split", "10,16", "--gap", "80"}));
    c.send(kStart);
    for (int i = 0; i < 3; ++i) {
        c.send(kSensors0);
        const QList<LineClient::Piece> pieces = c.readPieces(26, 3000);
        QByteArray all;
        qint64 tenthAt = -1, lastAt = -1;
        for (const LineClient::Piece &p : pieces) {
            all += p.bytes;
            if (tenthAt < 0 && all.size() >= 10)
                tenthAt = p.atNs;
            lastAt = p.atNs;
        }
        QVERIFY(looksLikePacket0(all));
        // The first ten bytes come together; the rest follow about 80 ms later.
        QCOMPARE(pieces.first().bytes.size(), 10);
        const double gapMs = double(lastAt - tenthAt) / 1e6;
        QVERIFY2(gapMs >= 70 && gapMs < 400, qPrintable(QString::number(gapMs)));
    }
}

void TestSimLine::faultDelay()
{
    SimProcess sim;
    LineClient c;
    QVERIFY(startWithClient(sim, c, {"--port", "53", "--delay", "150"}));
    c.send(kStart);
    const qint64 sent = simtest::monotonicNs();
    c.send(kSensors0);
    const QList<LineClient::Piece> pieces = c.readPieces(26, 3000);
    QVERIFY(!pieces.isEmpty());
    const double delayMs = double(pieces.first().atNs - sent) / 1e6;
    QVERIFY2(delayMs >= 145 && delayMs < 600, qPrintable(QString::number(delayMs)));
}

void TestSimLine::faultDropEvery()
{
    SimProcess sim;
    LineClient c;
    QVERIFY(startWithClient(sim, c, {"--port", "54", "--drop-every", "2"}));
    // Answers 1 and 3 come, 2 is left out: the probe's answer follows the first directly.
    c.send(kStart + kSensors0 + kSensors0 + kProbe);
    const QByteArray got = c.read(36);
    QVERIFY(looksLikePacket0(got.left(26)));
    QVERIFY(isProbeAnswer(got.mid(26)));
    QVERIFY(sim.waitForOutput(QStringLiteral("Sensors packet 0 answer left out (drop-every 2)")));
}

void TestSimLine::faultAtRunTime()
{
    SimProcess sim;
    LineClient c;
    QVERIFY(startWithClient(sim, c, {"--port", "55"}));
    c.send(kStart + kProbe);
    QVERIFY(isProbeAnswer(c.read(10)));
    sim.command(QStringLiteral("fault stray-before 2 extra-byte"));
    QVERIFY(sim.waitForOutput(QStringLiteral("faults: stray-before 2, extra-byte\n")));
    c.send(kProbe);
    const QByteArray got = c.read(13);
    QCOMPARE(got.left(2), QByteArray(2, char(0xaa)));
    QVERIFY(isProbeAnswer(got.mid(2, 10)));
    QCOMPARE(got.right(1), QByteArray(1, char(0)));
    sim.command(QStringLiteral("fault off"));
    QVERIFY(sim.waitForOutput(QStringLiteral("faults: none\n")));
    c.send(kProbe);
    QVERIFY(isProbeAnswer(c.read(10)));
}

void TestSimLine::unplugAfterAndReplug()
{
    SimProcess sim;
    LineClient c;
    QVERIFY(startWithClient(sim, c, {"--port", "56", "--unplug-after", "400"}));
    c.send(kStart + kProbe);
    QVERIFY(isProbeAnswer(c.read(10)));
    // The other end goes away: the client's poll reports a hang-up and reads fail.
    const short ev = c.waitEvents(POLLIN, 5000);
    QVERIFY2(ev & (POLLHUP | POLLERR), qPrintable(QString::number(ev)));
    char b;
    const ssize_t r = ::read(c.fd(), &b, 1);
    QVERIFY(r == 0 || (r < 0 && errno == EIO));
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());
    QVERIFY(sim.waitForOutput(QStringLiteral("line unplugged (unplug-after)")));

    const qsizetype mark = sim.output().size();
    sim.command(QStringLiteral("replug"));
    QVERIFY(sim.waitForOutput(QStringLiteral("Line plugged in again on port 56 (/dev/pts/"), 5000, mark));
    QVERIFY(QFileInfo(sim.linkPath()).isSymLink());
    QVERIFY(QFileInfo(sim.linkPath()).exists());
    // The old client stays dead; a fresh open reaches the robot, which kept its mode.
    QVERIFY(c.waitEvents(POLLIN, 0) & (POLLHUP | POLLERR));
    QVERIFY(freshOpenAnswers(sim));
}

void TestSimLine::unplugCommand()
{
    SimProcess sim;
    QVERIFY(sim.start({"--port", "57", "--unplug-after", "200", "--replug-after", "200"}));
    // With both, the line goes and comes back by itself, again and again.
    for (int round = 0; round < 2; ++round) {
        const qsizetype mark = sim.output().size();
        QVERIFY(sim.waitForOutput(QStringLiteral("line unplugged (unplug-after)"), 5000, mark));
        QVERIFY(sim.waitForOutput(QStringLiteral("Line plugged in again on port 57"), 5000, mark));
    }
    sim.command(QStringLiteral("fault unplug-after off"));
    QVERIFY(sim.waitForOutput(QStringLiteral("faults: replug-after 200 ms\n")));
    // If the line is already down at this moment, wait for it to come back first.
    if (!QFileInfo(sim.linkPath()).exists())
        QVERIFY(sim.waitForOutput(QStringLiteral("Line plugged in again"), 5000, sim.output().size()));
    QTRY_VERIFY(QFileInfo(sim.linkPath()).exists());

    LineClient c;
    QVERIFY(c.open(sim.linkPath()));
    c.send(kStart + kProbe);
    QVERIFY(isProbeAnswer(c.read(10)));
    sim.command(QStringLiteral("fault replug-after off"));
    sim.command(QStringLiteral("unplug"));
    QVERIFY2(c.waitEvents(POLLIN, 5000) & (POLLHUP | POLLERR), qPrintable(sim.output()));
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());
    sim.command(QStringLiteral("replug"));
    QVERIFY(sim.waitForOutput(QStringLiteral("Line plugged in again on port 57"), 5000, sim.output().size() - 1));
    QVERIFY(freshOpenAnswers(sim));
    QCOMPARE(sim.quit(), 0);
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());
}

void TestSimLine::traceFile()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/trace.jsonl";
    SimProcess sim;
    QVERIFY(sim.start({"--port", "58", "--quiet", "--trace", path}));
    QCOMPARE(sim.output(), sim.readyLine() + "\n"); // quiet: nothing but the ready line
    LineClient c;
    QVERIFY(c.open(sim.linkPath()));
    c.send(kStart);
    c.send(bytes({137, 0, 255, 0, 0}));
    const qint64 sentNs = simtest::monotonicNs();
    c.send(kSensors0);
    QVERIFY(looksLikePacket0(c.read(26)));
    QCOMPARE(sim.quit(), 0);

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QList<QJsonObject> lines;
    while (!f.atEnd()) {
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(f.readLine(), &err);
        QVERIFY2(err.error == QJsonParseError::NoError, qPrintable(err.errorString()));
        lines << doc.object();
    }
    QVERIFY(lines.size() >= 4);
    const QJsonObject head = lines.first();
    QCOMPARE(head.value("t").toDouble(), 0.0);
    QCOMPARE(head.value("dir").toString(), QStringLiteral("info"));
    QCOMPARE(head.value("clock").toString(), QStringLiteral("monotonic"));
    const double t0 = head.value("t0").toDouble();

    QList<QJsonObject> rx, tx;
    double lastT = 0;
    for (const QJsonObject &o : lines) {
        QVERIFY(o.value("t").toDouble() >= lastT);
        lastT = o.value("t").toDouble();
        if (o.value("dir") == QStringLiteral("rx"))
            rx << o;
        else if (o.value("dir") == QStringLiteral("tx"))
            tx << o;
    }
    QCOMPARE(rx.size(), 3);
    QCOMPARE(rx[0].value("meaning").toString(), QStringLiteral("Start"));
    QCOMPARE(rx[0].value("bytes").toArray(), QJsonArray({128}));
    QCOMPARE(rx[1].value("meaning").toString(),
             QStringLiteral("Drive 255 mm/s radius 0 (undefined: turning in place counter-clockwise) (ignored in passive mode)"));
    QCOMPARE(rx[2].value("meaning").toString(), QStringLiteral("Sensors packet 0"));
    QCOMPARE(tx.size(), 1);
    QCOMPARE(tx[0].value("bytes").toArray().size(), 26);
    QVERIFY(tx[0].value("t").toDouble() >= rx[2].value("t").toDouble());
    // t0 puts the lines on this machine's monotonic clock: the request was traced after it was sent.
    const double rxAbs = t0 + rx[2].value("t").toDouble();
    QVERIFY(rxAbs >= double(sentNs) / 1e9);
    QVERIFY(rxAbs - double(sentNs) / 1e9 < 1.0);
}

void TestSimLine::badOptions()
{
    SimProcess sim;
    QVERIFY(!sim.start({"--split", "10"}));
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process().exitCode(), 2);
    QVERIFY(QString::fromLocal8Bit(sim.process().readAllStandardError()).contains(QLatin1String("usage: velmora-sim")));
}

QTEST_GUILESS_MAIN(TestSimLine)
#include "tst_simline.moc"
