#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace velmora::link
{

// Tells when the far end of an open serial line hangs up: a USB adapter pulled out, a
// pseudo-terminal's master closed. After a hang-up read() returns 0; Qt 6.4's QSerialPort took
// that for a read error, Qt 6.7.1 and later (QSerialPortPrivate::readNotification) ignore it, so
// a hang-up while nothing is written raises nothing and the port stays open on a dead line. The
// hang-up itself shows in poll(): POLLHUP.
class HangUpWatch : public QObject
{
    Q_OBJECT
public:
    explicit HangUpWatch(QObject *parent = nullptr);
    ~HangUpWatch() override;

    // Watches the device open behind handle (QSerialPort::handle()) until stop().
    void watch(qintptr handle);
    void stop();

signals:
    void hungUp();

private:
    void check();

    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace velmora::link
