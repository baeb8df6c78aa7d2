#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

namespace velmora::link
{

// The line trace: what went over the line and what became of it, one line per event, each
// stamped with the time since the port was opened. For a robot that will not wake or answer.
// Off unless asked for: QT_LOGGING_RULES="velmora.link.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// "137 0 255 128 0": the decimal values of bytes, as the SCI tables write them.
QString byteText(const QByteArray &bytes);

// A text line such as an AT command or the adapter's reply as a quoted string with its line
// ends shown ("\"ATMD\\r\""); any other bytes as byteText. At most limit bytes are shown.
QString lineText(const QByteArray &bytes, qsizetype limit = 64);

} // namespace velmora::link

// Starts one trace line about a port, stamped with its clock. What is streamed after it is only
// evaluated while the trace is on, so the trace costs a flag test when off.
#define VELMORA_TRACE(port) qCDebug(::velmora::link::lcLink).noquote() << (port).traceTime()
