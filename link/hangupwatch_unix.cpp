#include "link/hangupwatch.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace velmora::link
{

HangUpWatch::HangUpWatch(QObject *parent) : QObject(parent) {}

HangUpWatch::~HangUpWatch()
{
    stop();
}

void HangUpWatch::watch(qintptr handle)
{
    stop();
    // A descriptor of our own for the same open device: Qt's event dispatcher takes one read
    // notifier per descriptor, and QSerialPort holds that one.
    fd_ = ::fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &HangUpWatch::check);
}

void HangUpWatch::stop()
{
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void HangUpWatch::check()
{
    // Bytes waiting wake this too; they are QSerialPort's to read.
    pollfd p{fd_, 0, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0)
        emit hungUp();
}

} // namespace velmora::link
