#pragma once

#include "protocol/sci.h"
#include "protocol/sensordecoder.h"

#include <QString>
#include <QtGlobal>

#include <functional>

namespace velmora::link
{
class SerialPort;
}

namespace velmora::console
{

// The live view's side of the line, apart from the window: the sensor request, the receive
// event, and the stops an answer calls for, written straight to the port. The window shows what
// a packet held afterwards. Kept free of widgets so that it can be fuzzed without a window.
class SensorPoll
{
public:
    // send writes the request (the window's writer, which tells the operator of failures).
    SensorPoll(link::SerialPort &port, std::function<bool(const sci::Sequence &)> send);

    // 1 from a request until its answer has been handled or the view is switched off; a request
    // written while the one before was unanswered keeps it 1 for both answers.
    qint16 active() const { return SensorPollActive; }
    // The view switched off: an answer still on its way changes nothing.
    void cancel();

    // PollSensors' work on the line; false, with nothing done, while the port is closed.
    bool request();
    // The receive event: takes the waiting input; true if that was exactly one packet's bytes,
    // now decoded in sensors. Adapter replies in front of an answer are cut off first; bytes no
    // robot can have sent are dropped as out of step.
    bool take(sci::SensorData &sensors);
    // ProcessSensorData's work: true if the packet was the answer to an outstanding request.
    // Its stops are written first; then the indicators and the report are derived.
    bool process(const sci::SensorData &sensors);

    const sci::SensorReport &report() const { return report_; }
    // The indicators of the last packet, in the report's order.
    const sci::SensorIndicators &indicators() const { return indicators_; }
    // Each stop the last packet wrote, in order, and the port's reason if it was not written;
    // the window tells the operator after the writes, as it does for its own.
    struct StopWrite {
        bool written = false;
        QString error;
    };
    const sci::Bounded<StopWrite, sci::kMaxStops> &stopWrites() const { return stopWrites_; }

private:
    link::SerialPort &port_;
    std::function<bool(const sci::Sequence &)> send_;
    // Built once, so a stop allocates nothing on its way to the robot.
    const sci::Sequence stop_ = sci::goStop();
    qint16 SensorPollActive = 0;
    // Requests whose answers may still come: the last one and the one before.
    int unanswered_ = 0;
    // Takes whole adapter replies off the front of what waits; true if there were any.
    bool cutReplies();

    // The port's count of adapter lines when the last request went out, and the count under
    // which no reply can come: the adapter's replies may stand in front of any answer that
    // arrives after a line written since the request before this one (a reply can still be on
    // its way when a request throws away what waits).
    bool requested_ = false;
    quint64 linesAtRequest_ = 0;
    quint64 linesTrusted_ = 0;
    sci::SensorReport report_;
    sci::SensorIndicators indicators_;
    sci::Bounded<StopWrite, sci::kMaxStops> stopWrites_;
};

} // namespace velmora::console
