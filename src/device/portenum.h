#pragma once

#include <QList>
#include <QString>

// USB vendor ID of the AIS device behind both its application port and its boot-loader port.
constexpr int deviceVendorId = 0x3E71;

struct cPortInfo
{
    QString portName; // as the platform names it (ttyACM0, COM12) or an absolute device path
    int vendorID = 0; // 0 for a port without a USB vendor ID
};

// The serial ports present now, in the platform's order. When QUAYMEND_SIMULATED_PORTS names a
// file, its lines "<device path> <vendor id in hex>" follow; the file is read afresh every call.
QList<cPortInfo> enumeratePorts();
