#pragma once

#include "link/hangupwatch.h"
#include "link/portnames.h"
#include "link/serialport.h"

#include <QSerialPort>
#include <QTimer>

#include <chrono>

namespace velmora::link
{

// The console's port over a real serial device. Port numbers map to devices as portDevice()
// says; the line settings apply at each open; handshaking stays off.
//
// Receive events come as SerialPort::arrive says, the settle time kept by a timer here.
class QtSerialPort : public SerialPort
{
    Q_OBJECT
public:
    // Above the gap between pieces of one answer (20 ms written, at most 24 ms seen over a
    // loaded pseudo-terminal), well under the 250 ms sensor poll.
    static constexpr std::chrono::milliseconds kDefaultSettle{40};
    // The longest a close waits for queued output to leave.
    static constexpr int kCloseDrainMs = 500;

    explicit QtSerialPort(QObject *parent = nullptr);
    ~QtSerialPort() override;

    bool portOpen() const override;
    // The device in use, or the one the last open tried.
    QString device() const override { return device_; }

    // Opens this device instead of the one the port number gives; empty: by number again.
    void setDevicePath(const QString &path) { devicePath_ = path; }

    // Why the last open failed.
    OpenRefusal openRefusal() const { return refusal_; }

    std::chrono::milliseconds settleTime() const { return settle_; }
    void setSettleTime(std::chrono::milliseconds settle) { settle_ = settle; }

protected:
    bool openDevice() override;
    void closeDevice() override;
    bool applyRts(bool on) override;
    bool writeDevice(const QByteArray &bytes) override;
    void settle(bool start) override;

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void onHangUp();
    bool applyLineSettings();
    void loseDevice();
    QString portText() const;

    QSerialPort port_;
    QTimer quiet_;
    HangUpWatch hangUp_;
    std::chrono::milliseconds settle_ = kDefaultSettle;
    QString device_;
    QString devicePath_;
    OpenRefusal refusal_ = OpenRefusal::None;
};

} // namespace velmora::link
