#include "link/adapter.h"

#include "link/serialport.h"

namespace velmora::link
{

namespace
{
constexpr char kCr = '\r';

QByteArray atLine(QByteArray text)
{
    return text.append(kCr);
}

bool writeLines(SerialPort &port, const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines) {
        if (!port.outputBytes(line))
            return false;
    }
    return true;
}

// Why a name cannot go inside the adapter's rename line; empty if it can.
QString unsafeNameReason(const QString &name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
            return QStringLiteral(
                       "The name holds a control character at position %1. It would end the "
                       "adapter's command line early, so the name was not sent.")
                .arg(i + 1);
        if (c > 0xFF)
            return QStringLiteral(
                       "The character \"%1\" at position %2 cannot be sent to the adapter as one "
                       "byte, so the name was not sent.")
                .arg(name[i])
                .arg(i + 1);
    }
    return QString();
}
} // namespace

QList<QByteArray> wexbinWakeLines()
{
    return {atLine("+++"), atLine("ATSW22,6,1,1"), atLine("ATSW23,6,0,1"), atLine("ATSW23,6,1,1"),
            atLine("ATMD")};
}

bool wakeRobot(SerialPort &port, AdapterKind kind)
{
    if (kind == AdapterKind::Wired) {
        // The line rises with the second set and falls with the seventh; the sets between
        // only stretch the pulse.
        for (bool on : {false, true, true, true, true, true, false}) {
            if (!port.setRtsEnable(on))
                return false;
        }
        return true;
    }
    return writeLines(port, wexbinWakeLines());
}

QList<QByteArray> renameLines(const QString &name)
{
    return {atLine("+++"), atLine("ATSN," + name.toLatin1()), atLine("ATMD")};
}

bool renameAdapter(SerialPort &port, const QString &name, QString *error)
{
    if (const QString why = unsafeNameReason(name); !why.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    if (!writeLines(port, renameLines(name))) {
        if (error)
            *error = port.errorString();
        return false;
    }
    return true;
}

} // namespace velmora::link
