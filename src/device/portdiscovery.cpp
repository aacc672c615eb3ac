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
    port.setParity(QSerialPort::NoParity);
    port.setDataBits(QSerialPort::Data8);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

bool scanApplicationPort(cPort &port, QString &applicationPortName, const UpdateSource &updateSource,
                         Identification &identification, const LogFn &log, const PortEnumerator &enumerate)
{
    const QList<cPortInfo> ports = enumerate();
    for (const cPortInfo &info : ports) {
        if (info.vendorID != deviceVendorId)
            continue;
        configurePort(port);
        applicationPortName = info.portName;
        port.setPortName(applicationPortName);
        log("Application port name: " + info.portName.toLocal8Bit());
        const QByteArray reply = queryDevice(port, applicationPortName, "appver", log);
        Identification found = identify(reply, updateSource);
        if (found.outcome != DetectionOutcome::NotRecognised) {
            identification = found;
            return true;
        }
    }
    return false;
}

bool scanBootloaderPort(cPort &port, const LogFn &log, const PortEnumerator &enumerate)
{
    bool found = false;
    const QList<cPortInfo> ports = enumerate();
    for (const cPortInfo &info : ports) {
        QM_TRACE("Quaymend::stepWizard") << "Found:" << info.portName;
        if (info.vendorID != deviceVendorId)
            continue;
        // Several ports may carry the vendor ID; the last one in enumeration order is used.
        port.setPortName(info.portName);
        log("Bootloader port name: " + info.portName.toLocal8Bit());
        found = true;
    }
    if (found)
        QM_TRACE("Quaymend::stepWizard") << "Connecting to:" << port.portName();
    return found;
}
