#pragma once

#include <QByteArray>
#include <QDebug>
#include <QLoggingCategory>
#include <QString>

namespace velmora::link
{

class SerialPort;

// The line trace: what went over the line and what became of it, one line per event, each
// stamped with the time since the port was opened. For a robot that will not wake or answer.
// Off unless asked for: QT_LOGGING_RULES="velmora.link.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// "137 0 255 128 0": the decimal values of bytes, as the SCI tables write them.
QString byteText(const QByteArray &bytes);

// A text line such as an AT command or the adapter's reply as a quoted string with its line
// ends shown ("\"ATMD\\r\""); any other bytes as byteText. At most limit bytes are shown.
QString lineText(const QByteArray &bytes, qsizetype limit = 64);

// One trace line about a port, stamped with the port's clock when it is begun and handed to the
// port when complete: the port writes it at once, or after the receive event it belongs to.
class TraceLine
{
public:
    explicit TraceLine(const SerialPort &port);
    ~TraceLine();
    TraceLine(const TraceLine &) = delete;
    TraceLine &operator=(const TraceLine &) = delete;

    template <typename T> TraceLine &operator<<(const T &value)
    {
        debug_ << value;
        return *this;
    }

private:
    const SerialPort &port_;
    qint64 at_;
    QString text_;
    QDebug debug_;
};

} // namespace velmora::link

// Starts one trace line about a port. What is streamed after it is only evaluated while the
// trace is on, so the trace costs a flag test when off.
#define VELMORA_TRACE(port)                                                                        \
    for (bool velmoraTraceOn = ::velmora::link::lcLink().isDebugEnabled(); velmoraTraceOn;         \
         velmoraTraceOn = false)                                                                   \
    ::velmora::link::TraceLine(port)
