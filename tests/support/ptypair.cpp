#include "ptypair.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// The kernel's termios with the real line speeds; glibc's struct termios does not carry them.
struct termios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};

termios2 slaveTermios(int master)
{
    termios2 t{};
    // On a pseudo-terminal the master's termios requests act on the slave.
    ::ioctl(master, TCGETS2, &t);
    return t;
}

} // namespace

PtyPair::PtyPair(int number) : number_(number)
{
    if (!home_.isValid()) {
        problem_ = QStringLiteral("no temporary folder");
        return;
    }
    hadHome_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    savedHome_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path()));

    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        problem_ = QStringLiteral("posix_openpt failed: %1")
                       .arg(QString::fromLocal8Bit(::strerror(errno)));
        return;
    }
    slavePath_ = QString::fromLocal8Bit(::ptsname(master_));
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    if (slave_ < 0 || ::tcgetattr(slave_, &raw) != 0) {
        problem_ = QStringLiteral("cannot open %1").arg(slavePath_);
        return;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);

    if (!QDir().mkpath(linkFolder()) ||
        !QFile::link(slavePath_, QStringLiteral("%1/com%2").arg(linkFolder()).arg(number))) {
        problem_ = QStringLiteral("cannot link com%1 in %2").arg(number).arg(linkFolder());
        return;
    }
    reader_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    QObject::connect(reader_.get(), &QSocketNotifier::activated, [this] { readMaster(); });
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (slave_ >= 0)
        ::close(slave_);
    if (hadHome_)
        qputenv("XDG_CONFIG_HOME", savedHome_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString PtyPair::linkFolder() const
{
    return home_.path() + QStringLiteral("/velmora/ports");
}

bool PtyPair::write(const QByteArray &bytes)
{
    return ::write(master_, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
}

QByteArray PtyPair::received() const
{
    QByteArray all;
    for (const QByteArray &c : chunks_)
        all += c;
    return all;
}

unsigned PtyPair::baud() const
{
    return slaveTermios(master_).c_ospeed;
}

bool PtyPair::twoStopBits() const
{
    return (slaveTermios(master_).c_cflag & CSTOPB) != 0;
}

void PtyPair::closeMaster()
{
    reader_.reset();
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PtyPair::readMaster()
{
    char buffer[65536];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n > 0)
        chunks_ << QByteArray(buffer, n);
    else if (n == 0 || errno != EAGAIN)
        reader_->setEnabled(false);
}
