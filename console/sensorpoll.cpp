#include "console/sensorpoll.h"

#include "link/adapter.h"
#include "link/linetrace.h"
#include "link/serialport.h"

#include <algorithm>
#include <utility>

namespace velmora::console
{

using sci::kSensorPacketSize;

namespace
{
// The line trace's account of one receive event: what waited, what was taken and why it was
// decoded or dropped; for a decoded packet, how many stops it wrote.
void traceReceive(const link::SerialPort &port, qsizetype waiting, qsizetype taken,
                  const char *outcome, int stops = -1)
{
    VELMORA_TRACE(port) << QStringLiteral("receive event: %1 waiting, %2 taken, %3%4")
                               .arg(waiting)
                               .arg(taken)
                               .arg(QLatin1String(outcome),
                                    stops < 0 ? QString()
                                              : QStringLiteral(", %1 stops written").arg(stops));
}
constexpr auto kPacketBytes = static_cast<qsizetype>(kSensorPacketSize);
} // namespace

SensorPoll::SensorPoll(link::SerialPort &port, std::function<bool(const sci::Sequence &)> send)
    : port_(port), send_(std::move(send))
{
}

void SensorPoll::cancel()
{
    SensorPollActive = 0;
    unanswered_ = 0;
    // Lines written while the view was off were answered long before its first request.
    requested_ = false;
}

bool SensorPoll::request()
{
    if (!port_.portOpen())
        return false;
    SensorPollActive = 1;
    // A request still unanswered may have its answer on the way, late (a stalled window lets
    // the tick run before the answer is read): it is decoded as this one's, and this one's
    // answer must then not be ignored, or its stop is lost. Older requests are given up.
    unanswered_ = std::min(unanswered_ + 1, 2);
    // Whatever waits now cannot be the answer to this request: adapter replies from before the
    // first poll, or the tail of a dropped answer. Left in place it would offset every later
    // answer, so none would ever again be exactly 26 bytes.
    port_.setInputLen(0);
    if (const qsizetype discarded = port_.input().size(); discarded > 0)
        VELMORA_TRACE(port_)
            << QStringLiteral("discarded %1 waiting before the request").arg(discarded);
    port_.setInputLen(static_cast<int>(kSensorPacketSize));
    port_.setRThreshold(1);
    const quint64 lines = port_.lineWrites();
    linesTrusted_ = requested_ ? linesAtRequest_ : lines;
    linesAtRequest_ = lines;
    requested_ = true;
    send_(sci::sciSensors());
    return true;
}

bool SensorPoll::take(sci::SensorData &sensors)
{
    if (port_.commEvent() != link::SerialPort::kCommEventReceive)
        return false;
    if (port_.lineWrites() != linesTrusted_ && cutReplies() &&
        port_.inBufferCount() < static_cast<int>(kSensorPacketSize))
        return false; // the rest of an answer behind a reply comes as a split answer's does
    const auto waiting = static_cast<qint16>(port_.inBufferCount());
    if (waiting <= 0)
        return false;
    if (waiting != static_cast<qint16>(kSensorPacketSize)) {
        const qsizetype taken = port_.input().size();
        traceReceive(port_, waiting, taken,
                     waiting < static_cast<qint16>(kSensorPacketSize) ? "dropped: too few"
                                                                      : "dropped: too many");
        return false;
    }
    // Taken straight into the packet: nothing is allocated on the way to the stops.
    sci::SensorPacket packet;
    const qsizetype taken =
        port_.input(reinterpret_cast<char *>(packet.data()), static_cast<qsizetype>(packet.size()));
    if (taken != kPacketBytes) {
        traceReceive(port_, waiting, taken, "dropped: too few");
        return false;
    }
    sensors = sci::decodeSensors(packet);
    // Shown, such bytes would be a report and stops that no robot sent; the next request's
    // discard brings the line back in step.
    switch (sci::outOfStep(sensors)) {
    case sci::OutOfStep::No:
        return true;
    case sci::OutOfStep::ChargingState:
        traceReceive(port_, waiting, taken, "dropped: out of step (no charging state)");
        return false;
    case sci::OutOfStep::Voltage:
        traceReceive(port_, waiting, taken, "dropped: out of step (no battery voltage)");
        return false;
    }
    return false;
}

bool SensorPoll::cutReplies()
{
    const qsizetype replies = link::adapterRepliesAtFront(port_.peekInput());
    if (replies == 0)
        return false;
    VELMORA_TRACE(port_) << QStringLiteral("cut off %1 of adapter replies: %2")
                                .arg(replies)
                                .arg(
                                    link::lineText(port_.peekInput().first(replies).toByteArray()));
    port_.skipInput(replies);
    return true;
}

bool SensorPoll::process(const sci::SensorData &sensors)
{
    if (SensorPollActive != 1) {
        traceReceive(port_, kPacketBytes, kPacketBytes, "dropped: no request outstanding");
        return false;
    }
    // The stops first, straight to the port: nothing is derived, laid out or allocated ahead
    // of them. A failure is kept for the window to tell.
    const sci::StopConditions stops = sci::stopConditions(sensors);
    stopWrites_ = {};
    for ([[maybe_unused]] const sci::StopCondition condition : stops) {
        if (sci::sendSci(port_, stop_))
            stopWrites_.push({true, {}});
        else
            stopWrites_.push({false, port_.errorString()});
    }
    indicators_ = sci::indicatorsOn(sensors);
    sci::DecodeSensorPacketInto(sensors, report_);
    SensorPollActive = --unanswered_ > 0 ? 1 : 0;
    // After the stops: a trace line must not hold one up.
    traceReceive(port_, kPacketBytes, kPacketBytes, "decoded", static_cast<int>(stops.size()));
    return true;
}

} // namespace velmora::console
