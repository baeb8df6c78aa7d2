#include "probe/answer.h"

#include "protocol/sensordecoder.h"

#include <QRegularExpression>

#include <algorithm>

namespace velmora::probe
{

namespace
{

// The report's lines say all the probe needs; the walk's calls are of no use here.
class IgnoreSink : public sci::SensorEventSink
{
public:
    void showIndicator(sci::SensorIndicator) override {}
    void requestStop() override {}
};

// The number after label on the report line that starts with it, or nothing.
std::optional<int> reportNumber(const QString &report, const QString &label)
{
    const QRegularExpression pattern(
        QStringLiteral("(?:^|\\n)%1(-?\\d+)").arg(QRegularExpression::escape(label)));
    const QRegularExpressionMatch m = pattern.match(report);
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1).toInt();
}

// Byte index, the bits the protocol uses in it.
struct UsedBits {
    int index;
    unsigned used;
};
constexpr UsedBits kFlagBytes[] = {{0, 0x1f}, {1, 0x01}, {2, 0x01}, {3, 0x01}, {4, 0x01},
                                   {5, 0x01}, {6, 0x01}, {7, 0x1f}, {11, 0x0f}};

const char *const kSensorLines[] = {
    "Bump Right", "Bump Left",        "Wheeldrop Right",   "Wheeldrop Left", "Wheeldrop Caster",
    "Left Cliff", "Front Left Cliff", "Front Right Cliff", "Right Cliff",
};

} // namespace

AnswerCheck checkAnswer(const QByteArray &bytes)
{
    AnswerCheck c;
    if (bytes.size() != static_cast<qsizetype>(sci::kSensorPacketSize)) {
        c.failed = QStringLiteral("%1 bytes, where the robot's answer is %2")
                       .arg(bytes.size())
                       .arg(sci::kSensorPacketSize);
        return c;
    }
    sci::SensorPacket packet{};
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char *>(packet.data()));
    IgnoreSink sink;
    const QString report = QString::fromStdString(sci::DecodeSensorPacket(packet, sink));

    // Refused exactly as the console's live view refuses a read: one rule for both.
    switch (sci::outOfStep(packet)) {
    case sci::OutOfStep::No:
        break;
    case sci::OutOfStep::ChargingState:
        c.failed = QStringLiteral("the charging state is %1, where the robot knows only 0 to %2")
                       .arg(packet[16])
                       .arg(sci::kLastChargingState);
        return c;
    case sci::OutOfStep::Voltage:
        c.failed = QStringLiteral("the battery voltage, %1 mV, is outside the %2 to %3 mV a "
                                  "running robot's battery shows")
                       .arg((packet[17] << 8) | packet[18])
                       .arg(sci::kMinRunningVoltageMv)
                       .arg(sci::kMaxRunningVoltageMv);
        return c;
    }

    static const QRegularExpression state(QStringLiteral("Charging State = ([A-Za-z ]+)\\r\\n"));
    c.chargingState = state.match(report).captured(1);
    c.voltageMv = reportNumber(report, QStringLiteral("Voltage: ")).value_or(0);
    c.currentMa = reportNumber(report, QStringLiteral("Battery Current Draw: ")).value_or(0);
    c.temperatureC = reportNumber(report, QStringLiteral("Temperature: ")).value_or(0);
    c.chargeMah = reportNumber(report, QStringLiteral("Charge: ")).value_or(0);
    c.capacityMah = reportNumber(report, QStringLiteral("Capacity: ")).value_or(0);

    // Odd, but a real robot can send them (an ageing pack's estimate, a broken sensor): worth
    // saying, never a refusal.
    if (c.chargeMah > c.capacityMah)
        c.warnings << QStringLiteral("the charge, %1 mAh, is above the capacity, %2 mAh")
                          .arg(c.chargeMah)
                          .arg(c.capacityMah);
    if (c.temperatureC < kMinTemperatureC || c.temperatureC > kMaxTemperatureC)
        c.warnings << QStringLiteral("the battery temperature, %1 C, is outside the %2 to %3 C "
                                     "a battery in use usually shows")
                          .arg(c.temperatureC)
                          .arg(kMinTemperatureC)
                          .arg(kMaxTemperatureC);

    c.robot = true;
    for (const UsedBits &b : kFlagBytes) {
        const unsigned value = static_cast<unsigned char>(bytes[b.index]);
        if (value & ~b.used)
            c.warnings << QStringLiteral("byte %1 is 0x%2, with bits set that the protocol leaves "
                                         "unused (0x%3)")
                              .arg(b.index)
                              .arg(value, 2, 16, QLatin1Char('0'))
                              .arg(value & ~b.used, 2, 16, QLatin1Char('0'));
    }
    const QStringList lines = report.split(QStringLiteral("\r\n"));
    for (const char *name : kSensorLines) {
        if (lines.contains(QLatin1String(name)))
            c.sensorsOn << QLatin1String(name);
    }
    return c;
}

qsizetype answerInside(const QByteArray &bytes)
{
    const auto size = static_cast<qsizetype>(sci::kSensorPacketSize);
    for (qsizetype at = 0; at + size <= bytes.size() && bytes.size() > size; ++at) {
        if (checkAnswer(bytes.mid(at, size)).robot)
            return at;
    }
    return -1;
}

QString hexSample(const QByteArray &bytes, int limit)
{
    QString s = QString::fromLatin1(bytes.left(limit).toHex(' '));
    return bytes.size() > limit ? s + QStringLiteral(" ...") : s;
}

QString textSample(const QByteArray &bytes, int limit)
{
    QString s;
    for (const char ch : bytes.left(limit)) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == '\r')
            s += QStringLiteral("\\r");
        else if (b == '\n')
            s += QStringLiteral("\\n");
        else
            s += b >= 0x20 && b < 0x7f ? QChar(b) : QChar(u'.');
    }
    return bytes.size() > limit ? s + QStringLiteral("...") : s;
}

} // namespace velmora::probe
