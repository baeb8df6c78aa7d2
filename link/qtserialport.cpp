#include "link/qtserialport.h"

#include "link/linetrace.h"
#include "link/portnames.h"

#include <QElapsedTimer>
#include <QMetaEnum>
#include <QSignalBlocker>
#include <QThread>

#include <sys/ioctl.h>
#include <termios.h>

namespace velmora::link
{

namespace
{

QSerialPort::Parity qtParity(Parity parity)
{
    switch (parity) {
    case Parity::Even:
        return QSerialPort::EvenParity;
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    case Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

bool oneAndHalfStopBits(int dataBits, QSerialPort::StopBits *stop)
{
    // termios has no 1.5 stop bits; a UART sends 1.5 for "two" only with 5 data bits.
    if (dataBits != 5)
        return false;
    *stop = QSerialPort::TwoStop;
    return true;
}

void drainOutput(QSerialPort &port, int timeoutMs)
{
    // Closing may reset the line settings at once, which would garble bytes the UART still holds.
    const int fd = port.handle();
    if (fd < 0)
        return;
    QElapsedTimer waited;
    waited.start();
    int pending = 0;
    while (::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0 && !waited.hasExpired(timeoutMs))
        QThread::usleep(500);
}

} // namespace

QtSerialPort::QtSerialPort(QObject *parent) : DevicePortBase(parent)
{
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    // Queued: a write that fails hands the loss over from the event loop, never from inside the
    // caller's write (a stop written in the middle of decoding a packet).
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError,
            Qt::QueuedConnection);
    // From the event loop too: a hang-up is seen only while waiting, never inside a write.
    connect(&hangUp_, &HangUpWatch::hungUp, this, &QtSerialPort::onHangUp);
}

QtSerialPort::~QtSerialPort()
{
    closeDevice();
}

bool QtSerialPort::portOpen() const
{
    return port_.isOpen();
}

bool QtSerialPort::openDevice()
{
    if (!chooseDevice())
        return false;

    port_.setPortName(device());
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError why = port_.error();
        const QString detail = port_.errorString();
        port_.clearError();
        if (why == QSerialPort::PermissionError) {
            return refuse(accessRefusal(device()) == AccessRefusal::Busy ? OpenRefusal::Busy
                                                                         : OpenRefusal::NotAllowed,
                          accessRefusedMessage(commPort(), device()));
        }
        if (why == QSerialPort::DeviceNotFoundError)
            return refuse(OpenRefusal::NoDevice, missingDeviceMessage(commPort(), device()));
        return refuse(OpenRefusal::Other, tr("%1 cannot be opened: %2.").arg(portText(), detail));
    }

    if (!applyLineSettings()) {
        const QSignalBlocker quiet(port_);
        port_.close();
        return refuse(OpenRefusal::Settings, errorString());
    }
    hangUp_.watch(port_.handle());
    return true;
}

bool QtSerialPort::applyLineSettings()
{
    const LineSettings &s = lineSettings();
    auto refuse = [this](const QString &what) {
        setError(tr("%1 refused %2 (%3); the port was not opened.")
                     .arg(portText(), what, port_.errorString()));
        port_.clearError();
        return false;
    };

    if (!port_.setBaudRate(s.baud))
        return refuse(tr("the baud rate %1").arg(s.baud));
    if (!port_.setParity(qtParity(s.parity)))
        return refuse(parityName(s.parity));
    if (!port_.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)))
        return refuse(tr("%1 data bits").arg(s.dataBits));

    QSerialPort::StopBits stop =
        s.stopBits == StopBits::Two ? QSerialPort::TwoStop : QSerialPort::OneStop;
    if (s.stopBits == StopBits::OneAndHalf && !oneAndHalfStopBits(s.dataBits, &stop)) {
        setError(tr("%1 cannot use 1.5 stop bits with %2 data bits; the port was not opened.")
                     .arg(portText())
                     .arg(s.dataBits));
        return false;
    }
    if (!port_.setStopBits(stop))
        return refuse(tr("%1 stop bits").arg(stopBitsName(s.stopBits)));

    // RTS belongs to the console, so handshaking stays off. DTR stays as the driver leaves it.
    if (!port_.setFlowControl(QSerialPort::NoFlowControl))
        return refuse(tr("turning handshaking off"));
    return true;
}

void QtSerialPort::closeDevice()
{
    settle(false);
    hangUp_.stop();
    if (!port_.isOpen())
        return;
    // close() alone drops whatever is still queued, such as the Start byte written at shutdown.
    // Signals stay blocked meanwhile: bytes that arrive now raise no receive event into a close.
    const QSignalBlocker quiet(port_);
    QElapsedTimer waited;
    waited.start();
    const qint64 queued = port_.bytesToWrite();
    while (port_.bytesToWrite() > 0 && !waited.hasExpired(kCloseDrainMs)) {
        if (!port_.waitForBytesWritten(static_cast<int>(kCloseDrainMs - waited.elapsed())))
            break;
    }
    const qint64 left = kCloseDrainMs - waited.elapsed();
    if (left > 0)
        drainOutput(port_, static_cast<int>(left));
    VELMORA_TRACE(*this) << QStringLiteral("drain: %1 bytes queued, %2 left unsent, %3 ms")
                                .arg(queued)
                                .arg(port_.bytesToWrite())
                                .arg(static_cast<double>(waited.nsecsElapsed()) / 1e6, 0, 'f', 3);
    port_.clearError();
    port_.close();
}

bool QtSerialPort::applyRts(bool on)
{
    if (port_.setRequestToSend(on))
        return true;
    // A line without modem control (a pseudo-terminal) refuses; that must not read as a lost
    // device.
    const QString detail = port_.errorString();
    port_.clearError();
    setError(tr("%1 has no RTS line that can be set (%2), so the robot cannot be woken this way.")
                 .arg(portText(), detail));
    return false;
}

bool QtSerialPort::writeDevice(const QByteArray &bytes)
{
    if (port_.write(bytes) == bytes.size()) {
        // To the driver now, not on the event loop's next pass: a stop written while a packet is
        // decoded must not wait until the report has been laid out and drawn.
        port_.flush();
        return true;
    }
    setError(tr("%1 refused the write (%2); the bytes were not sent.")
                 .arg(portText(), port_.errorString()));
    port_.clearError();
    return false;
}

void QtSerialPort::onReadyRead()
{
    arrive(port_.readAll());
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    // A vanished device keeps failing every read until the port is closed: close at the first.
    const bool lost = error == QSerialPort::ReadError || error == QSerialPort::ResourceError ||
                      error == QSerialPort::WriteError;
    if (lost && port_.isOpen()) {
        // The code says more than the text, which can be a stale system error after a hang-up.
        VELMORA_TRACE(*this)
            << QStringLiteral("device error: %1 (%2)")
                   .arg(QLatin1String(
                            QMetaEnum::fromType<QSerialPort::SerialPortError>().valueToKey(error)),
                        port_.errorString());
        loseDevice();
    }
}

void QtSerialPort::onHangUp()
{
    if (!port_.isOpen())
        return;
    VELMORA_TRACE(*this) << QStringLiteral("device error: hang-up (the other end of the line is "
                                           "gone)");
    loseDevice();
}

void QtSerialPort::loseDevice()
{
    settle(false);
    hangUp_.stop();
    {
        const QSignalBlocker quiet(port_);
        port_.clearError();
        port_.close();
    }
    reportDeviceLost(lostMessage());
}

} // namespace velmora::link
