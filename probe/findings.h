#pragma once

// What the walk has found so far and the diagnoses that end it: the line sequence (walk.cpp)
// gathers, a diagnosis (diagnoses.cpp) words the report. For probe/ only.

#include "probe/answer.h"
#include "probe/walk.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace velmora::probe
{

// Bytes that came back at one speed but were not the robot's answer.
struct Garbage {
    int baud;
    QByteArray bytes;
    QString failed;
};

struct Findings {
    Findings(const Request &given, const std::function<void(const QString &)> &stepTo)
        : request(given), onStep(stepTo)
    {
    }

    // Adds a step to the report and hands it on as it happens.
    void step(const QString &text);
    // Ends the report with its exit status and diagnosis, and writes the JSON facts.
    Report finish(Status status, const QString &diagnosis);

    const Request &request;
    const std::function<void(const QString &)> &onStep;
    Report report;
    QString device;
    QString lost; // the port's words when the device went away
    QString wakeTried;
    bool wakeSent = false;
    bool adapterAnswered = false;
    int answerMs = 0; // how long each speed waited for its answer
    QList<Garbage> garbage;
};

// "1 byte", "26 bytes".
QString bytesText(qsizetype n);

// The diagnoses, one each: words the details and what to do, then ends the report.
Report usage(Findings &f, const QString &why);
Report noSuchPort(Findings &f, const QString &diagnosis, const QString &problem);
Report wentAway(Findings &f);
Report notAllowed(Findings &f);
Report busy(Findings &f);
Report robotAnswers(Findings &f, const QString &settings, const AnswerCheck &c);
Report silent(Findings &f, const QList<int> &speeds);
Report notTheRobot(Findings &f);

} // namespace velmora::probe
