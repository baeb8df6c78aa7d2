#include "probe/findings.h"

#include "link/portnames.h"
#include "probe/advice.h"
#include "probe/system.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

namespace velmora::probe
{

void Findings::step(const QString &text)
{
    report.steps << text;
    if (onStep)
        onStep(text);
}

Report Findings::finish(Status status, const QString &diagnosis)
{
    report.status = status;
    report.diagnosis = diagnosis;
    report.facts[QStringLiteral("exit")] = status;
    report.facts[QStringLiteral("diagnosis")] = diagnosis;
    report.facts[QStringLiteral("steps")] = QJsonArray::fromStringList(report.steps);
    report.facts[QStringLiteral("details")] = QJsonArray::fromStringList(report.details);
    report.facts[QStringLiteral("todo")] = QJsonArray::fromStringList(report.todo);
    return report;
}

QString bytesText(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(n);
}

namespace
{

QStringList portList()
{
    QStringList lines;
    const QList<link::PortChoice> ports = link::availablePorts();
    if (ports.isEmpty())
        lines << QStringLiteral("No serial ports were found on this machine.");
    else
        lines << QStringLiteral("Ports on this machine:");
    for (const link::PortChoice &p : ports)
        lines << QStringLiteral("  ") + link::portChoiceLine(p);
    const QStringList stable = stableNames();
    lines << stableNamesHeading(!stable.isEmpty());
    for (const QString &s : stable)
        lines << QStringLiteral("  ") + s;
    return lines;
}

QString speedList(const QList<int> &speeds)
{
    QStringList s;
    for (int b : speeds)
        s << QString::number(b);
    if (s.size() > 1)
        return s.mid(0, s.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
               s.last();
    return s.join(QString());
}

// Over Bluetooth the speed set here never reaches the robot: the adapter talks to it at
// the speed it was set up with.
QString otherSpeedCause(const Request &request)
{
    if (request.adapter == link::AdapterKind::Wexbin)
        return QStringLiteral("A robot set to another speed with its Baud command cannot be "
                              "reached over Bluetooth: the adapter talks to it at the speed "
                              "the adapter was set up for, whatever speed is set on this "
                              "side. Set the robot back over a cable.");
    return QStringLiteral("A robot set to another speed with its Baud command answers only "
                          "at that speed: give that speed with --settings RATE,n,8,1.");
}

} // namespace

Report usage(Findings &f, const QString &why)
{
    f.report.todo << QStringLiteral("See velmora-probe --help.");
    return f.finish(Usage, why);
}

Report noSuchPort(Findings &f, const QString &diagnosis, const QString &problem)
{
    f.report.details << problem << portList();
    f.report.todo << noSuchPortTodo();
    return f.finish(NoSuchPort, diagnosis);
}

Report wentAway(Findings &f)
{
    f.report.details << QStringLiteral("The port reported: %1").arg(f.lost) << portList();
    f.report.todo << wentAwayTodo();
    return f.finish(NoSuchPort,
                    QStringLiteral("%1 went away in the middle of the walk.").arg(f.device));
}

Report notAllowed(Findings &f)
{
    const std::optional<DeviceAccess> a = deviceAccess(f.device);
    const Advice advice = notAllowedAdvice(f.device, a);
    f.report.details << advice.details;
    f.report.todo << advice.todo;
    // Owner, group and mode exist only where the system gives devices such things.
    if (a) {
        QJsonObject access;
        access[QStringLiteral("owner")] = a->owner;
        access[QStringLiteral("group")] = a->group;
        access[QStringLiteral("mode")] = a->mode;
        access[QStringLiteral("user")] = a->user;
        access[QStringLiteral("in_group")] = a->inGroupNow;
        f.report.facts[QStringLiteral("access")] = access;
    }
    return f.finish(NotAllowed,
                    QStringLiteral("You may not open %1: permission denied.").arg(f.device));
}

Report busy(Findings &f)
{
    const QList<Holder> holders = deviceHolders(f.device);
    QJsonArray list;
    bool anyBlocker = false;
    for (const Holder &h : holders) {
        QJsonObject o;
        o[QStringLiteral("pid")] = h.pid;
        o[QStringLiteral("command")] = h.command;
        o[QStringLiteral("lock_file")] = h.lockFile;
        o[QStringLiteral("pty_other_end")] = h.ptyMaker;
        list << o;
        if (h.ptyMaker && !h.lockFile) {
            f.report.details << QStringLiteral("PID %1 (%2) holds the other end of this "
                                               "pseudo-terminal; that is expected.")
                                    .arg(h.pid)
                                    .arg(h.command);
            continue;
        }
        anyBlocker = true;
        QString line = QStringLiteral("Held by PID %1: %2").arg(h.pid).arg(h.command);
        if (h.lockFile)
            line += QStringLiteral(" (it holds the lock file %1)").arg(lockFileOf(f.device));
        f.report.details << line + QLatin1Char('.');
        const Advice advice = holderAdvice(h, f.device);
        f.report.details << advice.details;
        f.report.todo << advice.todo;
    }
    if (!anyBlocker) {
        const Advice advice = noHolderAdvice(f.device, f.request.port);
        f.report.details << advice.details;
        f.report.todo << advice.todo;
    }
    f.report.facts[QStringLiteral("holders")] = list;
    return f.finish(Busy, QStringLiteral("%1 is busy: another program has it open.").arg(f.device));
}

Report robotAnswers(Findings &f, const QString &settings, const AnswerCheck &c)
{
    const int percent = c.capacityMah > 0 ? c.chargeMah * 100 / c.capacityMah : 0;
    f.report.details << QStringLiteral("Battery: %1 of %2 mAh (%3 %), %4 mV, %5 mA, %6 C, %7.")
                            .arg(c.chargeMah)
                            .arg(c.capacityMah)
                            .arg(percent)
                            .arg(c.voltageMv)
                            .arg(c.currentMa)
                            .arg(c.temperatureC)
                            .arg(c.chargingState.toLower());
    f.report.details
        << (c.sensorsOn.isEmpty()
                ? QStringLiteral("Bumpers, cliffs and wheel drops: none is on.")
                : QStringLiteral("On now: %1.").arg(c.sensorsOn.join(QStringLiteral(", "))));
    for (const QString &w : c.warnings)
        f.report.details << QStringLiteral("Warning: %1; a real robot can send that, so the "
                                           "answer still counts.")
                                .arg(w);
    const QString port = f.request.port;
    if (settings != f.request.settings)
        f.report.todo << QStringLiteral("Type %1 into the console's settings box (you gave "
                                        "%2), then connect to port %3.")
                             .arg(settings, f.request.settings, port);
    else
        f.report.todo << QStringLiteral("Connect the console to port %1 with %2, as given.")
                             .arg(port, settings);
    f.report.todo << QStringLiteral("Start left the robot in passive mode; the console's "
                                    "\"Initialize Safe Mode\" takes it on from there.");
    QJsonObject battery;
    battery[QStringLiteral("charge_mah")] = c.chargeMah;
    battery[QStringLiteral("capacity_mah")] = c.capacityMah;
    battery[QStringLiteral("percent")] = percent;
    battery[QStringLiteral("voltage_mv")] = c.voltageMv;
    battery[QStringLiteral("current_ma")] = c.currentMa;
    battery[QStringLiteral("temperature_c")] = c.temperatureC;
    battery[QStringLiteral("charging_state")] = c.chargingState;
    f.report.facts[QStringLiteral("battery")] = battery;
    f.report.facts[QStringLiteral("sensors_on")] = QJsonArray::fromStringList(c.sensorsOn);
    f.report.facts[QStringLiteral("warnings")] = QJsonArray::fromStringList(c.warnings);
    f.report.facts[QStringLiteral("settings")] = settings;
    return f.finish(RobotAnswers, QStringLiteral("The robot answers at %1.").arg(settings));
}

Report silent(Findings &f, const QList<int> &speeds)
{
    f.report.details << QStringLiteral("Tried: %1; then Start (128) and a sensor request "
                                       "(142 0) at %2 baud, waiting %3 ms for each answer.")
                            .arg(f.wakeTried, speedList(speeds))
                            .arg(f.answerMs);
    f.report.details << QStringLiteral("Likely causes, the most likely first:");
    // Asleep is a finding only once the wake-up went out and the robot had its time.
    f.report.details << (f.wakeSent ? QStringLiteral("1. The robot is asleep: the wake-up did "
                                                     "not reach it. Press its power button, "
                                                     "then run the probe again.")
                                    : QStringLiteral("1. The wake-up could not be sent, so a "
                                                     "sleeping robot stayed asleep: press its "
                                                     "power button, then run the probe again."))
                     << QStringLiteral("2. It is switched off, or its battery is flat: switch "
                                       "it on, or leave it on its charger for a while.");
    if (f.adapterAnswered)
        f.report.details << QStringLiteral("3. The adapter answers, so the link to it works: "
                                           "check that it sits firmly in the robot's port.");
    else
        f.report.details << QStringLiteral("3. %1").arg(cableCause());
    // A robot at an untried speed hears only garbled requests and stays silent too.
    f.report.details << QStringLiteral("4. %1").arg(otherSpeedCause(f.request));
    f.report.todo << QStringLiteral("Go through the causes above in order; the probe takes "
                                    "under 5 s, so run it after each.");
    return f.finish(Silent, QStringLiteral("The line is silent at every speed: nothing came "
                                           "back at %1 baud.")
                                .arg(speedList(speeds)));
}

Report notTheRobot(Findings &f)
{
    bool looksLikeText = false;
    QList<int> where;
    for (const Garbage &g : f.garbage) {
        where << g.baud;
        f.report.details << QStringLiteral("At %1 baud: %2: %3; as text: \"%4\"; %5.")
                                .arg(g.baud)
                                .arg(bytesText(g.bytes.size()), hexSample(g.bytes),
                                     textSample(g.bytes), g.failed);
        static const QRegularExpression modem(
            QStringLiteral("OK|ERROR|RING|CONNECT|NO CARRIER|AT|\\$GP|login"));
        looksLikeText = looksLikeText || modem.match(QString::fromLatin1(g.bytes)).hasMatch();
    }
    const QString speed = QStringLiteral("Wrong speed: none of the speeds tried gave the "
                                         "robot's answer. %1")
                              .arg(otherSpeedCause(f.request));
    const QString other = otherDeviceCause(f.device);
    QStringList causes = looksLikeText ? QStringList{other, speed} : QStringList{speed, other};
    for (const Garbage &g : f.garbage) {
        const qsizetype at = answerInside(g.bytes);
        if (at < 0)
            continue;
        causes.prepend(
            QStringLiteral("Bytes out of step: the robot's answer is there at %1 baud, after "
                           "%2 and followed by %3 more. Something on the line adds bytes (a "
                           "noisy cable, an adapter, another program writing to the port); "
                           "the console drops every read that is not exactly 26 bytes.")
                .arg(g.baud)
                .arg(bytesText(at))
                .arg(g.bytes.size() - at - 26));
        break;
    }
    f.report.details << QStringLiteral("Likely causes, the most likely first:");
    for (int i = 0; i < causes.size(); ++i)
        f.report.details << QStringLiteral("%1. %2").arg(i + 1).arg(causes[i]);
    f.report.todo << QStringLiteral("Go through the likely causes above in order, and run the "
                                    "probe again after each.");
    return f.finish(NotTheRobot,
                    QStringLiteral("Something answers at %1 baud, but not as the robot.")
                        .arg(speedList(where)));
}

} // namespace velmora::probe
