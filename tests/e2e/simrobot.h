#pragma once

// velmora-sim as a child process: its pseudo-terminal linked as port N in a private
// configuration folder, its JSON trace read back after the fact.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace velmora::test {

struct TraceEntry {
    double t = 0;
    QString dir; // "rx": received from the console, "tx": sent to it
    QByteArray bytes;
    QString meaning;
};

class SimRobot
{
public:
    // The console in this process finds the port link through XDG_CONFIG_HOME too.
    SimRobot(const QString &configHome, int port, const QStringList &options)
        : port_(port), tracePath_(configHome + QStringLiteral("/trace-%1.jsonl").arg(port))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(VELMORA_SIM_PATH),
                       QStringList{"--port", QString::number(port), "--trace", tracePath_, "--quiet"} + options);
    }
    ~SimRobot()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        command("quit");
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(1000);
    }

    // Waits for the one "ready" line; returns it, or what went wrong.
    bool waitReady(QString *line)
    {
        const QDeadlineTimer deadline(10000);
        while (!process_.canReadLine()) {
            if (process_.state() == QProcess::NotRunning || deadline.hasExpired()
                || !process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                *line = QStringLiteral("simulator not ready: %1").arg(process_.errorString());
                return false;
            }
        }
        *line = QString::fromUtf8(process_.readLine()).trimmed();
        return line->startsWith(QStringLiteral("Simulated robot ready on port %1 ").arg(port_));
    }

    void command(const QByteArray &line) { process_.write(line + '\n'); }

    QList<TraceEntry> trace() const
    {
        QList<TraceEntry> entries;
        QFile file(tracePath_);
        if (!file.open(QIODevice::ReadOnly))
            return entries;
        while (!file.atEnd()) {
            const QJsonObject o = QJsonDocument::fromJson(file.readLine()).object();
            TraceEntry e{o.value("t").toDouble(), o.value("dir").toString(), {}, o.value("meaning").toString()};
            for (const QJsonValue &b : o.value("bytes").toArray())
                e.bytes.append(static_cast<char>(b.toInt()));
            entries << e;
        }
        return entries;
    }
    QList<TraceEntry> received() const { return only(QStringLiteral("rx")); }
    QList<TraceEntry> sent() const { return only(QStringLiteral("tx")); }

private:
    QList<TraceEntry> only(const QString &dir) const
    {
        QList<TraceEntry> out;
        for (const TraceEntry &e : trace()) {
            if (e.dir == dir)
                out << e;
        }
        return out;
    }

    int port_;
    QString tracePath_;
    QProcess process_;
};

} // namespace velmora::test
