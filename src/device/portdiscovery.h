#pragma once

#include "device/devicefollower.h"
#include "device/port.h"
#include "device/portenum.h"
#include "support/logsink.h"
#include "update/identify.h"

#include <QList>
#include <QString>

#include <functional>

using PortEnumerator = std::function<QList<cPortInfo>()>;

// Polling mode, 110 baud, no parity, 8 data bits, 1 stop bit, no flow control; the time-out is
// left as it is.
void configurePort(cPort &port);

// One pass over the device's ports asking each "appver" until a reply is recognised. Every
// candidate is logged as "Application port name: <name>" and left in applicationPortName; on true,
// identification holds what the recognised reply led to. With a follower, only the ports it may ask
// are asked, ports held by another program are skipped, and the recognised device is followed.
bool scanApplicationPort(cPort &port, QString &applicationPortName, const UpdateSource &updateSource,
                         Identification &identification, const LogFn &log,
                         const PortEnumerator &enumerate = enumeratePorts, cDeviceFollower *follower = nullptr);

// One pass looking for the boot loader's port; the last one with the device's vendor ID is set on
// the port (not opened). Each of them is logged as "Bootloader port name: <name>". With a follower,
// only the followed device's boot loader counts, and ports held by another program are skipped.
bool scanBootloaderPort(cPort &port, const LogFn &log, const PortEnumerator &enumerate = enumeratePorts,
                        cDeviceFollower *follower = nullptr);
