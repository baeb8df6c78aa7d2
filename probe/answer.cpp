#include "probe/answer.h"

#include "protocol/sensordecoder.h"

#include <algorithm>
#include <utility>

namespace velmora::probe
{

namespace
{

// Byte index, the bits the protocol uses in it.
struct UsedBits {
    int index;
    unsigned used;
};
constexpr UsedBits kFlagBytes[] = {{0, 0x1f}, {1, 0x01}, {2, 0x01}, {3, 0x01}, {4, 0x01},
                                   {5, 0x01}, {6, 0x01}, {7, 0x1f}, {11, 0x0f}};

// Bumpers, wheel drops and cliffs, named as the report names them.
QStringList sensorsOn(const sci::SensorData &s)
{
    const std::pair<bool, const char *> sensors[] = {
        {s.bumpRight, "Bump Right"},
        {s.bumpLeft, "Bump Left"},
        {s.wheeldropRight, "Wheeldrop Right"},
        {s.wheeldropLeft, "Wheeldrop Left"},
        {s.wheeldropCaster, "Wheeldrop Caster"},
        {s.cliffLeft, "Left Cliff"},
        {s.cliffFrontLeft, "Front Left Cliff"},
        {s.cliffFrontRight, "Front Right Cliff"},
        {s.cliffRight, "Right Cliff"},
    };
    QStringList on;
    for (const auto &[set, name] : sensors) {
        if (set)
            on << QLatin1String(name);
    }
    return on;
}

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
    const sci::SensorData sensors = sci::decodeSensors(packet);

    // Refused exactly as the console's live view refuses a read: one rule for both.
    switch (sci::outOfStep(sensors)) {
    case sci::OutOfStep::No:
        break;
    case sci::OutOfStep::ChargingState:
        c.failed = QStringLiteral("the charging state is %1, where the robot knows only 0 to %2")
                       .arg(sensors.chargingState)
                       .arg(sci::kLastChargingState);
        return c;
    case sci::OutOfStep::Voltage:
        c.failed = QStringLiteral("the battery voltage, %1 mV, is outside the %2 to %3 mV a "
                                  "running robot's battery shows")
                       .arg(sensors.voltageMv)
                       .arg(sci::kMinRunningVoltageMv)
                       .arg(sci::kMaxRunningVoltageMv);
        return c;
    }

    const std::string_view state = sci::chargingStateName(sensors.chargingState);
    c.chargingState = QString::fromLatin1(state.data(), static_cast<qsizetype>(state.size()));
    c.voltageMv = sensors.voltageMv;
    c.currentMa = sensors.currentMa;
    c.temperatureC = sensors.temperatureC;
    c.chargeMah = sensors.chargeMah;
    c.capacityMah = sensors.capacityMah;

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
    c.sensorsOn = sensorsOn(sensors);
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
