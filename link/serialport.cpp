#include "link/serialport.h"

#include "link/portnumbers.h"

#include <cstring>

namespace velmora::link
{

SerialPort::SerialPort(QObject *parent) : QObject(parent)
{
    parseLineSettings(settingsText_, &lineSettings_);
}

SerialPort::~SerialPort() = default;

bool SerialPort::setSettings(const QString &text)
{
    QString why;
    if (!parseLineSettings(text, &lineSettings_, &why)) {
        setError(why);
        return false;
    }
    settingsText_ = text;
    return true;
}

bool SerialPort::setPortOpen(bool open)
{
    if (open == portOpen())
        return true;
    if (!open) {
        closeDevice();
        clearInput();
        return true;
    }
    if (commPort_ < 1) {
        setError(numberBelowOneMessage(commPort_));
        return false;
    }
    clearInput();
    commEvent_ = 0;
    if (!openDevice())
        return false;
    // The stored RTS value holds from the open on; a line without modem control may refuse it.
    applyRts(rts_);
    return true;
}

bool SerialPort::setRtsEnable(bool on)
{
    rts_ = on;
    if (!portOpen())
        return true;
    return applyRts(on);
}

bool SerialPort::output(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0xFF) {
            setError(tr("The character \"%1\" at position %2 cannot be sent as one byte; nothing "
                        "was sent.")
                         .arg(text[i])
                         .arg(i + 1));
            return false;
        }
        bytes.append(static_cast<char>(c));
    }
    return outputBytes(bytes);
}

bool SerialPort::outputBytes(const QByteArray &bytes)
{
    if (!portOpen()) {
        setError(tr("The port is not open; nothing was sent."));
        return false;
    }
    return writeDevice(bytes);
}

bool SerialPort::writeBytes(const sci::Sequence &bytes)
{
    // Not copied: a stop written inside the decoding walk allocates nothing.
    return outputBytes(QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data()),
                                               static_cast<qsizetype>(bytes.size())));
}

qsizetype SerialPort::inputCount(qsizetype room) const
{
    const qsizetype n =
        inputLen_ == 0 ? inBuffer_.size() : qMin<qsizetype>(inputLen_, inBuffer_.size());
    return qMin(n, room);
}

QByteArray SerialPort::input()
{
    const qsizetype n = inputCount(inBuffer_.size());
    QByteArray taken(inBuffer_.constData(), n);
    inBuffer_.remove(0, n);
    return taken;
}

qsizetype SerialPort::input(char *into, qsizetype room)
{
    const qsizetype n = inputCount(room);
    std::memcpy(into, inBuffer_.constData(), static_cast<std::size_t>(n));
    inBuffer_.remove(0, n);
    return n;
}

void SerialPort::appendReceived(const QByteArray &bytes)
{
    const qsizetype room = kInputLimit - inBuffer_.size();
    if (room <= 0)
        return;
    inBuffer_.append(bytes.constData(), qMin(room, bytes.size()));
}

void SerialPort::raiseReceive()
{
    if (rThreshold_ <= 0 || inBuffer_.isEmpty() || inBuffer_.size() < rThreshold_)
        return;
    commEvent_ = kCommEventReceive;
    emit onComm();
}

void SerialPort::reportDeviceLost(const QString &message)
{
    clearInput();
    setError(message);
    emit deviceLost(message);
}

} // namespace velmora::link
