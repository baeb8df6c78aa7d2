#pragma once

// The port over a real serial device on this platform: Qt SerialPort on POSIX systems, the
// Win32 communications API on Windows. Both offer the same calls beyond SerialPort's.
#include <QtGlobal>

#ifdef Q_OS_WIN
#include "link/winserialport.h"
#else
#include "link/qtserialport.h"
#endif

namespace velmora::link
{
#ifdef Q_OS_WIN
using DevicePort = WinSerialPort;
#else
using DevicePort = QtSerialPort;
#endif
} // namespace velmora::link
