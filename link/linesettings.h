#pragma once

#include <QString>

namespace velmora::link
{

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// Parses "baud,parity,data bits,stop bits", e.g. "57600,n,8,1", into settings. On failure
// returns false, leaves settings as they were and, if error is given, names the field at fault.
bool parseLineSettings(const QString &text, LineSettings *settings, QString *error = nullptr);

} // namespace velmora::link
