// The flow's device-link operations: they hand the flow's port, names and update log to the
// widget-free code of src/device and keep what it found.
#include "wizard/updateflow.h"

#include "device/bootswitch.h"
#include "device/portdiscovery.h"
#include "support/trace.h"

namespace {

LogFn flowLog(cUpdateFlow *flow)
{
    return [flow](const QByteArray &line) {
        flow->log(line);
    };
}

} // namespace

bool cUpdateFlow::scanApplicationPort()
{
    Identification found;
    if (!::scanApplicationPort(serialPort, applicationPortName, m_source, found, flowLog(this), enumeratePorts,
                               &deviceFollower))
        return false;
    detection = found;
    applicationLeft = false;
    // Without a file the earlier choice stands.
    if (!found.updateFileName.isEmpty())
        updateFileName = found.updateFileName;
    // Once the device has shown it has no application, it stays a boot-loader-only run.
    if (found.bootLoaderOnly)
        bootLoaderOnly = true;
    return true;
}

bool cUpdateFlow::scanBootloaderPort()
{
    if (!::scanBootloaderPort(serialPort, flowLog(this), enumeratePorts, &deviceFollower))
        return false;
    // The device does switch: only boot commands in a row that bring up nothing end a series.
    bootCommandsUnanswered = 0;
    return true;
}

void cUpdateFlow::usbBoot()
{
    // Its port is gone, and may come back under the same name as the boot loader's.
    if (applicationLeft) {
        applicationLeft = false;
        QM_TRACE("cUpdateFlow::usbBoot") << "Application port gone";
        return;
    }
    ::usbBoot(serialPort, applicationPortName, flowLog(this));
}

bool cUpdateFlow::usbBootHandshake()
{
    const bool started = ::usbBootHandshake(serialPort, flowLog(this));
    if (!started && serialPort.vanished() && serialPort.portName() == applicationPortName)
        applicationLeft = true;
    return started;
}
