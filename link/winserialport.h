#pragma once

#include "link/deviceportbase.h"

#include <memory>

namespace velmora::link
{

// The console's port over a Windows COM port, through the Win32 communications API: the
// settings into a DCB at each open, RTS through EscapeCommFunction, handshaking off, and one
// overlapped read kept armed all the time the port is open. The comm timeouts make that read
// complete once bytes have come and the line pauses; its event wakes the event loop
// (QWinEventNotifier), so no thread polls and nothing waits on WaitCommEvent.
//
// Receive events come as SerialPort::arrive says, the settle time kept by a timer here. A read
// or write that fails the way a removed adapter makes it fail closes the port and reports the
// loss once.
class WinSerialPort : public DevicePortBase
{
    Q_OBJECT
public:
    // One read takes at most this many bytes; more waiting are read by the next one at once.
    static constexpr int kReadChunk = 4096;

    explicit WinSerialPort(QObject *parent = nullptr);
    ~WinSerialPort() override;

    bool portOpen() const override;

protected:
    bool openDevice() override;
    void closeDevice() override;
    bool applyRts(bool on) override;
    bool writeDevice(const QByteArray &bytes) override;

private:
    struct Io;

    bool applyLineSettings();
    bool armRead();
    void onReadDone();
    // Forgets the writes that have completed; false if one of them failed.
    bool reapWrites(bool wait, int timeoutMs);
    void loseDevice(const QString &why);
    void shutDown();

    std::unique_ptr<Io> io_;
    bool lossQueued_ = false;
};

} // namespace velmora::link
