#include "probe/walk.h"

#include "link/portnames.h"
#include "probe/findings.h"
#include "probe/system.h"
#include "protocol/sci.h"

#include <QElapsedTimer>
#include <QEventLoop>
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

class PortDeviceOpener : public DeviceOpener
{
public:
    explicit PortDeviceOpener(link::DevicePort &port) : port_(port) {}
    void useDevicePath(const QString &path) override { port_.setDevicePath(path); }
    Refusal openRefusal() const override { return port_.openRefusal(); }

private:
    link::DevicePort &port_;
};

class EventLoopClock : public WalkClock
{
public:
    EventLoopClock() { since_.start(); }
    qint64 nowMs() const override { return since_.elapsed(); }

    void wait(int ms) override
    {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        // A coarse timer may end a 2 s wait 100 ms early: before the robot listens.
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        loop_ = &loop;
        timer.start(ms);
        loop.exec();
        loop_ = nullptr;
    }

    void stop() override
    {
        if (loop_)
            loop_->quit();
    }

private:
    QElapsedTimer since_;
    QEventLoop *loop_ = nullptr;
};

class Walker
{
public:
    Walker(const Request &request, const Line &line,
           const std::function<void(const QString &)> &onStep, const Timing &timing)
        : request_(request), port_(line.port), opener_(line.opener), clock_(line.clock),
          timing_(timing), f_(request, onStep)
    {
    }

    Report run()
    {
        link::LineSettings given;
        QString why;
        if (!link::parseLineSettings(request_.settings, &given, &why))
            return usage(f_, why);
        f_.report.facts[QStringLiteral("settings_given")] = request_.settings;
        f_.report.facts[QStringLiteral("adapter")] = request_.adapterName;
        if (!resolve())
            return f_.report;

        // The port outlives the walk: the connection ends with the walk.
        QObject::connect(&port_, &link::SerialPort::deviceLost, &alive_,
                         [this](const QString &message) { f_.lost = message; });
        const QList<int> speeds = speedsToTry(given.baud);
        timing_.answerMs =
            std::min(timing_.answerMs, timing_.answersTotalMs / static_cast<int>(speeds.size()));
        f_.answerMs = timing_.answerMs;
        for (int i = 0; i < speeds.size(); ++i) {
            const std::optional<Report> end = tryAt(speeds[i], i == 0);
            port_.setPortOpen(false);
            if (end)
                return *end;
        }
        return f_.garbage.isEmpty() ? silent(f_, speeds) : notTheRobot(f_);
    }

private:
    // Which device the port means, by the console's own numbering.
    bool resolve()
    {
        bool numeric = false;
        const int number = request_.port.toInt(&numeric);
        if (numeric) {
            port_.setCommPort(number);
            if (const QString why = link::portNumberProblem(number); !why.isEmpty()) {
                noSuchPort(f_, QStringLiteral("There is no port %1.").arg(number), why);
                return false;
            }
            const link::PortDevice target = link::portDevice(number);
            f_.device = target.device;
            if (!target.problem.isEmpty()) {
                noSuchPort(f_, QStringLiteral("There is no port %1.").arg(number), target.problem);
                return false;
            }
            const QString linkPath = portLinkOf(number);
            f_.step(linkPath.isEmpty() ? QStringLiteral("Port %1 is %2.").arg(number).arg(f_.device)
                                       : QStringLiteral("Port %1 is %2, through the link %3.")
                                             .arg(number)
                                             .arg(f_.device, linkPath));
        } else {
            opener_.useDevicePath(request_.port);
            f_.device = request_.port;
            if (deviceMissing(f_.device)) {
                noSuchPort(f_, QStringLiteral("There is no device %1.").arg(f_.device),
                           QStringLiteral("%1 does not exist.").arg(f_.device));
                return false;
            }
            f_.step(QStringLiteral("Using the device %1.").arg(f_.device));
        }
        f_.report.facts[QStringLiteral("device")] = f_.device;
        return true;
    }

    // One speed of the walk; a report if the walk ends here.
    std::optional<Report> tryAt(int baud, bool first)
    {
        const QString settings = withSpeed(request_.settings, baud);
        port_.setSettings(settings);
        if (!port_.setPortOpen(true))
            return openRefused();
        f_.step(QStringLiteral("Opened %1 at %2.").arg(f_.device, settings));
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
        f_.step(
            first ? QStringLiteral("Sent Start (128): the robot's command interface goes on in "
                                   "passive mode, where the robot only listens and nothing moves.")
                  : QStringLiteral("Sent Start (128)."));
        const QByteArray unasked = collect(timing_.afterStartMs, false);
        if (!f_.lost.isEmpty())
            return wentAway(f_);
        if (!unasked.isEmpty())
            f_.step(QStringLiteral("%1 came back unasked after Start and were set aside: %2.")
                        .arg(bytesText(unasked.size()), hexSample(unasked)));

        if (!sci::sendSci(port_, sci::sciSensors()))
            return writeFailed();
        f_.step(QStringLiteral("Asked for the sensor packet (142 0) at %1 baud.").arg(baud));
        const qint64 asked = clock_.nowMs();
        const QByteArray got = collect(timing_.answerMs, true);
        const qint64 ms = clock_.nowMs() - asked;
        if (!f_.lost.isEmpty())
            return wentAway(f_);
        if (got.isEmpty()) {
            f_.step(QStringLiteral("Nothing came back within %1 ms.").arg(timing_.answerMs));
            return std::nullopt;
        }
        const AnswerCheck check = checkAnswer(got);
        if (!check.robot) {
            f_.step(QStringLiteral("%1 came back within %2 ms, but not the robot's answer: %3.")
                        .arg(bytesText(got.size()))
                        .arg(ms)
                        .arg(check.failed));
            f_.garbage << Garbage{baud, got, check.failed};
            return std::nullopt;
        }
        f_.step(QStringLiteral("%1 came back within %2 ms: the robot's answer.")
                    .arg(bytesText(got.size()))
                    .arg(ms));
        return robotAnswers(f_, settings, check);
    }

    // The walk's one wake-up, then the robot's time to come round. Whatever came back in the
    // meantime is the adapter's answers (or noise) and is set aside.
    std::optional<Report> wakeUp()
    {
        const bool wexbin = request_.adapter == link::AdapterKind::Wexbin;
        port_.setInputLen(0);
        port_.setRThreshold(1);
        QByteArray came;
        f_.wakeSent = pulse(wexbin, came);
        if (!f_.lost.isEmpty())
            return wentAway(f_);
        // Waited for even when nothing went out: a person told to press the robot's power
        // button and run the probe again has just woken it.
        const int waitMs = timing_.afterWakeMs + timing_.linkDelayMs;
        came += collect(waitMs, false);
        if (!f_.lost.isEmpty())
            return wentAway(f_);
        f_.wakeTried += QStringLiteral("; %1 ms of waiting").arg(waitMs);
        f_.step(f_.wakeSent
                    ? QStringLiteral("Waited %1 ms: after its wake-up the robot ignores "
                                     "everything for about 2 s.")
                          .arg(waitMs)
                    : QStringLiteral("Waited %1 ms all the same, as a robot just woken by its "
                                     "power button needs about 2 s.")
                          .arg(waitMs));
        if (!came.isEmpty()) {
            f_.step(QStringLiteral("%1 came back after the wake-up: \"%2\"%3.")
                        .arg(bytesText(came.size()), textSample(came),
                             wexbin ? QStringLiteral(" (the adapter's answers)") : QString()));
            f_.adapterAnswered = wexbin;
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
        // A line lost during the pulse took none of its end.
        const bool ended = started && pulse.finish() && port_.portOpen();
        if (wexbin) {
            f_.wakeTried =
                QStringLiteral("the Wexbin adapter's AT wake-up lines (pin 6 low for %1 ms)")
                    .arg(link::kWakePulseMs);
            if (ended) {
                const WakeBursts bursts = wexbinWakeBursts();
                f_.step(
                    QStringLiteral("Sent the Wexbin adapter's AT wake-up lines %1, and %2 ms later "
                                   "%3: pin 6 held low for the robot's wake-up.")
                        .arg(linesText(bursts.first))
                        .arg(link::kWakePulseMs)
                        .arg(linesText(bursts.second)));
            } else {
                f_.step(QStringLiteral("The AT wake-up lines could not be sent: %1")
                            .arg(port_.errorString()));
            }
            return ended;
        }
        if (ended) {
            f_.step(
                QStringLiteral("Pulsed RTS (off, on, %1 ms later off): the %2 adapter's wake-up.")
                    .arg(link::kWakePulseMs)
                    .arg(adapterTitle()));
            f_.wakeTried = QStringLiteral("the wake-up pulse on RTS");
            return true;
        }
        f_.step(QStringLiteral("%1 Going on without the wake-up pulse.").arg(port_.errorString()));
        f_.wakeTried = QStringLiteral("the wake-up pulse on RTS, which this line cannot carry");
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

    // Waits for ms, or with burst only until the first burst of input has come and the line
    // has been quiet after it; returns what came. A lost device ends the wait.
    QByteArray collect(int ms, bool burst)
    {
        QByteArray got;
        QObject during; // the wait's connections end with it
        QObject::connect(&port_, &link::SerialPort::onComm, &during, [&] {
            got += port_.input();
            if (burst)
                clock_.stop();
        });
        QObject::connect(&port_, &link::SerialPort::deviceLost, &during, [this] { clock_.stop(); });
        if (f_.lost.isEmpty())
            clock_.wait(ms);
        got += port_.input();
        return got;
    }

    std::optional<Report> openRefused()
    {
        using Refusal = DeviceOpener::Refusal;
        switch (opener_.openRefusal()) {
        case Refusal::NoDevice:
            if (!speedsTried_.isEmpty()) {
                f_.lost = port_.errorString();
                return wentAway(f_);
            }
            return noSuchPort(f_, QStringLiteral("There is no port %1.").arg(request_.port),
                              port_.errorString());
        case Refusal::NotAllowed:
            return notAllowed(f_);
        case Refusal::Busy:
            return busy(f_);
        case Refusal::Settings:
        case Refusal::Other:
        case Refusal::None:
            break;
        }
        return usage(f_, port_.errorString());
    }

    Report writeFailed()
    {
        if (f_.lost.isEmpty())
            f_.lost = port_.errorString();
        return wentAway(f_);
    }

    const Request &request_;
    link::SerialPort &port_;
    DeviceOpener &opener_;
    WalkClock &clock_;
    Timing timing_;
    Findings f_;
    QList<int> speedsTried_;
    QObject alive_;
};

} // namespace

Report walk(const Request &request, const Line &line,
            const std::function<void(const QString &)> &onStep, const Timing &timing)
{
    return Walker(request, line, onStep, timing).run();
}

Report walk(const Request &request, link::DevicePort &port,
            const std::function<void(const QString &)> &onStep, const Timing &timing)
{
    PortDeviceOpener opener(port);
    EventLoopClock clock;
    return walk(request, Line{port, opener, clock}, onStep, timing);
}

} // namespace velmora::probe
