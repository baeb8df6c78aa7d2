#pragma once

// velmora-sim as a child process: its pseudo-terminal linked as port N in a private
// configuration folder, its standard input and output, and its JSON trace.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace velmora::test
{

struct TraceEntry {
    double t = 0;
    QString dir; // "rx": received from the console, "tx": sent to it, "info"
    QByteArray bytes;
    QString meaning;
};

class SimRobot
{
public:
    // The configuration folder is a fresh temporary one unless given.
    explicit SimRobot(const QString &configHome = QString());
    // Started at once, quiet, on the given port with a trace file in the folder; see waitReady().
    SimRobot(const QString &configHome, int port, const QStringList &options);
    ~SimRobot();
    SimRobot(const SimRobot &) = delete;
    SimRobot &operator=(const SimRobot &) = delete;

    // Starts and waits for the ready line; false, with output() telling why, if none came.
    bool start(const QStringList &args, int timeoutMs = 10000);
    // After the starting constructor: true with the ready line, or false with what went wrong.
    bool waitReady(QString *line);

    QProcess &process() { return process_; }
    QString configHome() const { return configHome_; }
    QString linkPath() const;
    int port() const { return port_; }
    QString device() const { return device_; }
    QString readyLine() const { return readyLine_; }

    // Everything written to standard output so far.
    QString output();
    // Waits until standard output holds the text at or after position from.
    bool waitForOutput(const QString &text, int timeoutMs = 5000, qsizetype from = 0);
    // One line on standard input, in the pipe on return even if no event loop runs after.
    void command(const QString &line);
    // "quit" and wait for the exit: the exit code, or -1 if it did not end normally.
    int quit(int timeoutMs = 5000);
    bool waitForExit(int timeoutMs = 5000);

    // The --trace file's lines, only those of direction dir unless it is empty.
    QList<TraceEntry> trace(const QString &dir = QString()) const;
    QList<TraceEntry> received() const { return trace(QStringLiteral("rx")); }
    QList<TraceEntry> sent() const { return trace(QStringLiteral("tx")); }

private:
    QTemporaryDir temp_;
    QString configHome_;
    QString tracePath_;
    QProcess process_;
    QString out_;
    QString readyLine_;
    int port_ = 0;
    QString device_;
    bool ready_ = false;
};

} // namespace velmora::test
