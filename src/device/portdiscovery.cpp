#include "device/portdiscovery.h"

#include "device/sentencechannel.h"
#include "support/trace.h"

namespace {

constexpr qint32 linkBaudRate = 110;

} // namespace

void configurePort(cPort &port)
{
    port.setQueryMode(cPort::Polling);
    port.setBaudRate(linkBaudRate);
    port.setParity(cSerialLine::NoParity);
    port.setDataBits(cSerialLine::Data8);
    port.setStopBits(cSerialLine::OneStop);
    port.setFlowControl(cSerialLine::NoFlowControl);
}

bool scanApplicationPort(cPort &port, QString &applicationPortName, const UpdateSource &updateSource,
                         Identification &identification, const LogFn &log, const PortEnumerator &enumerate,
                         cDeviceFollower *follower)
{
    const QList<cPortInfo> ports = enumerate();
    for (const cPortInfo &info : ports) {
        if (info.vendorID != deviceVendorId)
            continue;
        if (follower && (!follower->mayAsk(info) || follower->skipHeld(info, log)))
            continue;
        configurePort(port);
        applicationPortName = info.portName;
        port.setPortName(applicationPortName);
        log("Application port name: " + portLogText(info));
        const QByteArray reply = queryDevice(port, applicationPortName, "appver", log);
        Identification found = identify(reply, updateSource);
        if (found.outcome != DetectionOutcome::NotRecognised) {
            identification = found;
            if (follower)
                follower->follow(info, !found.bootLoaderOnly);
            return true;
        }
    }
    return false;
}

bool scanBootloaderPort(cPort &port, const LogFn &log, const PortEnumerator &enumerate, cDeviceFollower *follower)
{
    bool found = false;
    const QList<cPortInfo> ports = enumerate();
    for (const cPortInfo &info : ports) {
        QM_TRACE("Quaymend::stepWizard") << "Found:" << info.portName;
        if (info.vendorID != deviceVendorId)
            continue;
        // Another device's boot loader may be up as well (a bench of them, or one that was left in
        // it): sending this device's file there would update the wrong device.
        if (follower && !follower->isOwnPort(info)) {
            QM_TRACE("Quaymend::stepWizard") << "Another device's port:" << info.portName << info.serialNumber;
            continue;
        }
        // The application leaves the bus a while after the boot command, and the boot loader may
        // come back under the same name: until then its port is still listed, and the handshake
        // would wait on it until it vanished.
        if (follower && follower->isApplicationPort(info)) {
            QM_TRACE("Quaymend::stepWizard") << "Still the application's port:" << info.portName << info.usbDevice;
            continue;
        }
        if (follower && follower->skipHeld(info, log))
            continue;
        // Several ports may carry the vendor ID; the last one in enumeration order is used.
        port.setPortName(info.portName);
        log("Bootloader port name: " + portLogText(info));
        found = true;
    }
    if (found)
        QM_TRACE("Quaymend::stepWizard") << "Connecting to:" << port.portName();
    return found;
}
