#pragma once

#include "link/linetrace.h"
#include "link/serialport.h"

#include <QList>
#include <QStringList>

#include <functional>

namespace velmora::link
{

// A port for unit tests: records what the console does to it and lets a test inject
// received bytes and failures. Each injectReceived() raises at most one receive event,
// so a test can deliver an answer split across events exactly as it wants.
class FakeSerialPort : public SerialPort
{
    Q_OBJECT
public:
    explicit FakeSerialPort(QObject *parent = nullptr);

    bool portOpen() const override { return open_; }

    // What happened, in order: "open 3 57600,n,8,1", "close", "rts 1", "write 128 130".
    QStringList log() const { return log_; }
    QList<QByteArray> writes() const { return writes_; }
    QList<bool> rtsSets() const { return rtsSets_; }
    void clearRecord();

    // Queues bytes as if received and raises a receive event when RThreshold allows.
    void injectReceived(const QByteArray &bytes);
    // Queues without an event, for bytes a later injection completes.
    void injectQuietly(const QByteArray &bytes);

    // Called with each write the moment it is recorded, so a test can look at the window then.
    void setWriteWatcher(std::function<void(const QByteArray &)> watcher)
    {
        watcher_ = std::move(watcher);
    }

    // Failure scripting.
    void failNextOpen(const QString &message) { openFailure_ = message; }
    void setRtsSupported(bool supported) { rtsSupported_ = supported; }
    void failWrites(const QString &message) { writeFailure_ = message; }
    // Drops the device as an unplugged adapter does: closes and reports the loss once.
    void unplug();

protected:
    bool openDevice() override;
    void closeDevice() override;
    bool applyRts(bool on) override;
    bool writeDevice(const QByteArray &bytes) override;

private:
    bool open_ = false;
    bool rtsSupported_ = true;
    QString openFailure_;
    QString writeFailure_;
    QStringList log_;
    QList<QByteArray> writes_;
    QList<bool> rtsSets_;
    std::function<void(const QByteArray &)> watcher_;
};

} // namespace velmora::link
