#pragma once

#include <QByteArray>
#include <QList>
#include <QSocketNotifier>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A real pseudo-terminal standing in for the robot's end of the line. The slave is reachable as
// port `number` through a comN link in a temporary XDG_CONFIG_HOME; the test holds the master.
// It also keeps the slave open itself, as the far end of a real cable stays powered, so the line
// survives the port's close and a test can still read what the port sent last.
class PtyPair
{
public:
    explicit PtyPair(int number = 7);
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    // Empty when the pseudo-terminal is ready, otherwise why not.
    QString problem() const { return problem_; }
    int number() const { return number_; }
    QString slavePath() const { return slavePath_; }
    QString linkFolder() const;
    int masterFd() const { return master_; }

    // Writes from the robot's side in one write() call.
    bool write(const QByteArray &bytes);

    // What the port sent, as read from the master: one entry per read() call. Filled while the
    // event loop runs.
    QList<QByteArray> chunks() const { return chunks_; }
    QByteArray received() const;

    // The line settings of the slave as the driver holds them.
    unsigned baud() const;
    bool twoStopBits() const;

    // The robot's end goes away: the port sees a hang-up.
    void closeMaster();

private:
    void readMaster();

    int number_;
    QString problem_;
    QTemporaryDir home_;
    QByteArray savedHome_;
    bool hadHome_ = false;
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    std::unique_ptr<QSocketNotifier> reader_;
    QList<QByteArray> chunks_;
};
