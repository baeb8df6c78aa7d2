#pragma once

#include "link/deviceportbase.h"
#include "link/hangupwatch.h"

#include <QSerialPort>

namespace velmora::link
{

// The console's port over a real serial device. Port numbers map to devices as portDevice()
// says; the line settings apply at each open; handshaking stays off.
//
// Receive events come as SerialPort::arrive says, the settle time kept by a timer here.
class QtSerialPort : public DevicePortBase
{
    Q_OBJECT
public:
    explicit QtSerialPort(QObject *parent = nullptr);
    ~QtSerialPort() override;

    bool portOpen() const override;

protected:
    bool openDevice() override;
    void closeDevice() override;
    bool applyRts(bool on) override;
    bool writeDevice(const QByteArray &bytes) override;

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void onHangUp();
    bool applyLineSettings();
    void loseDevice();

    QSerialPort port_;
    HangUpWatch hangUp_;
};

} // namespace velmora::link
