// The dialog's device-link operations: they hand the dialog's port, names and update log to the
// widget-free code of this folder and keep what it found.
#include "app/quaymend.h"

#include "device/bootswitch.h"
#include "device/portdiscovery.h"
#include "device/sentencechannel.h"
#include "support/trace.h"

namespace {

LogFn dialogLog(Quaymend *dialog)
{
    return [dialog](const QByteArray &line) {
        dialog->log(line);
    };
}

} // namespace

void Quaymend::writeToPort(const QByteArray &bytes)
{
    ::writeToPort(serialPort, bytes);
}

void Quaymend::sendCommand(const QByteArray &text)
{
    ::sendCommand(serialPort, text, dialogLog(this));
}

bool Quaymend::readResponse(QByteArray &text)
{
    return ::readResponse(serialPort, text, dialogLog(this));
}

QByteArray Quaymend::queryDevice(const QByteArray &command)
{
    return ::queryDevice(serialPort, applicationPortName, command, dialogLog(this));
}

void Quaymend::configurePort()
{
    ::configurePort(serialPort);
}

bool Quaymend::scanApplicationPort()
{
    Identification found;
    if (!::scanApplicationPort(serialPort, applicationPortName, { updateDirectory, updateFileOnly }, found, dialogLog(this),
                               enumeratePorts, &deviceFollower))
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

bool Quaymend::scanBootloaderPort()
{
    return ::scanBootloaderPort(serialPort, dialogLog(this), enumeratePorts, &deviceFollower);
}

void Quaymend::usbBoot()
{
    // Its port is gone, and may come back under the same name as the boot loader's.
    if (applicationLeft) {
        applicationLeft = false;
        QM_TRACE("Quaymend::usbBoot") << "Application port gone";
        return;
    }
    ::usbBoot(serialPort, applicationPortName, dialogLog(this));
}

bool Quaymend::usbBootHandshake()
{
    const bool started = ::usbBootHandshake(serialPort, dialogLog(this));
    if (!started && serialPort.vanished() && serialPort.portName() == applicationPortName)
        applicationLeft = true;
    return started;
}
