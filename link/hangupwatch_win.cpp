#include "link/hangupwatch.h"

#include <QSocketNotifier>

namespace velmora::link
{

// Only Unix descriptors are watched; here the port goes by QSerialPort's own errors.
HangUpWatch::HangUpWatch(QObject *parent) : QObject(parent) {}

HangUpWatch::~HangUpWatch() = default;

void HangUpWatch::watch(qintptr) {}

void HangUpWatch::stop() {}

void HangUpWatch::check() {}

} // namespace velmora::link
