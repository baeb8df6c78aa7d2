#pragma once

// Runs velmora-sim as a child process and talks to it over its pseudo-terminal with plain
// POSIX reads and writes, as any program on the other end of a serial line would.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace simtest {

// One signal for "something came from the process": output, or its end.
class ProcessNews : public QObject
{
    Q_OBJECT
signals:
    void news();
};

class SimProcess
{
public:
    // The configuration folder is a fresh temporary one unless given.
    explicit SimProcess(const QString &configHome = QString());
    ~SimProcess();

    // Starts and waits for the ready line; false (with output() telling why) if none came.
    bool start(const QStringList &args, int timeoutMs = 10000);
    QProcess &process() { return process_; }
    QString configHome() const { return configHome_; }
    QString linkPath() const;
    int port() const { return port_; }
    QString device() const { return device_; }
    QString readyLine() const { return readyLine_; }

    // Everything written to standard output so far.
    QString output();
    // Waits until standard output contains the text (from position from on).
    bool waitForOutput(const QString &text, int timeoutMs = 5000, qsizetype from = 0);
    void command(const QString &line);
    // "quit" and wait for the exit; the exit code, or -1 if it did not end.
    int quit(int timeoutMs = 5000);
    bool waitForExit(int timeoutMs = 5000);

private:
    QTemporaryDir temp_;
    QString configHome_;
    QProcess process_;
    ProcessNews news_;
    QString out_;
    QString readyLine_;
    int port_ = 0;
    QString device_;
};

// One end of the line, opened by path.
class LineClient
{
public:
    LineClient() = default;
    ~LineClient() { close(); }
    LineClient(const LineClient &) = delete;
    LineClient &operator=(const LineClient &) = delete;

    bool open(const QString &path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    bool send(const QByteArray &bytes);

    struct Piece
    {
        qint64 atNs; // monotonic time of the read that returned it
        QByteArray bytes;
    };
    // Reads until n bytes have come or the time is up, keeping the pieces as they came.
    QList<Piece> readPieces(int n, int timeoutMs);
    QByteArray read(int n, int timeoutMs = 3000);
    // poll() events on the line within the time, 0 if none.
    short waitEvents(short events, int timeoutMs);
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

qint64 monotonicNs();
QByteArray bytes(std::initializer_list<int> values);

} // namespace simtest
