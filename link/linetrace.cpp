#include "link/linetrace.h"

#include "link/serialport.h"

#include <QStringList>

#include <algorithm>

namespace velmora::link
{

Q_LOGGING_CATEGORY(lcLink, "velmora.link", QtInfoMsg)

QString byteText(const QByteArray &bytes)
{
    QStringList parts;
    parts.reserve(bytes.size());
    for (char c : bytes)
        parts << QString::number(static_cast<unsigned char>(c));
    return parts.join(QLatin1Char(' '));
}

namespace
{
bool printable(char c)
{
    return c >= 0x20 && c < 0x7F;
}
} // namespace

QString lineText(const QByteArray &bytes, qsizetype limit)
{
    const bool text = !bytes.isEmpty() && printable(bytes.front()) &&
                      (bytes.back() == '\r' || bytes.back() == '\n') &&
                      std::all_of(bytes.cbegin(), bytes.cend(),
                                  [](char c) { return printable(c) || c == '\r' || c == '\n'; });
    const QByteArray shown = bytes.left(limit);
    const QString more = bytes.size() > limit
                             ? QStringLiteral(" ... (%1 more)").arg(bytes.size() - limit)
                             : QString();
    if (!text)
        return byteText(shown) + more;
    QString quoted = QStringLiteral("\"");
    for (char c : shown) {
        if (c == '\r')
            quoted += QStringLiteral("\\r");
        else if (c == '\n')
            quoted += QStringLiteral("\\n");
        else if (c == '"' || c == '\\')
            quoted += QStringLiteral("\\") + QLatin1Char(c);
        else
            quoted += QLatin1Char(c);
    }
    return quoted + QLatin1Char('"') + more;
}

TraceLine::TraceLine(const SerialPort &port) : port_(port), at_(port.traceClock()), debug_(&text_)
{
    debug_.noquote();
}

TraceLine::~TraceLine()
{
    port_.traceLine(at_, text_.trimmed());
}

} // namespace velmora::link
