#pragma once

#include "device/portenum.h"
#include "support/logsink.h"

#include <QSet>
#include <QString>

#include <functional>

// Keeps a run on one device when several are plugged in. The command line may bind the run to a
// serial number or a port; once detection has found the device, its USB serial number (or, for a
// device without one, its place in the USB tree) tells its ports from those of any other device:
// its boot loader comes up on a new port, which must be this device's and no other's. A device
// known by neither is followed as it always was, by the scans alone.
class cDeviceFollower
{
public:
    using HeldFn = std::function<bool(const QString &portName)>;

    cDeviceFollower();

    // Only the device with this serial number, or only this port ("ttyACM0" or "/dev/ttyACM0"), is
    // asked anything; empty: no binding.
    void bind(const QString &serialNumber, const QString &portName);
    // The device detection recognised on this port is the one the run follows from now on;
    // application: it answered from its application, not from its boot loader.
    void follow(const cPortInfo &port, bool application = true);

    // Whether the application scan may ask this port: the binding's port and device, and once the
    // device is known, only its own ports (on whatever port it comes back after an update).
    bool mayAsk(const cPortInfo &port) const;
    // Whether a boot loader's port belongs to the followed device (any boot loader while the
    // device is known by nothing).
    bool isOwnPort(const cPortInfo &port) const;
    // Whether the port is still the application's, the very USB device detection found it on (or
    // one whose device can no longer be read while it leaves): it is listed for a while after the
    // boot command, and is not the boot loader's.
    bool isApplicationPort(const cPortInfo &port) const;
    // True for a port another program holds; the first time for each port the log says so.
    bool skipHeld(const cPortInfo &port, const LogFn &log);

    QString serialNumber() const { return m_serialNumber; }
    QString usbLocation() const { return m_usbLocation; }

    // Tests replace how a held port is recognised.
    void setHeldCheck(HeldFn held) { m_held = std::move(held); }

private:
    QString m_boundPort;
    QString m_serialNumber;
    QString m_usbLocation;
    QString m_applicationDevice;
    QSet<QString> m_heldReported;
    HeldFn m_held;
    bool m_followed = false;
};

// A port as the update log names it: its name, and beside it the device's serial number where it
// has one ("/dev/ttyACM0 (serial number 8F3A21)").
QByteArray portLogText(const cPortInfo &port);
