// What a robot makes of every byte the probe sends, through the simulator's own line model:
// whatever speed the probe sends at and whatever speed the robot listens at, nothing may reach
// it as a command that moves it, starts a cycle or puts it to sleep.
//
// VELMORA_SHOW_READ=1 prints, for each row, the bytes the robot read and its commands.

#include "../sim/simrig.h"
#include "probe/walk.h"
#include "protocol/sci.h"
#include "sim/sciprotocol.h"

#include <QtTest>

using namespace velmora;
using namespace velmora::sim::test;

namespace
{

// One write of the probe's: its speed, its bytes, and the time before the next.
struct Burst {
    int baud;
    QByteArray bytes;
    int pauseMs;
};
using Bursts = QList<Burst>;

const QList<int> kGivenSpeeds{57600, 115200, 19200, 9600, 38400};

QByteArray sci(const sci::Sequence &s)
{
    return QByteArray(reinterpret_cast<const char *>(s.data()), static_cast<qsizetype>(s.size()));
}

// Every speed the walk sends at, whatever it is given.
QList<int> sendSpeeds()
{
    QList<int> all;
    for (int given : kGivenSpeeds) {
        for (int baud : probe::speedsToTry(given)) {
            if (!all.contains(baud))
                all << baud;
        }
    }
    return all;
}

Bursts wakeBursts(int baud)
{
    const probe::Timing t;
    const probe::WakeBursts w = probe::wexbinWakeBursts();
    return {{baud, w.first.join(), link::kWakePulseMs},
            {baud, w.second.join(), t.afterWakeMs + t.linkDelayMs}};
}

Bursts startAndSensors(int baud)
{
    const probe::Timing t;
    return {{baud, sci(sci::sciStart()), t.afterStartMs},
            {baud, sci(sci::sciSensors()), t.answerMs}};
}

// The whole walk when given a speed and never answered: the wake-up at the first speed only.
Bursts walk(int given, bool wexbin)
{
    Bursts out;
    const QList<int> speeds = probe::speedsToTry(given);
    for (int baud : speeds) {
        if (wexbin && baud == speeds.first())
            out += wakeBursts(baud);
        out += startAndSensors(baud);
    }
    return out;
}

bool movesOrSleeps(std::uint8_t opcode)
{
    using sim::Op;
    for (Op op :
         {Op::Power, Op::Spot, Op::Clean, Op::Max, Op::Drive, Op::Motors, Op::ForceSeekingDock}) {
        if (opcode == static_cast<std::uint8_t>(op))
            return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Bursts)

class TestProbeBytes : public QObject
{
    Q_OBJECT

private slots:
    void nothingMoves_data()
    {
        QTest::addColumn<Bursts>("bursts");
        QTest::addColumn<int>("robotBaud");
        const QList<int> speeds = sendSpeeds();
        for (int robot : speeds) {
            for (int sent : speeds) {
                const Bursts s = startAndSensors(sent);
                QTest::addRow("Start at %d, robot at %d", sent, robot) << Bursts{s[0]} << robot;
                QTest::addRow("Sensors 0 at %d, robot at %d", sent, robot) << Bursts{s[1]} << robot;
                // Over the adapter: the computer's speed is no longer the one the robot meets.
                QTest::addRow("Bluetooth wake-up at %d, robot at %d", sent, robot)
                    << wakeBursts(sent) + s << robot;
            }
            // The robot keeps what a burst left unfinished for the next one: the whole walk.
            for (int given : kGivenSpeeds) {
                QTest::addRow("walk given %d, wired, robot at %d", given, robot)
                    << walk(given, false) << robot;
                QTest::addRow("walk given %d, Bluetooth, robot at %d", given, robot)
                    << walk(given, true) << robot;
            }
        }
    }

    void nothingMoves()
    {
        QFETCH(Bursts, bursts);
        QFETCH(int, robotBaud);
        sim::Options o;
        o.baud = robotBaud;
        Rig rig(o); // awake: it reads every byte it gets, in any mode
        for (const Burst &b : bursts) {
            rig.sim->setLineBaud(b.baud);
            rig.send(b.bytes);
            rig.wait(b.pauseMs / 1000.0);
        }
        QByteArray read;
        QStringList commands;
        for (const sim::Trace::Entry &e : rig.trace.entries()) {
            const QString meaning = QString::fromStdString(e.meaning);
            if (e.dir != sim::Trace::Dir::Rx)
                continue;
            // The escape's own line holds the three '+' that went on to the robot as well.
            if (meaning.startsWith(QLatin1String("AT +++ (command mode)")))
                read += "+++";
            if (meaning.startsWith(QLatin1String("AT ")))
                continue;
            read += joined(e.bytes);
            if (meaning.startsWith(QLatin1String("Ignored ")))
                continue;
            commands << meaning;
            QVERIFY2(!movesOrSleeps(e.bytes.front()), qPrintable(meaning));
        }
        if (qEnvironmentVariableIsSet("VELMORA_SHOW_READ")) {
            QStringList values;
            for (const char c : read)
                values << QString::number(static_cast<std::uint8_t>(c));
            qInfo("%s: %s%s", QTest::currentDataTag(),
                  values.isEmpty() ? "nothing" : qPrintable(values.join(u' ')),
                  commands.isEmpty() ? "" : qPrintable(" = " + commands.join(QLatin1String("; "))));
        }
    }
};

QTEST_GUILESS_MAIN(TestProbeBytes)
#include "tst_probebytes.moc"
