// The walk over the tests' port, under a clock of the test's own: the far end of the line plays
// the robot (and its adapter) from what the walk writes, so every branch ends at once, without
// a device or the simulator.

#include "link/fakeserialport.h"
#include "probe/walk.h"
#include "protocol/sci.h"

#include <QMetaMethod>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace velmora;
using Refusal = probe::DeviceOpener::Refusal;

namespace
{

QByteArray bytes(const sci::Sequence &s)
{
    return QByteArray(reinterpret_cast<const char *>(s.data()), static_cast<qsizetype>(s.size()));
}

const QByteArray kStart = bytes(sci::sciStart());
const QByteArray kSensors = bytes(sci::sciSensors());
// A sensor packet a robot at rest sends: 2500 of 2700 mAh, 15978 mV, not charging.
const QByteArray kAnswer = QByteArray::fromHex("00 00 00 00 00 00 00 00 00 00 ff 00 00 00 00 00 "
                                               "00 3e 6a ff 88 19 09 c4 0a 8c");
const QString kRefused = QStringLiteral("The device refused the open.");

// The walk ends in the same diagnosis everywhere; what to do is in the system's own words.
#ifdef Q_OS_WIN
const QString kNotAllowedWords = QStringLiteral("no permissions to grant");
const QString kNoHolderWords = QStringLiteral("Windows does not tell which program holds");
#else
const QString kNotAllowedWords = QStringLiteral("%1 belongs to user");
const QString kNoHolderWords = QStringLiteral("No process that this user can see holds it.");
#endif

using Writes = QList<QByteArray>;

Writes wexbinWake()
{
    const probe::WakeBursts b = probe::wexbinWakeBursts();
    return b.first + b.second;
}

// Start and Sensors at each of n speeds.
Writes startAndSensors(int n)
{
    Writes w;
    for (int i = 0; i < n; ++i)
        w << kStart << kSensors;
    return w;
}

// The far end of the line, and what the walk is asked.
struct Scene {
    QString adapter = QStringLiteral("krennet");
    int given = 57600;
    QList<int> answersAt = {}; // speeds at which a sensor request is answered, 40 ms later
    QByteArray answer = kAnswer;
    bool rts = true;
    bool adapterReplies = false; // the Bluetooth adapter answers each AT line "OK"
    Refusal refusal = Refusal::None;
    int refuseOpen = 1;          // which open is refused, counting from 1
    QByteArray unplugAfter = {}; // the line is pulled 10 ms after this write
    bool missing = false;        // the device path given does not exist
};

class ScriptedClock : public probe::WalkClock
{
public:
    qint64 nowMs() const override { return now_; }

    void wait(int ms) override
    {
        stopped_ = false;
        const qint64 end = now_ + ms;
        while (!stopped_ && !due_.isEmpty() && due_.first().first <= end) {
            const auto [at, what] = due_.takeFirst();
            now_ = at;
            what();
        }
        if (!stopped_)
            now_ = end;
    }

    void stop() override { stopped_ = true; }

    // Runs what ms from now, within the wait that reaches that time.
    void after(int ms, std::function<void()> what)
    {
        const qint64 at = now_ + ms;
        const auto later = std::find_if(due_.begin(), due_.end(),
                                        [at](const auto &due) { return due.first > at; });
        due_.insert(later, {at, std::move(what)});
    }

private:
    qint64 now_ = 0;
    bool stopped_ = false;
    QList<QPair<qint64, std::function<void()>>> due_;
};

class ScriptedOpener : public probe::DeviceOpener
{
public:
    void useDevicePath(const QString &p) override { path = p; }
    Refusal openRefusal() const override { return refusal; }

    Refusal refusal = Refusal::None;
    QString path;
};

// Tells whether anything still listens to it.
class ListenedPort : public link::FakeSerialPort
{
public:
    using QObject::isSignalConnected;
};

class FarEnd
{
public:
    explicit FarEnd(const Scene &s) : scene(s)
    {
        port.setWriteWatcher([this](const QByteArray &b) { onWrite(b); });
    }

    probe::Report walk(const QString &device)
    {
        probe::Request request;
        request.port = device;
        request.adapterName = scene.adapter;
        for (const link::AdapterProduct &p : link::kAdapters) {
            if (scene.adapter == QLatin1String(p.probeName))
                request.adapter = p.kind;
        }
        request.settings = probe::withSpeed(request.settings, scene.given);
        port.setRtsSupported(scene.rts);
        sensorRequests_ = 0;
        if (scene.refuseOpen == 1)
            refuseNextOpen();
        return probe::walk(request, probe::Line{port, opener, clock}, {});
    }

    // The speeds of the opens that succeeded.
    QList<int> opened() const
    {
        QList<int> speeds;
        static const QRegularExpression open(QStringLiteral("^open \\d+ (\\d+),"));
        for (const QString &line : port.log()) {
            if (const QRegularExpressionMatch m = open.match(line); m.hasMatch())
                speeds << m.captured(1).toInt();
        }
        return speeds;
    }

    Scene scene;
    ListenedPort port;
    ScriptedClock clock;
    ScriptedOpener opener;
    QList<QPair<qint64, QByteArray>> writes; // when, what

private:
    void refuseNextOpen()
    {
        if (scene.refusal == Refusal::None)
            return;
        port.failNextOpen(kRefused);
        opener.refusal = scene.refusal;
    }

    void onWrite(const QByteArray &b)
    {
        // The walk's bytes are its own memory, valid only during the write.
        writes << qMakePair(clock.nowMs(), QByteArray(b.constData(), b.size()));
        if (b == scene.unplugAfter)
            clock.after(10, [this] { port.unplug(); });
        if (scene.adapterReplies && b.endsWith('\r'))
            clock.after(5, [this] { port.injectReceived("OK\r\n"); });
        if (b != kSensors)
            return;
        if (scene.answersAt.contains(port.lineSettings().baud))
            clock.after(40, [this] { port.injectReceived(scene.answer); });
        if (scene.refuseOpen == ++sensorRequests_ + 1)
            refuseNextOpen();
    }

    int sensorRequests_ = 0;
};

} // namespace

Q_DECLARE_METATYPE(Scene)

class TestProbeWalk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        device_ = dir_.filePath(QStringLiteral("ttyFAKE0"));
        QFile file(device_);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void diagnoses_data()
    {
        QTest::addColumn<Scene>("scene");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("diagnosis"); // its first words; %1 is the device
        QTest::addColumn<QList<int>>("opened");
        QTest::addColumn<Writes>("writes");
        QTest::addColumn<QStringList>("words"); // in the steps, details or what to do

        const QString silent = QStringLiteral("The line is silent at every speed: nothing came "
                                              "back at 57600, 115200 and 19200 baud.");
        const QList<int> three{57600, 115200, 19200};

        QTest::newRow("answers at the given speed")
            << Scene{.answersAt = {57600}} << 0 << "The robot answers at 57600,n,8,1."
            << QList<int>{57600} << startAndSensors(1)
            << QStringList{"Pulsed RTS", "26 bytes came back within 40 ms", "as given"};
        QTest::newRow("answers at 115200 only")
            << Scene{.answersAt = {115200}} << 0 << "The robot answers at 115200,n,8,1."
            << QList<int>{57600, 115200} << startAndSensors(2)
            << QStringList{"Nothing came back within 500 ms", "Type 115200,n,8,1 into"};
        QTest::newRow("answers at 19200 only, 38400 given")
            << Scene{.given = 38400, .answersAt = {19200}} << 0
            << "The robot answers at 19200,n,8,1." << QList<int>{38400, 57600, 115200, 19200}
            << startAndSensors(4) << QStringList{"Nothing came back within 375 ms"};
        QTest::newRow("answers through the Bluetooth adapter")
            << Scene{.adapter = "wexbin", .answersAt = {57600}, .adapterReplies = true} << 0
            << "The robot answers at 57600,n,8,1." << QList<int>{57600}
            << wexbinWake() + startAndSensors(1)
            << QStringList{"\"OK\\r\\nOK\\r\\nOK\\r\\nOK\\r\\nOK\\r\\n\" (the adapter's answers)"};
        QTest::newRow("an odd answer still counts")
            << Scene{.answersAt = {57600}, .answer = QByteArray(kAnswer).replace(21, 1, "\x64")}
            << 0 << "The robot answers at 57600" << QList<int>{57600} << startAndSensors(1)
            << QStringList{"Warning: the battery temperature, 100 C"};

        QTest::newRow("silent, wired") << Scene{} << 5 << silent << three << startAndSensors(3)
                                       << QStringList{"1. The robot is asleep", "3. The cable",
                                                      "give that speed with --settings"};
        QTest::newRow("silent, no RTS line")
            << Scene{.rts = false} << 5 << silent << three << startAndSensors(3)
            << QStringList{"which this line cannot carry", "1. The wake-up could not be sent"};
        QTest::newRow("silent, the Bluetooth adapter answers")
            << Scene{.adapter = "wexbin", .adapterReplies = true} << 5 << silent << three
            << wexbinWake() + startAndSensors(3)
            << QStringList{"3. The adapter answers", "cannot be reached over Bluetooth"};

        QTest::newRow("text at the first speed")
            << Scene{.answersAt = {57600}, .answer = "OK\r\n"} << 6
            << "Something answers at 57600 baud, but not as the robot." << three
            << startAndSensors(3)
            << QStringList{"4 bytes came back within 40 ms, but not",
                           "1. Another device on this port"};
        QTest::newRow("noise at every speed")
            << Scene{.answersAt = three, .answer = QByteArray(9, '\xf0')} << 6
            << "Something answers at 57600, 115200 and 19200 baud" << three << startAndSensors(3)
            << QStringList{"1. Wrong speed"};
        QTest::newRow("the answer out of step")
            << Scene{.answersAt = {57600}, .answer = "\xaa\xaa" + kAnswer} << 6
            << "Something answers at 57600 baud" << three << startAndSensors(3)
            << QStringList{"1. Bytes out of step", "after 2 bytes and followed by 0 more"};

        QTest::newRow("no such device")
            << Scene{.missing = true} << 2 << "There is no device %1." << QList<int>{} << Writes{}
            << QStringList{"%1 does not exist."};
        QTest::newRow("open refused: no device")
            << Scene{.refusal = Refusal::NoDevice} << 2 << "There is no port %1." << QList<int>{}
            << Writes{} << QStringList{kRefused, "Run the probe again with one of the port"};
        QTest::newRow("open refused: not allowed")
            << Scene{.refusal = Refusal::NotAllowed} << 3 << "You may not open %1: permission"
            << QList<int>{} << Writes{} << QStringList{kNotAllowedWords};
        QTest::newRow("open refused: busy")
            << Scene{.refusal = Refusal::Busy} << 4 << "%1 is busy" << QList<int>{} << Writes{}
            << QStringList{kNoHolderWords};
        QTest::newRow("open refused: settings")
            << Scene{.refusal = Refusal::Settings} << 1 << kRefused << QList<int>{} << Writes{}
            << QStringList{"See velmora-probe --help."};
        QTest::newRow("open refused: other") << Scene{.refusal = Refusal::Other} << 1 << kRefused
                                             << QList<int>{} << Writes{} << QStringList{};

        const QStringList gone{"The port reported: ", "Check the adapter's plug"};
        const QString wentAway = QStringLiteral("%1 went away in the middle of the walk.");
        QTest::newRow("gone by the second open")
            << Scene{.refusal = Refusal::NoDevice, .refuseOpen = 2} << 2 << wentAway
            << QList<int>{57600} << startAndSensors(1) << gone;
        QTest::newRow("unplugged waiting for the answer")
            << Scene{.unplugAfter = kSensors} << 2 << wentAway << QList<int>{57600}
            << startAndSensors(1) << gone + QStringList{"the device went away"};
        QTest::newRow("unplugged after Start") << Scene{.unplugAfter = kStart} << 2 << wentAway
                                               << QList<int>{57600} << Writes{kStart} << gone;
        QTest::newRow("unplugged in the wake-up pulse")
            << Scene{.adapter = "wexbin", .unplugAfter = wexbinWake()[2]} << 2 << wentAway
            << QList<int>{57600} << probe::wexbinWakeBursts().first << gone;
        QTest::newRow("unplugged waiting after the wake-up")
            << Scene{.adapter = "wexbin", .unplugAfter = wexbinWake().last()} << 2 << wentAway
            << QList<int>{57600} << wexbinWake() << gone;
    }

    void diagnoses()
    {
        QFETCH(Scene, scene);
        QFETCH(int, status);
        QFETCH(QString, diagnosis);
        QFETCH(QList<int>, opened);
        QFETCH(Writes, writes);
        QFETCH(QStringList, words);

        const QString device = scene.missing ? dir_.filePath(QStringLiteral("gone")) : device_;
        auto withDevice = [&](const QString &s) { return s.contains("%1") ? s.arg(device) : s; };
        FarEnd far(scene);
        const probe::Report r = far.walk(device);
        const QString shown = r.steps.join(u'\n') + QStringLiteral("\n=> ") + r.diagnosis + u'\n' +
                              r.details.join(u'\n') + u'\n' + r.todo.join(u'\n');

        QVERIFY2(r.diagnosis.startsWith(withDevice(diagnosis)), qPrintable(shown));
        QCOMPARE(int(r.status), status);
        for (const QString &w : words)
            QVERIFY2(shown.contains(withDevice(w)),
                     qPrintable(w + QStringLiteral(" not in:\n") + shown));
        QCOMPARE(far.opener.path, device);
        QCOMPARE(far.opened(), opened);
        // Only what velmora-probe --help lists goes out, and in its order.
        Writes wrote;
        for (const auto &w : std::as_const(far.writes))
            wrote << w.second;
        QCOMPARE(wrote, writes);
        // Every open is closed again, whatever the diagnosis.
        QVERIFY(!far.port.portOpen());
    }

    // The robot's own times: about 2 s after its wake-up, 20 ms after Start; and a silent walk
    // is over within 5 s.
    void pacing_data()
    {
        QTest::addColumn<Scene>("scene");
        QTest::addColumn<bool>("pulsed"); // the wake-up pulse went out, for its full time

        QTest::newRow("wired") << Scene{} << true;
        QTest::newRow("wired, no RTS line") << Scene{.rts = false} << false;
        QTest::newRow("Bluetooth") << Scene{.adapter = "wexbin"} << true;
        QTest::newRow("Bluetooth, 38400 given")
            << Scene{.adapter = "wexbin", .given = 38400} << true;
    }

    void pacing()
    {
        QFETCH(Scene, scene);
        QFETCH(bool, pulsed);

        FarEnd far(scene);
        QCOMPARE(far.walk(device_).status, probe::Silent);
        QVERIFY2(far.clock.nowMs() < 5000, qPrintable(QString::number(far.clock.nowMs())));

        const qint64 wakeEnds = pulsed ? link::kWakePulseMs : 0;
        qint64 lastStart = -1;
        for (const auto &[at, b] : std::as_const(far.writes)) {
            if (b == kStart) {
                QVERIFY2(lastStart >= 0 || at >= wakeEnds + link::kWakeSettleMs,
                         qPrintable(QStringLiteral("first Start at %1 ms").arg(at)));
                lastStart = at;
            } else if (b == kSensors) {
                QVERIFY(lastStart >= 0);
                QVERIFY2(at - lastStart >= 20, qPrintable(QString::number(at - lastStart)));
            } else if (b == probe::wexbinWakeBursts().second.first()) {
                QVERIFY2(at >= link::kWakePulseMs, qPrintable(QString::number(at)));
            }
        }
        QVERIFY(lastStart >= 0);
    }

    // The port outlives the walk: the console, or a second walk, goes on using it, and a loss
    // it reports then is no business of the walk that ended.
    void portAfterTheWalk()
    {
        FarEnd far(Scene{.answersAt = {57600}});
        QCOMPARE(far.walk(device_).status, probe::RobotAnswers);
        const bool stillListens =
            far.port.isSignalConnected(QMetaMethod::fromSignal(&link::SerialPort::deviceLost));
        QVERIFY(far.port.setPortOpen(true));
        far.port.unplug();

        far.scene = Scene{.unplugAfter = kSensors};
        const probe::Report second = far.walk(device_);
        QCOMPARE(second.status, probe::NoSuchPort);
        QVERIFY2(second.diagnosis.endsWith(QStringLiteral("went away in the middle of the walk.")),
                 qPrintable(second.diagnosis));
        QVERIFY(!stillListens);
    }

private:
    QTemporaryDir dir_;
    QString device_;
};

QTEST_GUILESS_MAIN(TestProbeWalk)
#include "tst_probewalk.moc"
