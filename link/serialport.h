#pragma once

#include "link/linesettings.h"
#include "protocol/sci.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

namespace velmora::link
{

// The console's one serial port. Operations mirror what the console relies on:
// a port number and a settings text taken at the next open, an RTS line whose
// value holds across opens, one write per call, and a receive event gated by
// RThreshold and drained InputLen bytes at a time.
//
// Every failing operation returns false and leaves errorString() fit to show the operator.
class SerialPort : public QObject, public sci::ByteWriter
{
    Q_OBJECT
public:
    // Received bytes nobody reads are kept up to this many; the rest are dropped, as a UART
    // overruns.
    static constexpr int kInputLimit = 4096;
    static constexpr int kCommEventReceive = 2;

    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    int commPort() const { return commPort_; }
    void setCommPort(int port) { commPort_ = port; }

    QString settings() const { return settingsText_; }
    // Refuses a text that does not parse; the port keeps its previous settings then.
    bool setSettings(const QString &text);
    const LineSettings &lineSettings() const { return lineSettings_; }

    virtual bool portOpen() const = 0;
    // The device behind the port number, for the operator; empty if the backend has none.
    virtual QString device() const { return {}; }
    // true opens port commPort() with settings(); false drains queued output and closes.
    bool setPortOpen(bool open);

    bool rtsEnable() const { return rts_; }
    // While closed the value is stored for the next open; while open it is applied at once.
    bool setRtsEnable(bool on);

    // One character is one byte; a character above 255 refuses the whole write.
    bool output(const QString &text);
    // One call is one write; queues and returns without waiting. Used for text lines (the
    // adapter's AT commands), which are counted.
    bool outputBytes(const QByteArray &bytes);
    // How many text lines were written while open. The adapter answers them on the same input
    // as the robot's bytes, so the live view can tell which answers a reply may be mixed into.
    quint64 lineWrites() const { return lineWrites_; }
    bool writeBytes(const sci::Sequence &bytes) override;

    int inputLen() const { return inputLen_; }
    void setInputLen(int n) { inputLen_ = n < 0 ? 0 : n; }
    int rThreshold() const { return rThreshold_; }
    void setRThreshold(int n) { rThreshold_ = n < 0 ? 0 : n; }

    int inBufferCount() const { return static_cast<int>(inBuffer_.size()); }
    // Removes up to inputLen() waiting bytes (all of them for 0).
    QByteArray input();
    // The same into the caller's buffer, at most room bytes; returns how many. Allocates nothing.
    qsizetype input(char *into, qsizetype room);
    int commEvent() const { return commEvent_; }
    // What waits, left in place; valid until the input next changes.
    QByteArrayView peekInput() const { return inBuffer_; }
    // Throws away the first n waiting bytes (fewer if fewer wait).
    void skipInput(qsizetype n) { inBuffer_.remove(0, qMin(n, inBuffer_.size())); }

    QString errorString() const { return error_; }

    // The line trace's clock: the time since the port was last opened (before the first open,
    // since the port was made), in nanoseconds.
    qint64 traceClock() const { return clock_.nsecsElapsed(); }
    // Writes a trace line stamped at (traceClock()) as "    12.345 ms text", to the microsecond;
    // during a receive event it is kept until the event has been handled, so no line is written
    // before the stops the event led to, and the lines keep their order and stamps.
    void traceLine(qint64 at, const QString &text) const;

signals:
    // Raised after received bytes were queued (commEvent() == 2).
    void onComm();
    // The device went away; the port is already closed. Raised once per loss.
    void deviceLost(const QString &message);

protected:
    virtual bool openDevice() = 0;
    virtual void closeDevice() = 0;
    virtual bool applyRts(bool on) = 0;
    // The bytes may be the caller's memory, valid only during the call: keep a copy, never them.
    virtual bool writeDevice(const QByteArray &bytes) = 0;

    // Trace lines begun while one of these lives are written when the last one ends.
    class TraceHold
    {
    public:
        explicit TraceHold(const SerialPort &port) : port_(port) { ++port_.traceHolds_; }
        ~TraceHold();
        TraceHold(const TraceHold &) = delete;
        TraceHold &operator=(const TraceHold &) = delete;

    private:
        const SerialPort &port_;
    };

    void setError(const QString &message) { error_ = message; }
    // Queues received bytes, dropping what does not fit under kInputLimit.
    void appendReceived(const QByteArray &bytes);
    // Emits onComm() if RThreshold allows it for what is waiting now.
    void raiseReceive();
    // Bytes from the device. A USB or Bluetooth adapter hands an answer over in pieces and the
    // live view takes a read of exactly InputLen bytes or drops it, so the receive event comes
    // at once when InputLen bytes wait, and otherwise only once the line has been quiet for the
    // settle time (the backend's timer, started and stopped by settle()), never per piece.
    void arrive(const QByteArray &bytes);
    // Starts (true) or stops the settle timer, whose end calls raiseReceive().
    virtual void settle(bool start) { (void)start; }
    // Called by a backend that has already closed itself after losing the device.
    void reportDeviceLost(const QString &message);
    void clearInput() { inBuffer_.clear(); }

private:
    qsizetype inputCount(qsizetype room) const;
    bool driveRts(bool on, const char *when);
    // One write; sci says the bytes are an SCI sequence, shown as numbers in the trace.
    bool write(const QByteArray &bytes, bool sci);

    int commPort_ = 1;
    QString settingsText_ = QStringLiteral("9600,n,8,1");
    LineSettings lineSettings_;
    bool rts_ = false;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int commEvent_ = 0;
    QByteArray inBuffer_;
    QString error_;
    QElapsedTimer clock_;
    quint64 lineWrites_ = 0;
    struct HeldLine {
        qint64 at;
        QString text;
    };
    mutable int traceHolds_ = 0;
    mutable QList<HeldLine> heldTrace_;
};

} // namespace velmora::link
