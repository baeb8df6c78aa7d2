#include "link/winserialport.h"

#include "link/linetrace.h"

#include <QElapsedTimer>
#include <QWinEventNotifier>

#include <cstring>
#include <iterator>
#include <list>

#include <windows.h>

namespace velmora::link
{

namespace
{

// A read waits for its first byte as long as it takes, then ends at the first gap of this long
// between bytes. (The documented "return at once with what is there" combination of MAXDWORD
// timeouts is not honoured by Wine over a pseudo-terminal: its reads waited out the whole
// timeout with the answer there.)
constexpr DWORD kReadGapMs = 1;

QString systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    QString message = n > 0 ? QString::fromWCharArray(text, static_cast<int>(n)).trimmed() : "";
    LocalFree(text);
    while (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    if (message.isEmpty())
        return QStringLiteral("system error %1").arg(code);
    return QStringLiteral("%1, system error %2").arg(message).arg(code);
}

BYTE dcbParity(Parity parity)
{
    switch (parity) {
    case Parity::Even:
        return EVENPARITY;
    case Parity::Odd:
        return ODDPARITY;
    case Parity::Mark:
        return MARKPARITY;
    case Parity::Space:
        return SPACEPARITY;
    case Parity::None:
        break;
    }
    return NOPARITY;
}

} // namespace

// What lives only while the port is open: the handle, the read kept armed with its buffer, and
// the writes the driver has not finished.
struct WinSerialPort::Io {
    struct Read {
        OVERLAPPED ov{};
        char buffer[kReadChunk];
    };
    struct Write {
        OVERLAPPED ov{};
        QByteArray bytes;
    };

    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE readEvent = nullptr;
    std::unique_ptr<Read> read;
    bool reading = false;
    std::unique_ptr<QWinEventNotifier> notifier;
    std::list<Write> writes;
    // Finished writes, kept with their event and buffer for the next: a stop written for a
    // packet then allocates nothing.
    std::list<Write> spare;
    // Bumped at every close, so a loss queued for one session cannot close the next.
    int session = 0;
};

WinSerialPort::WinSerialPort(QObject *parent) : DevicePortBase(parent), io_(std::make_unique<Io>())
{
}

WinSerialPort::~WinSerialPort()
{
    closeDevice();
}

bool WinSerialPort::portOpen() const
{
    return io_->handle != INVALID_HANDLE_VALUE;
}

bool WinSerialPort::openDevice()
{
    if (!chooseDevice())
        return false;

    // The device namespace reaches COM10 and above too.
    const QString path = device().startsWith(QLatin1String("\\\\"))
                             ? device()
                             : QStringLiteral("\\\\.\\") + device();
    const HANDLE handle =
        CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD why = GetLastError();
        if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND)
            return refuse(OpenRefusal::NoDevice, missingDeviceMessage(commPort(), device()));
        // A COM port is opened by one program at a time; a second open is denied.
        if (why == ERROR_ACCESS_DENIED || why == ERROR_SHARING_VIOLATION)
            return refuse(OpenRefusal::Busy, accessRefusedMessage(commPort(), device()));
        return refuse(OpenRefusal::Other,
                      tr("%1 cannot be opened: %2.").arg(portText(), systemMessage(why)));
    }
    io_->handle = handle;

    if (!applyLineSettings()) {
        shutDown();
        return refuse(OpenRefusal::Settings, errorString());
    }
    SetupComm(handle, kReadChunk, kReadChunk);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kReadGapMs;
    if (!SetCommTimeouts(handle, &timeouts)) {
        const DWORD why = GetLastError();
        shutDown();
        return refuse(OpenRefusal::Other,
                      tr("%1 refused its read timeouts (%2); the port was not opened.")
                          .arg(portText(), systemMessage(why)));
    }
    // Bytes a previous program left behind are not the robot's answer to anything of ours.
    // Output is left alone: under Wine clearing it flushes the line's kernel queue, and with it
    // what the last close sent on its way out, such as the Start byte of a reconnect.
    PurgeComm(handle, PURGE_RXCLEAR);

    io_->readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    io_->read = std::make_unique<Io::Read>();
    io_->notifier = std::make_unique<QWinEventNotifier>(io_->readEvent);
    connect(io_->notifier.get(), &QWinEventNotifier::activated, this, &WinSerialPort::onReadDone);
    if (!armRead()) {
        shutDown();
        return refuse(OpenRefusal::Other,
                      tr("%1 cannot be read: %2.").arg(portText(), errorString()));
    }
    return true;
}

bool WinSerialPort::applyLineSettings()
{
    const HANDLE handle = io_->handle;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    auto refuse = [this](const QString &what, DWORD why) {
        setError(tr("%1 refused %2 (%3); the port was not opened.")
                     .arg(portText(), what, systemMessage(why)));
        return false;
    };
    if (!GetCommState(handle, &dcb))
        return refuse(tr("to tell its settings"), GetLastError());
    // One setting at a time, so a refusal names the one the driver would not take.
    auto apply = [&](const QString &what) {
        return SetCommState(handle, &dcb) || refuse(what, GetLastError());
    };

    const LineSettings &s = lineSettings();
    dcb.fBinary = TRUE;
    dcb.BaudRate = static_cast<DWORD>(s.baud);
    // Each step sends the whole DCB, so the first one goes with 8 data bits, no parity and one
    // stop bit rather than what the line was left with: Wine reads back a parity that a
    // pseudo-terminal half kept (odd without the enable bit) as a value it then refuses, which
    // would fail the baud rate of every later open.
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    if (!apply(tr("the baud rate %1").arg(s.baud)))
        return false;
    // Wine takes a speed that has no termios constant (14400, 28800 among the robot's) and runs
    // the line at 38400, saying so only when asked. A UART copes with a few percent.
    DCB taken{};
    taken.DCBlength = sizeof taken;
    if (GetCommState(handle, &taken) &&
        qAbs(static_cast<qint64>(taken.BaudRate) - s.baud) > s.baud / 32) {
        setError(tr("%1 refused the baud rate %2 (its driver set %3 instead); the port was not "
                    "opened.")
                     .arg(portText())
                     .arg(s.baud)
                     .arg(taken.BaudRate));
        return false;
    }
    dcb.Parity = dcbParity(s.parity);
    dcb.fParity = s.parity == Parity::None ? FALSE : TRUE;
    if (!apply(parityName(s.parity)))
        return false;
    dcb.ByteSize = static_cast<BYTE>(s.dataBits);
    if (!apply(tr("%1 data bits").arg(s.dataBits)))
        return false;

    // A UART sends 1.5 stop bits only with 5 data bits.
    if (s.stopBits == StopBits::OneAndHalf && s.dataBits != 5) {
        setError(tr("%1 cannot use 1.5 stop bits with %2 data bits; the port was not opened.")
                     .arg(portText())
                     .arg(s.dataBits));
        return false;
    }
    dcb.StopBits = s.stopBits == StopBits::Two          ? TWOSTOPBITS
                   : s.stopBits == StopBits::OneAndHalf ? ONE5STOPBITS
                                                        : ONESTOPBIT;
    if (!apply(tr("%1 stop bits").arg(stopBitsName(s.stopBits))))
        return false;

    // RTS belongs to the console, so handshaking stays off; RTS and DTR keep their levels.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fAbortOnError = FALSE;
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
        dcb.fRtsControl = rtsEnable() ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    return apply(tr("turning handshaking off"));
}

bool WinSerialPort::armRead()
{
    Io &io = *io_;
    ResetEvent(io.readEvent);
    io.read->ov = OVERLAPPED{};
    io.read->ov.hEvent = io.readEvent;
    // A read that completes at once still signals the event; it is taken in onReadDone either way.
    if (ReadFile(io.handle, io.read->buffer, kReadChunk, nullptr, &io.read->ov) ||
        GetLastError() == ERROR_IO_PENDING) {
        io.reading = true;
        return true;
    }
    io.reading = false;
    setError(systemMessage(GetLastError()));
    return false;
}

void WinSerialPort::onReadDone()
{
    Io &io = *io_;
    if (!io.reading || !portOpen())
        return;
    DWORD got = 0;
    if (!GetOverlappedResult(io.handle, &io.read->ov, &got, FALSE)) {
        const DWORD why = GetLastError();
        if (why == ERROR_IO_INCOMPLETE)
            return;
        io.reading = false;
        // Wine ends a waiting read with a timeout it was never given when a write on the port has
        // to wait for room in the line: nothing came, so the read is armed again.
        if (why == ERROR_TIMEOUT) {
            if (!armRead())
                loseDevice(tr("read failed: %1").arg(errorString()));
            return;
        }
        loseDevice(tr("read failed: %1").arg(systemMessage(why)));
        return;
    }
    io.reading = false;
    // Without a total timeout a read cannot end empty while the line is there; armed again it
    // would only end empty again, at once.
    if (got == 0) {
        loseDevice(tr("hang-up (a read ended with nothing)"));
        return;
    }
    const QByteArray bytes(io.read->buffer, static_cast<qsizetype>(got));
    // Armed again before the bytes are handed on: a handler may close the port meanwhile.
    if (!armRead()) {
        loseDevice(tr("read failed: %1").arg(errorString()));
        return;
    }
    arrive(bytes);
}

bool WinSerialPort::writeDevice(const QByteArray &bytes)
{
    Io &io = *io_;
    if (!reapWrites(false, 0)) {
        setError(tr("%1 refused the write (an earlier write failed); the bytes were not sent.")
                     .arg(portText()));
        return false;
    }
    // The caller's bytes may be its own memory: the driver gets a copy that lives until it is done.
    if (io.spare.empty()) {
        io.spare.emplace_back().ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    io.writes.splice(io.writes.end(), io.spare, io.spare.begin());
    Io::Write &w = io.writes.back();
    const HANDLE event = w.ov.hEvent;
    ResetEvent(event);
    w.ov = OVERLAPPED{};
    w.ov.hEvent = event;
    w.bytes.resize(bytes.size());
    std::memcpy(w.bytes.data(), bytes.constData(), static_cast<size_t>(bytes.size()));
    if (WriteFile(io.handle, w.bytes.constData(), static_cast<DWORD>(w.bytes.size()), nullptr,
                  &w.ov) ||
        GetLastError() == ERROR_IO_PENDING)
        return true;
    const DWORD why = GetLastError();
    io.spare.splice(io.spare.end(), io.writes, std::prev(io.writes.end()));
    setError(tr("%1 refused the write (%2); the bytes were not sent.")
                 .arg(portText(), systemMessage(why)));
    // Handed over from the event loop, never from inside the caller's write (a stop written in
    // the middle of decoding a packet).
    if (!lossQueued_) {
        lossQueued_ = true;
        const int session = io.session;
        QTimer::singleShot(0, this, [this, session, why] {
            lossQueued_ = false;
            if (portOpen() && io_->session == session)
                loseDevice(tr("write failed: %1").arg(systemMessage(why)));
        });
    }
    return false;
}

bool WinSerialPort::reapWrites(bool wait, int timeoutMs)
{
    Io &io = *io_;
    QElapsedTimer waited;
    waited.start();
    bool ok = true;
    for (auto it = io.writes.begin(); it != io.writes.end();) {
        if (wait) {
            const qint64 left = qMax<qint64>(0, timeoutMs - waited.elapsed());
            WaitForSingleObject(it->ov.hEvent, static_cast<DWORD>(left));
        }
        DWORD sent = 0;
        if (!GetOverlappedResult(io.handle, &it->ov, &sent, FALSE)) {
            if (GetLastError() == ERROR_IO_INCOMPLETE) {
                ++it;
                continue;
            }
            ok = false;
        }
        const auto done = it++;
        io.spare.splice(io.spare.end(), io.writes, done);
    }
    return ok;
}

bool WinSerialPort::applyRts(bool on)
{
    if (EscapeCommFunction(io_->handle, on ? SETRTS : CLRRTS))
        return true;
    // A line without modem control (a pseudo-terminal under Wine) refuses; that must not read as a
    // lost device.
    setError(tr("%1 has no RTS line that can be set (%2), so the robot cannot be woken this way.")
                 .arg(portText(), systemMessage(GetLastError())));
    return false;
}

void WinSerialPort::closeDevice()
{
    settle(false);
    if (!portOpen())
        return;
    // Closing drops whatever the driver still holds, such as the Start byte written at shutdown.
    QElapsedTimer waited;
    waited.start();
    qint64 queued = 0;
    for (const Io::Write &w : io_->writes)
        queued += w.bytes.size();
    reapWrites(true, kCloseDrainMs);
    qint64 unsent = 0;
    for (const Io::Write &w : io_->writes)
        unsent += w.bytes.size();
    VELMORA_TRACE(*this) << QStringLiteral("drain: %1 bytes queued, %2 left unsent, %3 ms")
                                .arg(queued)
                                .arg(unsent)
                                .arg(static_cast<double>(waited.nsecsElapsed()) / 1e6, 0, 'f', 3);
    shutDown();
}

void WinSerialPort::shutDown()
{
    Io &io = *io_;
    if (io.notifier) {
        io.notifier->setEnabled(false);
        io.notifier.reset();
    }
    if (io.handle != INVALID_HANDLE_VALUE)
        CancelIoEx(io.handle, nullptr);
    // The driver may write into the read buffer until the cancelled read has ended; if it never
    // says so, the buffer is left to it rather than freed under it.
    if (io.reading && io.read) {
        if (WaitForSingleObject(io.readEvent, 1000) == WAIT_OBJECT_0) {
            DWORD got = 0;
            GetOverlappedResult(io.handle, &io.read->ov, &got, FALSE);
        } else {
            (void)io.read.release();
            io.readEvent = nullptr;
        }
    }
    io.reading = false;
    io.read.reset();
    for (auto it = io.writes.begin(); it != io.writes.end();) {
        if (WaitForSingleObject(it->ov.hEvent, 1000) == WAIT_OBJECT_0) {
            CloseHandle(it->ov.hEvent);
            it = io.writes.erase(it);
        } else {
            ++it;
        }
    }
    // The same for writes: what the driver never finished is left to it.
    if (!io.writes.empty()) {
        auto *orphans = new std::list<Io::Write>;
        orphans->splice(orphans->end(), io.writes);
    }
    for (const Io::Write &w : io.spare)
        CloseHandle(w.ov.hEvent);
    io.spare.clear();
    if (io.readEvent)
        CloseHandle(io.readEvent);
    io.readEvent = nullptr;
    if (io.handle != INVALID_HANDLE_VALUE)
        CloseHandle(io.handle);
    io.handle = INVALID_HANDLE_VALUE;
    ++io.session;
}

void WinSerialPort::loseDevice(const QString &why)
{
    settle(false);
    VELMORA_TRACE(*this) << QStringLiteral("device error: %1").arg(why);
    shutDown();
    reportDeviceLost(lostMessage());
}

} // namespace velmora::link
