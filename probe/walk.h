#pragma once

#include "link/adapter.h"
#include "link/linesettings.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmora::link
{
class QtSerialPort;
}

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
    link::AdapterKind adapter = link::AdapterKind::Wired;
    QString adapterName = QStringLiteral("krennet");
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

// How long each part of the walk waits; the three speeds together stay under 3 s of silence.
struct Timing {
    int afterWakeMs = 100;
    int afterStartMs = 30; // the robot wants 20 ms after a command that changes its mode
    int answerMs = 500;
    // The answer waits of all speeds together: a fourth speed (one given besides the three)
    // shortens each wait, so a silent walk still ends within 3 s.
    int answersTotalMs = 1500;
};

// The speeds tried, in order: the one given first, then 57600, 115200 and 19200.
QList<int> speedsToTry(int given);
// The settings text with another speed: "115200,n,8,1".
QString withSpeed(const QString &settings, int baud);

// Walks the line step by step over the console's own port code and ends with a diagnosis.
// Each step is handed to onStep as it happens.
Report walk(const Request &request, link::QtSerialPort &port,
            const std::function<void(const QString &)> &onStep, const Timing &timing = {});

} // namespace velmora::probe
