#include "simharness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSignalSpy>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace simtest {

qint64 monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

SimProcess::SimProcess(const QString &configHome)
    : configHome_(configHome.isEmpty() ? temp_.path() : configHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome_);
    process_.setProcessEnvironment(env);
    process_.setProgram(QStringLiteral(VELMORA_SIM_PATH));
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, &news_, &ProcessNews::news);
    QObject::connect(&process_, &QProcess::finished, &news_, &ProcessNews::news);
}

SimProcess::~SimProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
}

QString SimProcess::linkPath() const
{
    return QStringLiteral("%1/velmora/ports/com%2").arg(configHome_).arg(port_);
}

QString SimProcess::output()
{
    out_ += QString::fromLocal8Bit(process_.readAllStandardOutput());
    return out_;
}

bool SimProcess::waitForOutput(const QString &text, int timeoutMs, qsizetype from)
{
    QElapsedTimer timer;
    timer.start();
    QSignalSpy spy(&news_, &ProcessNews::news);
    while (output().indexOf(text, from) < 0) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || process_.state() == QProcess::NotRunning)
            return output().indexOf(text, from) >= 0;
        spy.wait(static_cast<int>(left));
    }
    return true;
}

bool SimProcess::start(const QStringList &args, int timeoutMs)
{
    process_.setArguments(args);
    process_.start();
    if (!process_.waitForStarted(timeoutMs))
        return false;
    if (!waitForOutput(QStringLiteral("\n"), timeoutMs))
        return false;
    static const QRegularExpression ready(QStringLiteral("^Simulated robot ready on port (\\d+) \\((/dev/pts/\\d+)\\)$"));
    readyLine_ = output().section(QLatin1Char('\n'), 0, 0);
    const QRegularExpressionMatch m = ready.match(readyLine_);
    if (!m.hasMatch())
        return false;
    port_ = m.captured(1).toInt();
    device_ = m.captured(2);
    return true;
}

void SimProcess::command(const QString &line)
{
    process_.write((line + QLatin1Char('\n')).toLocal8Bit());
    // Into the pipe now: the caller may go on to block in poll() without an event loop.
    process_.waitForBytesWritten(3000);
}

bool SimProcess::waitForExit(int timeoutMs)
{
    if (process_.state() == QProcess::NotRunning)
        return true;
    QSignalSpy finished(&process_, &QProcess::finished);
    return finished.wait(timeoutMs) || process_.state() == QProcess::NotRunning;
}

int SimProcess::quit(int timeoutMs)
{
    command(QStringLiteral("quit"));
    if (!waitForExit(timeoutMs))
        return -1;
    output();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

bool LineClient::open(const QString &path)
{
    close();
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return fd_ >= 0;
}

void LineClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool LineClient::send(const QByteArray &b)
{
    qsizetype done = 0;
    while (done < b.size()) {
        const ssize_t n = ::write(fd_, b.constData() + done, static_cast<size_t>(b.size() - done));
        if (n < 0 && errno == EAGAIN) {
            waitEvents(POLLOUT, 1000);
            continue;
        }
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

short LineClient::waitEvents(short events, int timeoutMs)
{
    pollfd p{fd_, events, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    return r > 0 ? p.revents : 0;
}

QList<LineClient::Piece> LineClient::readPieces(int n, int timeoutMs)
{
    QList<Piece> pieces;
    int got = 0;
    const qint64 end = monotonicNs() + qint64(timeoutMs) * 1'000'000;
    while (got < n) {
        const qint64 left = (end - monotonicNs()) / 1'000'000;
        if (left <= 0)
            break;
        const short ev = waitEvents(POLLIN, static_cast<int>(left));
        if (!(ev & POLLIN))
            break;
        char buf[512];
        const ssize_t r = ::read(fd_, buf, sizeof buf < size_t(n - got) ? sizeof buf : size_t(n - got));
        if (r <= 0)
            break;
        pieces.append({monotonicNs(), QByteArray(buf, r)});
        got += static_cast<int>(r);
    }
    return pieces;
}

QByteArray LineClient::read(int n, int timeoutMs)
{
    QByteArray out;
    for (const Piece &p : readPieces(n, timeoutMs))
        out += p.bytes;
    return out;
}

} // namespace simtest
