#include "device/devicefollower.h"

#include "device/portlock.h"

namespace {

const QLatin1String devPrefix("/dev/");

// "ttyACM0" and "/dev/ttyACM0" name the same port.
QString plainPortName(const QString &name)
{
    return name.startsWith(devPrefix) ? name.mid(devPrefix.size()) : name;
}

} // namespace

cDeviceFollower::cDeviceFollower()
    : m_held([](const QString &portName) { return portHeldElsewhere(portName); })
{
}

void cDeviceFollower::bind(const QString &serialNumber, const QString &portName)
{
    m_serialNumber = serialNumber;
    m_boundPort = plainPortName(portName);
}

void cDeviceFollower::follow(const cPortInfo &port, bool application)
{
    m_applicationDevice = application ? port.usbDevice : QString();
    if (!port.serialNumber.isEmpty())
        m_serialNumber = port.serialNumber;
    if (!port.usbLocation.isEmpty())
        m_usbLocation = port.usbLocation;
    m_followed = true;
}

bool cDeviceFollower::mayAsk(const cPortInfo &port) const
{
    // Once the device is known by its identity, that is what binds: after an update it comes back
    // on a port of another name.
    const bool known = m_followed && (!m_serialNumber.isEmpty() || !m_usbLocation.isEmpty());
    if (!known && !m_boundPort.isEmpty() && plainPortName(port.portName) != m_boundPort)
        return false;
    return isOwnPort(port);
}

bool cDeviceFollower::isOwnPort(const cPortInfo &port) const
{
    if (!m_serialNumber.isEmpty())
        return port.serialNumber == m_serialNumber;
    if (!m_usbLocation.isEmpty())
        return port.usbLocation == m_usbLocation;
    return true;
}

bool cDeviceFollower::isApplicationPort(const cPortInfo &port) const
{
    if (m_applicationDevice.isEmpty())
        return false;
    // The system's list can still name a port whose USB device has already gone from sysfs: the
    // application on its way off the bus, which no longer tells its device number.
    return port.usbDevice == m_applicationDevice || port.usbDevice.isEmpty();
}

bool cDeviceFollower::skipHeld(const cPortInfo &port, const LogFn &log)
{
    if (!m_held(port.portName))
        return false;
    if (!m_heldReported.contains(port.portName)) {
        m_heldReported.insert(port.portName);
        log("Port in use by another program: " + portLogText(port));
    }
    return true;
}

QByteArray portLogText(const cPortInfo &port)
{
    QByteArray text = port.portName.toLocal8Bit();
    if (!port.serialNumber.isEmpty())
        text += " (serial number " + port.serialNumber.toLocal8Bit() + ')';
    return text;
}
