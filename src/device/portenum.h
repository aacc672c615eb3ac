#pragma once

#include <QList>
#include <QString>

// USB vendor ID of the AIS device behind both its application port and its boot-loader port.
constexpr int deviceVendorId = 0x3E71;

struct cPortInfo
{
    QString portName; // as the platform names it (ttyACM0, COM12) or an absolute device path
    int vendorID = 0; // 0 for a port without a USB vendor ID
    // What the device behind the port is known by: its USB serial number, and its place in the USB
    // tree (bus and hub ports, "1-1.2"); either is empty where there is none.
    QString serialNumber {};
    QString usbLocation {};
    // Which USB device the port belongs to now ("<bus>/<device number>"); the number is new every
    // time a device comes onto the bus, so it tells a device that left and came back, even on
    // the same port name, from one that never left. Empty where there is none.
    QString usbDevice {};
    // Where the system tells (Windows' SetupAPI): the USB product ID (-1 where none) and the
    // port's name for people ("USB Serial Device (COM5)").
    int productID = -1;
    QString description {};
};

// The USB identities a Windows device instance ID carries: "USB\VID_3E71&PID_0101\SER123". The
// last part is the device's serial number only where it has one: Windows makes one up with '&' in
// it otherwise, and the interface of a composite device ("...&MI_00\6&...") names none (its
// parent device does). FTDI's driver writes "FTDIBUS\VID_0403+PID_6001+SER123A\0000".
struct cUsbIds
{
    int vendorID = 0;
    int productID = -1;
    QString serialNumber;
};
cUsbIds usbIdsOfInstanceId(const QString &instanceId);

// The serial ports the system lists now, in its order (portenum_posix.cpp, portenum_win.cpp).
QList<cPortInfo> systemPorts();
// The USB serial number of the device behind a port the system lists, or empty.
QString systemSerialNumber(const QString &portName);

// The serial ports present now, in the platform's order. When QUAYMEND_SIMULATED_PORTS names
// files (several separated by ':'), their lines "<device path> <vendor id in hex> [serial number]"
// follow, file by file; the files are read afresh every call.
QList<cPortInfo> enumeratePorts();

struct cUsbPlace
{
    QString location; // "1-1.2"
    QString device;   // "1/7"
};

// Where the device behind a serial port sits on USB, from the system's device tree (sysRoot is
// where it is mounted; tests give a copy); empty for a port that is not on USB or a system that
// does not tell.
cUsbPlace usbPlaceOf(const QString &systemLocation, const QString &sysRoot = QStringLiteral("/sys"));
