#pragma once

#include <QString>

#include <optional>

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

// Parses "baud,parity,data bits,stop bits", e.g. "57600,n,8,1". On failure returns nothing
// and, if error is given, a message naming the field at fault.
std::optional<LineSettings> parseLineSettings(const QString &text, QString *error = nullptr);

} // namespace velmora::link
