#pragma once

#include "link/adapter.h"
#include "link/deviceport.h"
#include "link/linesettings.h"

#include <QByteArray>
#include <QJsonObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmora::probe
{

// The program's exit statuses: each is one diagnosis.
enum Status {
    RobotAnswers = 0,
    Usage = 1,
    NoSuchPort = 2,
    NotAllowed = 3,
    Busy = 4,
    Silent = 5,
    NotTheRobot = 6,
};

struct Request {
    QString port; // a port number as the console takes it, or a device path
    link::AdapterKind adapter = link::kAdapters[0].kind;
    QString adapterName = QLatin1String(link::kAdapters[0].probeName);
    QString settings = QStringLiteral("57600,n,8,1");
};

struct Report {
    Status status = Usage;
    QStringList steps;
    QString diagnosis;
    QStringList details;
    QStringList todo;
    QJsonObject facts;
};

// How long each part of the walk waits; a silent walk ends within 5 s.
struct Timing {
    // The robot ignores everything for about 2 s after its wake-up (the pulse itself is the
    // port code's: link::kWakePulseMs).
    int afterWakeMs = link::kWakeSettleMs;
    // Waited on top: those 2 s count from when the robot sees the pin go high, which over
    // Bluetooth is some tens of milliseconds after the line that raises it was written here.
    int linkDelayMs = 100;
    int afterStartMs = 30; // the robot wants 20 ms after a command that changes its mode
    int answerMs = 500;
    // The answer waits of all speeds together: a fourth speed (one given besides the three)
    // shortens each wait, so a silent walk takes no longer.
    int answersTotalMs = 1500;
};

// The speeds tried, in order: the one given first, then 57600, 115200 and 19200.
QList<int> speedsToTry(int given);

// The Bluetooth adapter's wake-up as link::WakeUp writes it: the lines up to the one that
// drives pin 6 low, then, link::kWakePulseMs later, the rest. Each ends in a carriage return.
using WakeBursts = QPair<QList<QByteArray>, QList<QByteArray>>;
WakeBursts wexbinWakeBursts();
// "\"+++\", \"ATMD\"": lines as text, without their carriage returns.
QString linesText(const QList<QByteArray> &lines);
// The settings text with another speed: "115200,n,8,1".
QString withSpeed(const QString &settings, int baud);

// What only the real port can do for the walk: open a device given by its path, and say why an
// open was refused.
class DeviceOpener
{
public:
    using Refusal = link::OpenRefusal;
    virtual ~DeviceOpener() = default;
    // The device to open instead of the one the port number gives.
    virtual void useDevicePath(const QString &path) = 0;
    // Why the last open failed.
    virtual Refusal openRefusal() const = 0;
};

// How the walk lets time pass. The program's runs the event loop under a precise timer; a test's
// moves its own time and plays the robot's side as it goes.
class WalkClock
{
public:
    virtual ~WalkClock() = default;
    // Milliseconds from a fixed start.
    virtual qint64 nowMs() const = 0;
    // Handles the line's events for up to ms; returns early once one of them calls stop().
    virtual void wait(int ms) = 0;
    virtual void stop() = 0;
};

// What the walk runs over.
struct Line {
    link::SerialPort &port;
    DeviceOpener &opener;
    WalkClock &clock;
};

// Walks the line step by step over the console's own port code and ends with a diagnosis.
// Each step is handed to onStep as it happens.
Report walk(const Request &request, const Line &line,
            const std::function<void(const QString &)> &onStep, const Timing &timing = {});
// The same over the real port, under the event loop's time.
Report walk(const Request &request, link::DevicePort &port,
            const std::function<void(const QString &)> &onStep, const Timing &timing = {});

} // namespace velmora::probe
