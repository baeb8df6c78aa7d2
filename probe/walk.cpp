#include "probe/walk.h"

#include "link/portnames.h"
#include "link/qtserialport.h"
#include "probe/answer.h"
#include "probe/system.h"
#include "protocol/sci.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>

namespace velmora::probe
{

QList<int> speedsToTry(int given)
{
    QList<int> speeds{given};
    for (int baud : {57600, 115200, 19200}) {
        if (baud != given)
            speeds << baud;
    }
    return speeds;
}

WakeBursts wexbinWakeBursts()
{
    WakeBursts bursts;
    bool low = false;
    for (const QByteArray &line : link::wexbinWakeLines()) {
        (low ? bursts.second : bursts.first) << line;
        low = low || line.startsWith("ATSW23,6,0,");
    }
    return bursts;
}

QString linesText(const QList<QByteArray> &lines)
{
    QStringList quoted;
    for (const QByteArray &line : lines)
        quoted << QStringLiteral("\"%1\"").arg(QString::fromLatin1(line.trimmed()));
    return quoted.join(QStringLiteral(", "));
}

QString withSpeed(const QString &settings, int baud)
{
    QStringList fields = settings.split(QLatin1Char(','));
    fields[0] = QString::number(baud);
    return fields.join(QLatin1Char(','));
}

namespace
{

struct Garbage {
    int baud;
    QByteArray bytes;
    QString failed;
};

class Walker
{
public:
    Walker(const Request &request, link::QtSerialPort &port,
           const std::function<void(const QString &)> &onStep, const Timing &timing)
        : request_(request), port_(port), onStep_(onStep), timing_(timing)
    {
    }

    Report run()
    {
        link::LineSettings given;
        QString why;
        if (!link::parseLineSettings(request_.settings, &given, &why))
            return usage(why);
        report_.facts[QStringLiteral("settings_given")] = request_.settings;
        report_.facts[QStringLiteral("adapter")] = request_.adapterName;
        if (!resolve())
            return report_;

        QObject::connect(&port_, &link::SerialPort::deviceLost, &port_,
                         [this](const QString &message) { lost_ = message; });
        const QList<int> speeds = speedsToTry(given.baud);
        timing_.answerMs =
            std::min(timing_.answerMs, timing_.answersTotalMs / static_cast<int>(speeds.size()));
        for (int i = 0; i < speeds.size(); ++i) {
            const std::optional<Report> end = tryAt(speeds[i], i == 0);
            port_.setPortOpen(false);
            if (end)
                return *end;
        }
        return garbage_.isEmpty() ? silent(speeds) : notTheRobot();
    }

private:
    void step(const QString &text)
    {
        report_.steps << text;
        if (onStep_)
            onStep_(text);
    }

    Report finish(Status status, const QString &diagnosis)
    {
        report_.status = status;
        report_.diagnosis = diagnosis;
        report_.facts[QStringLiteral("exit")] = status;
        report_.facts[QStringLiteral("diagnosis")] = diagnosis;
        report_.facts[QStringLiteral("steps")] = QJsonArray::fromStringList(report_.steps);
        report_.facts[QStringLiteral("details")] = QJsonArray::fromStringList(report_.details);
        report_.facts[QStringLiteral("todo")] = QJsonArray::fromStringList(report_.todo);
        return report_;
    }

    Report usage(const QString &why)
    {
        report_.todo << QStringLiteral("See velmora-probe --help.");
        return finish(Usage, why);
    }

    // Which device the port means, by the console's own numbering.
    bool resolve()
    {
        bool numeric = false;
        const int number = request_.port.toInt(&numeric);
        if (numeric) {
            port_.setCommPort(number);
            if (const QString why = link::portNumberProblem(number); !why.isEmpty()) {
                noSuchPort(QStringLiteral("There is no port %1.").arg(number), why);
                return false;
            }
            const link::PortDevice target = link::portDevice(number);
            device_ = target.device;
            if (!target.problem.isEmpty()) {
                noSuchPort(QStringLiteral("There is no port %1.").arg(number), target.problem);
                return false;
            }
            const QFileInfo linkFile(
                QStringLiteral("%1/com%2").arg(link::portLinkFolder()).arg(number));
            step(linkFile.isSymLink() ? QStringLiteral("Port %1 is %2, through the link %3.")
                                            .arg(number)
                                            .arg(device_, linkFile.filePath())
                                      : QStringLiteral("Port %1 is %2.").arg(number).arg(device_));
        } else {
            port_.setDevicePath(request_.port);
            device_ = request_.port;
            if (!QFileInfo::exists(device_)) {
                noSuchPort(QStringLiteral("There is no device %1.").arg(device_),
                           QStringLiteral("%1 does not exist.").arg(device_));
                return false;
            }
            step(QStringLiteral("Using the device %1.").arg(device_));
        }
        report_.facts[QStringLiteral("device")] = device_;
        return true;
    }

    // One speed of the walk; a report if the walk ends here.
    std::optional<Report> tryAt(int baud, bool first)
    {
        const QString settings = withSpeed(request_.settings, baud);
        port_.setSettings(settings);
        if (!port_.setPortOpen(true))
            return openRefused();
        step(QStringLiteral("Opened %1 at %2.").arg(device_, settings));
        speedsTried_ << baud;

        // Once: a robot woken at the first speed stays awake for the others, and every wake-up
        // would cost the robot's time to come round again.
        if (first) {
            if (std::optional<Report> end = wakeUp())
                return end;
        }
        port_.setInputLen(0);
        port_.setRThreshold(1);

        if (!sci::sendSci(port_, sci::sciStart()))
            return writeFailed();
        step(first ? QStringLiteral("Sent Start (128): the robot's command interface goes on in "
                                    "passive mode, where the robot only listens and nothing moves.")
                   : QStringLiteral("Sent Start (128)."));
        const QByteArray unasked = collect(timing_.afterStartMs, false);
        if (!lost_.isEmpty())
            return wentAway();
        if (!unasked.isEmpty())
            step(QStringLiteral("%1 came back unasked after Start and were set aside: %2.")
                     .arg(bytesText(unasked.size()), hexSample(unasked)));

        if (!sci::sendSci(port_, sci::sciSensors()))
            return writeFailed();
        step(QStringLiteral("Asked for the sensor packet (142 0) at %1 baud.").arg(baud));
        QElapsedTimer waited;
        waited.start();
        const QByteArray got = collect(timing_.answerMs, true);
        const qint64 ms = waited.elapsed();
        if (!lost_.isEmpty())
            return wentAway();
        if (got.isEmpty()) {
            step(QStringLiteral("Nothing came back within %1 ms.").arg(timing_.answerMs));
            return std::nullopt;
        }
        const AnswerCheck check = checkAnswer(got);
        if (!check.robot) {
            step(QStringLiteral("%1 came back within %2 ms, but not the robot's answer: %3.")
                     .arg(bytesText(got.size()))
                     .arg(ms)
                     .arg(check.failed));
            garbage_ << Garbage{baud, got, check.failed};
            return std::nullopt;
        }
        step(QStringLiteral("%1 came back within %2 ms: the robot's answer.")
                 .arg(bytesText(got.size()))
                 .arg(ms));
        return robotAnswers(settings, check);
    }

    // The walk's one wake-up, then the robot's time to come round. Whatever came back in the
    // meantime is the adapter's answers (or noise) and is set aside.
    std::optional<Report> wakeUp()
    {
        const bool wexbin = request_.adapter == link::AdapterKind::Wexbin;
        port_.setInputLen(0);
        port_.setRThreshold(1);
        QByteArray came;
        wakeSent_ = pulse(wexbin, came);
        if (!lost_.isEmpty())
            return wentAway();
        // Waited for even when nothing went out: a person told to press the robot's power
        // button and run the probe again has just woken it.
        const int waitMs = timing_.afterWakeMs + timing_.linkDelayMs;
        came += collect(waitMs, false);
        if (!lost_.isEmpty())
            return wentAway();
        wakeTried_ += QStringLiteral("; %1 ms of waiting").arg(waitMs);
        step(wakeSent_ ? QStringLiteral("Waited %1 ms: after its wake-up the robot ignores "
                                        "everything for about 2 s.")
                             .arg(waitMs)
                       : QStringLiteral("Waited %1 ms all the same, as a robot just woken by its "
                                        "power button needs about 2 s.")
                             .arg(waitMs));
        if (!came.isEmpty()) {
            step(QStringLiteral("%1 came back after the wake-up: \"%2\"%3.")
                     .arg(bytesText(came.size()), textSample(came),
                          wexbin ? QStringLiteral(" (the adapter's answers)") : QString()));
            adapterAnswered_ = wexbin;
        }
        return std::nullopt;
    }

    // The adapter's pulse on the robot's Device Detect line, held for its full time; true if
    // it went out whole. What came back meanwhile is added to came.
    bool pulse(bool wexbin, QByteArray &came)
    {
        link::WakeUp pulse(port_);
        const bool started =
            pulse.start(wexbin ? link::AdapterKind::Wexbin : link::AdapterKind::Wired);
        if (started)
            came += collect(link::kWakePulseMs, false);
        const bool ended = started && pulse.finish();
        if (wexbin) {
            wakeTried_ =
                QStringLiteral("the Wexbin adapter's AT wake-up lines (pin 6 low for %1 ms)")
                    .arg(link::kWakePulseMs);
            if (ended) {
                const WakeBursts bursts = wexbinWakeBursts();
                step(
                    QStringLiteral("Sent the Wexbin adapter's AT wake-up lines %1, and %2 ms later "
                                   "%3: pin 6 held low for the robot's wake-up.")
                        .arg(linesText(bursts.first))
                        .arg(link::kWakePulseMs)
                        .arg(linesText(bursts.second)));
            } else {
                step(QStringLiteral("The AT wake-up lines could not be sent: %1")
                         .arg(port_.errorString()));
            }
            return ended;
        }
        if (ended) {
            step(QStringLiteral("Pulsed RTS (off, on, %1 ms later off): the %2 adapter's wake-up.")
                     .arg(link::kWakePulseMs)
                     .arg(adapterTitle()));
            wakeTried_ = QStringLiteral("the wake-up pulse on RTS");
            return true;
        }
        step(QStringLiteral("%1 Going on without the wake-up pulse.").arg(port_.errorString()));
        wakeTried_ = QStringLiteral("the wake-up pulse on RTS, which this line cannot carry");
        return false;
    }

    // The adapter's name as its menu item shows it.
    QString adapterTitle() const
    {
        for (const link::AdapterProduct &product : link::kAdapters) {
            if (request_.adapterName == QLatin1String(product.probeName))
                return QLatin1String(product.caption);
        }
        return request_.adapterName;
    }

    static QString bytesText(qsizetype n)
    {
        return n == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(n);
    }

    // Waits for ms, or with burst only until the first burst of input has come and the line
    // has been quiet after it; returns what came. A lost device ends the wait.
    QByteArray collect(int ms, bool burst)
    {
        QByteArray got;
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        // A coarse timer may end a 2 s wait 100 ms early: before the robot listens.
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&port_, &link::SerialPort::onComm, &loop, [&] {
            got += port_.input();
            if (burst)
                loop.quit();
        });
        QObject::connect(&port_, &link::SerialPort::deviceLost, &loop, &QEventLoop::quit);
        timer.start(ms);
        if (lost_.isEmpty())
            loop.exec();
        got += port_.input();
        return got;
    }

    std::optional<Report> openRefused()
    {
        using Refusal = link::QtSerialPort::OpenRefusal;
        switch (port_.openRefusal()) {
        case Refusal::NoDevice:
            if (!speedsTried_.isEmpty()) {
                lost_ = port_.errorString();
                return wentAway();
            }
            return noSuchPort(QStringLiteral("There is no port %1.").arg(request_.port),
                              port_.errorString());
        case Refusal::NotAllowed:
            return notAllowed();
        case Refusal::Busy:
            return busy();
        case Refusal::Settings:
        case Refusal::Other:
        case Refusal::None:
            break;
        }
        return usage(port_.errorString());
    }

    Report writeFailed()
    {
        if (lost_.isEmpty())
            lost_ = port_.errorString();
        return wentAway();
    }

    QStringList portList() const
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
        if (stable.isEmpty())
            lines << QStringLiteral("No stable names under /dev/serial/by-id (no USB serial "
                                    "adapter is plugged in).");
        else
            lines << QStringLiteral("Stable names under /dev/serial/by-id:");
        for (const QString &s : stable)
            lines << QStringLiteral("  ") + s;
        return lines;
    }

    Report noSuchPort(const QString &diagnosis, const QString &problem)
    {
        report_.details << problem << portList();
        report_.todo << QStringLiteral("Run the probe again with one of the port numbers above "
                                       "(or a device path).");
        const QString folder = link::portLinkFolder();
        if (!folder.isEmpty())
            report_.todo << QStringLiteral("To give a device a number N, link it as comN in %1, "
                                           "best by its stable name: ln -s "
                                           "/dev/serial/by-id/... %1/comN")
                                .arg(folder);
        return finish(NoSuchPort, diagnosis);
    }

    Report wentAway()
    {
        report_.details << QStringLiteral("The port reported: %1").arg(lost_) << portList();
        report_.todo << QStringLiteral(
            "Check the adapter's plug and cable (a loose USB plug, a robot that switched "
            "off its Bluetooth adapter), plug it in again and run the probe again; a USB "
            "adapter can come back under another name, its /dev/serial/by-id name stays.");
        return finish(NoSuchPort,
                      QStringLiteral("%1 went away in the middle of the walk.").arg(device_));
    }

    Report notAllowed()
    {
        const DeviceAccess a = deviceAccess(device_);
        report_.details << QStringLiteral("%1 belongs to user %2 and group %3, mode %4.")
                               .arg(device_, a.owner, a.group, a.mode);
        if (a.inGroupListed && !a.inGroupNow)
            report_.details << QStringLiteral("You (%1) are listed in the group %2, but this "
                                              "login does not have it yet.")
                                   .arg(a.user, a.group);
        else
            report_.details << QStringLiteral("You (%1) are %2in the group %3.")
                                   .arg(a.user, a.inGroupNow ? QString() : QStringLiteral("not "),
                                        a.group);
        if (!a.groupMayReadWrite) {
            report_.details << QStringLiteral("The group %1 may not read and write it either; "
                                              "only %2 may.")
                                   .arg(a.group, a.owner);
            report_.todo << QStringLiteral(
                                "Run the probe and the console as %1, or give a group read and "
                                "write access with a udev rule, for example: "
                                "KERNEL==\"%2\", GROUP=\"dialout\", MODE=\"0660\"; then join "
                                "that group (sudo adduser %3 dialout) and log out and in again.")
                                .arg(a.owner, QFileInfo(device_).fileName(), a.user);
        } else if (a.inGroupListed && !a.inGroupNow) {
            report_.todo << QStringLiteral("Log out and in again: a new group counts only from a "
                                           "new login.");
        } else {
            report_.todo
                << QStringLiteral("Join the group: sudo adduser %1 %2").arg(a.user, a.group)
                << QStringLiteral("Then log out and in again: the new group counts only "
                                  "from a new login.");
        }
        QJsonObject access;
        access[QStringLiteral("owner")] = a.owner;
        access[QStringLiteral("group")] = a.group;
        access[QStringLiteral("mode")] = a.mode;
        access[QStringLiteral("user")] = a.user;
        access[QStringLiteral("in_group")] = a.inGroupNow;
        report_.facts[QStringLiteral("access")] = access;
        return finish(NotAllowed,
                      QStringLiteral("You may not open %1: permission denied.").arg(device_));
    }

    Report busy()
    {
        const QList<Holder> holders = deviceHolders(device_);
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
                report_.details << QStringLiteral("PID %1 (%2) holds the other end of this "
                                                  "pseudo-terminal; that is expected.")
                                       .arg(h.pid)
                                       .arg(h.command);
                continue;
            }
            anyBlocker = true;
            QString line = QStringLiteral("Held by PID %1: %2").arg(h.pid).arg(h.command);
            if (h.lockFile)
                line += QStringLiteral(" (it holds the lock file %1)").arg(lockFileOf(device_));
            report_.details << line + QLatin1Char('.');
            if (isModemManager(h)) {
                report_.details << QStringLiteral("That is ModemManager: it takes new serial "
                                                  "devices for modems and probes them.");
                report_.todo << QStringLiteral(
                    "Stop ModemManager: sudo systemctl stop ModemManager (sudo systemctl disable "
                    "--now ModemManager keeps it off; or keep it away from the adapter with a "
                    "udev rule, see the README).");
            } else if (isSerialConsole(h)) {
                report_.details << QStringLiteral("That is a serial console (a login prompt) on "
                                                  "this port.");
                report_.todo << QStringLiteral("Stop it: sudo systemctl stop "
                                               "serial-getty@%1.service (and disable it to keep "
                                               "it off).")
                                    .arg(QFileInfo(device_).fileName());
            } else {
                report_.todo << QStringLiteral("Close that program, or end it: kill %1").arg(h.pid);
            }
        }
        if (!anyBlocker) {
            report_.details << QStringLiteral("No process that this user can see holds it.");
            report_.todo << QStringLiteral("Processes of other users are hidden from you: run "
                                           "sudo velmora-probe %1 to see who holds it.")
                                .arg(request_.port);
        }
        report_.facts[QStringLiteral("holders")] = list;
        return finish(Busy,
                      QStringLiteral("%1 is busy: another program has it open.").arg(device_));
    }

    Report robotAnswers(const QString &settings, const AnswerCheck &c)
    {
        const int percent = c.capacityMah > 0 ? c.chargeMah * 100 / c.capacityMah : 0;
        report_.details << QStringLiteral("Battery: %1 of %2 mAh (%3 %), %4 mV, %5 mA, %6 C, %7.")
                               .arg(c.chargeMah)
                               .arg(c.capacityMah)
                               .arg(percent)
                               .arg(c.voltageMv)
                               .arg(c.currentMa)
                               .arg(c.temperatureC)
                               .arg(c.chargingState.toLower());
        report_.details
            << (c.sensorsOn.isEmpty()
                    ? QStringLiteral("Bumpers, cliffs and wheel drops: none is on.")
                    : QStringLiteral("On now: %1.").arg(c.sensorsOn.join(QStringLiteral(", "))));
        for (const QString &w : c.warnings)
            report_.details << QStringLiteral("Warning: %1; a real robot can send that, so the "
                                              "answer still counts.")
                                   .arg(w);
        const QString port = request_.port;
        if (settings != request_.settings)
            report_.todo << QStringLiteral("Type %1 into the console's settings box (you gave "
                                           "%2), then connect to port %3.")
                                .arg(settings, request_.settings, port);
        else
            report_.todo << QStringLiteral("Connect the console to port %1 with %2, as given.")
                                .arg(port, settings);
        report_.todo << QStringLiteral("Start left the robot in passive mode; the console's "
                                       "\"Initialize Safe Mode\" takes it on from there.");
        QJsonObject battery;
        battery[QStringLiteral("charge_mah")] = c.chargeMah;
        battery[QStringLiteral("capacity_mah")] = c.capacityMah;
        battery[QStringLiteral("percent")] = percent;
        battery[QStringLiteral("voltage_mv")] = c.voltageMv;
        battery[QStringLiteral("current_ma")] = c.currentMa;
        battery[QStringLiteral("temperature_c")] = c.temperatureC;
        battery[QStringLiteral("charging_state")] = c.chargingState;
        report_.facts[QStringLiteral("battery")] = battery;
        report_.facts[QStringLiteral("sensors_on")] = QJsonArray::fromStringList(c.sensorsOn);
        report_.facts[QStringLiteral("warnings")] = QJsonArray::fromStringList(c.warnings);
        report_.facts[QStringLiteral("settings")] = settings;
        return finish(RobotAnswers, QStringLiteral("The robot answers at %1.").arg(settings));
    }

    static QString speedList(const QList<int> &speeds)
    {
        QStringList s;
        for (int b : speeds)
            s << QString::number(b);
        if (s.size() > 1)
            return s.mid(0, s.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
                   s.last();
        return s.join(QString());
    }

    Report silent(const QList<int> &speeds)
    {
        report_.details << QStringLiteral("Tried: %1; then Start (128) and a sensor request "
                                          "(142 0) at %2 baud, waiting %3 ms for each answer.")
                               .arg(wakeTried_, speedList(speeds))
                               .arg(timing_.answerMs);
        report_.details << QStringLiteral("Likely causes, the most likely first:");
        // Asleep is a finding only once the wake-up went out and the robot had its time.
        report_.details << (wakeSent_ ? QStringLiteral("1. The robot is asleep: the wake-up did "
                                                       "not reach it. Press its power button, "
                                                       "then run the probe again.")
                                      : QStringLiteral("1. The wake-up could not be sent, so a "
                                                       "sleeping robot stayed asleep: press its "
                                                       "power button, then run the probe again."))
                        << QStringLiteral("2. It is switched off, or its battery is flat: switch "
                                          "it on, or leave it on its charger for a while.");
        if (adapterAnswered_)
            report_.details << QStringLiteral("3. The adapter answers, so the link to it works: "
                                              "check that it sits firmly in the robot's port.");
        else
            report_.details << QStringLiteral(
                "3. The cable: TX and RX swapped (a null-modem cable or adapter swaps them) or "
                "not connected; or the Bluetooth adapter is not paired, or its RFCOMM device is "
                "not bound (bluetoothctl, rfcomm bind).");
        // A robot at an untried speed hears only garbled requests and stays silent too.
        report_.details << QStringLiteral("4. %1").arg(otherSpeedCause());
        report_.todo << QStringLiteral("Go through the causes above in order; the probe takes "
                                       "under 5 s, so run it after each.");
        return finish(Silent, QStringLiteral("The line is silent at every speed: nothing came "
                                             "back at %1 baud.")
                                  .arg(speedList(speeds)));
    }

    // Over Bluetooth the speed set here never reaches the robot: the adapter talks to it at
    // the speed it was set up with.
    QString otherSpeedCause() const
    {
        if (request_.adapter == link::AdapterKind::Wexbin)
            return QStringLiteral("A robot set to another speed with its Baud command cannot be "
                                  "reached over Bluetooth: the adapter talks to it at the speed "
                                  "the adapter was set up for, whatever speed is set on this "
                                  "side. Set the robot back over a cable.");
        return QStringLiteral("A robot set to another speed with its Baud command answers only "
                              "at that speed: give that speed with --settings RATE,n,8,1.");
    }

    Report notTheRobot()
    {
        bool looksLikeText = false;
        QList<int> where;
        for (const Garbage &g : garbage_) {
            where << g.baud;
            report_.details << QStringLiteral("At %1 baud: %2: %3; as text: \"%4\"; %5.")
                                   .arg(g.baud)
                                   .arg(bytesText(g.bytes.size()), hexSample(g.bytes),
                                        textSample(g.bytes), g.failed);
            static const QRegularExpression modem(
                QStringLiteral("OK|ERROR|RING|CONNECT|NO CARRIER|AT|\\$GP|login"));
            looksLikeText = looksLikeText || modem.match(QString::fromLatin1(g.bytes)).hasMatch();
        }
        const QString speed = QStringLiteral("Wrong speed: none of the speeds tried gave the "
                                             "robot's answer. %1")
                                  .arg(otherSpeedCause());
        const QString other =
            QStringLiteral("Another device on this port: %1 may not lead to the robot's adapter "
                           "(a modem, a GPS receiver, a serial console); check which device the "
                           "port number points to.")
                .arg(device_);
        QStringList causes = looksLikeText ? QStringList{other, speed} : QStringList{speed, other};
        for (const Garbage &g : garbage_) {
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
        report_.details << QStringLiteral("Likely causes, the most likely first:");
        for (int i = 0; i < causes.size(); ++i)
            report_.details << QStringLiteral("%1. %2").arg(i + 1).arg(causes[i]);
        report_.todo << QStringLiteral("Go through the likely causes above in order, and run the "
                                       "probe again after each.");
        return finish(NotTheRobot,
                      QStringLiteral("Something answers at %1 baud, but not as the robot.")
                          .arg(speedList(where)));
    }

    const Request &request_;
    link::QtSerialPort &port_;
    const std::function<void(const QString &)> &onStep_;
    Timing timing_;
    Report report_;
    QString device_;
    QString lost_;
    QString wakeTried_;
    bool wakeSent_ = false;
    bool adapterAnswered_ = false;
    QList<int> speedsTried_;
    QList<Garbage> garbage_;
};

} // namespace

Report walk(const Request &request, link::QtSerialPort &port,
            const std::function<void(const QString &)> &onStep, const Timing &timing)
{
    return Walker(request, port, onStep, timing).run();
}

} // namespace velmora::probe
