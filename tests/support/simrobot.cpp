#include "simrobot.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRegularExpression>

namespace velmora::test
{

SimRobot::SimRobot(const QString &configHome)
    : configHome_(configHome.isEmpty() ? temp_.path() : configHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome_);
    process_.setProcessEnvironment(env);
    process_.setProgram(QStringLiteral(VELMORA_SIM_PATH));
}

SimRobot::SimRobot(const QString &configHome, int port, const QStringList &options)
    : SimRobot(configHome)
{
    const QString trace = configHome_ + QStringLiteral("/trace-%1.jsonl").arg(port);
    ready_ =
        start(QStringList{"--port", QString::number(port), "--trace", trace, "--quiet"} + options);
}

SimRobot::~SimRobot()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

bool SimRobot::start(const QStringList &args, int timeoutMs)
{
    const qsizetype trace = args.indexOf(QStringLiteral("--trace"));
    tracePath_ = trace >= 0 ? args.value(trace + 1) : QString();
    process_.setArguments(args);
    process_.start();
    if (!process_.waitForStarted(timeoutMs) || !waitForOutput(QStringLiteral("\n"), timeoutMs)) {
        out_ += QString::fromLocal8Bit(process_.readAllStandardError());
        return false;
    }
    static const QRegularExpression ready(
        QStringLiteral("^Simulated robot ready on port (\\d+) \\((/dev/pts/\\d+)\\)$"));
    readyLine_ = out_.section(QLatin1Char('\n'), 0, 0);
    const QRegularExpressionMatch m = ready.match(readyLine_);
    port_ = m.captured(1).toInt();
    device_ = m.captured(2);
    return m.hasMatch();
}

bool SimRobot::waitReady(QString *line)
{
    *line =
        ready_ ? readyLine_
               : QStringLiteral("simulator not ready: %1 %2").arg(process_.errorString(), output());
    return ready_;
}

QString SimRobot::linkPath() const
{
    return QStringLiteral("%1/velmora/ports/com%2").arg(configHome_).arg(port_);
}

QString SimRobot::output()
{
    out_ += QString::fromLocal8Bit(process_.readAllStandardOutput());
    return out_;
}

bool SimRobot::waitForOutput(const QString &text, int timeoutMs, qsizetype from)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (output().indexOf(text, from) < 0) {
        if (deadline.hasExpired() ||
            !process_.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return output().indexOf(text, from) >= 0;
    }
    return true;
}

void SimRobot::command(const QString &line)
{
    process_.write((line + QLatin1Char('\n')).toLocal8Bit());
    process_.waitForBytesWritten(3000);
}

bool SimRobot::waitForExit(int timeoutMs)
{
    return process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs);
}

int SimRobot::quit(int timeoutMs)
{
    command(QStringLiteral("quit"));
    if (!waitForExit(timeoutMs))
        return -1;
    output();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QList<TraceEntry> SimRobot::trace(const QString &dir) const
{
    QList<TraceEntry> entries;
    QFile file(tracePath_);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    while (!file.atEnd()) {
        const QJsonObject o = QJsonDocument::fromJson(file.readLine()).object();
        TraceEntry e{
            o.value("t").toDouble(), o.value("dir").toString(), {}, o.value("meaning").toString()};
        for (const QJsonValue &b : o.value("bytes").toArray())
            e.bytes.append(static_cast<char>(b.toInt()));
        if (dir.isEmpty() || e.dir == dir)
            entries << e;
    }
    return entries;
}

} // namespace velmora::test
