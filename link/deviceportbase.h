#pragma once

#include "link/portnames.h"
#include "link/serialport.h"

#include <QTimer>

#include <chrono>

namespace velmora::link
{

// What every port over a real device shares, whatever the platform's API: the device a port
// number names, why an open failed, the settle timer of the receive event (SerialPort::arrive),
// and the texts the operator reads about the port.
class DevicePortBase : public SerialPort
{
    Q_OBJECT
public:
    // Above the gap between pieces of one answer (20 ms written, at most 24 ms seen over a
    // loaded pseudo-terminal), well under the 250 ms sensor poll.
    static constexpr std::chrono::milliseconds kDefaultSettle{40};
    // The longest a close waits for queued output to leave.
    static constexpr int kCloseDrainMs = 500;

    // The device in use, or the one the last open tried.
    QString device() const override { return device_; }

    // Opens this device instead of the one the port number gives; empty: by number again.
    void setDevicePath(const QString &path) { devicePath_ = path; }

    // Why the last open failed.
    OpenRefusal openRefusal() const { return refusal_; }

    std::chrono::milliseconds settleTime() const { return settle_; }
    void setSettleTime(std::chrono::milliseconds settle) { settle_ = settle; }

protected:
    explicit DevicePortBase(QObject *parent = nullptr);

    // Picks the device this open is for; false, with the refusal told, if none can be tried.
    bool chooseDevice();
    // Records why the open failed; returns false for the caller to return.
    bool refuse(OpenRefusal why, const QString &message);
    void settle(bool start) override;
    // "Port 3 (COM3)", or the device alone when it was given by path.
    QString portText() const;
    // What the operator reads when the device went away.
    QString lostMessage() const;

private:
    QTimer quiet_;
    std::chrono::milliseconds settle_ = kDefaultSettle;
    QString device_;
    QString devicePath_;
    OpenRefusal refusal_ = OpenRefusal::None;
};

// "no parity", "even parity", ...: as the refusal messages name them.
QString parityName(Parity parity);
// "1", "1.5", "2".
QString stopBitsName(StopBits stop);

} // namespace velmora::link
