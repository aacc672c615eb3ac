#include "device/devicelist.h"

#include "device/sentencechannel.h"
#include "update/identify.h"

QList<ListedDevice> listDevices(cPort &port, cDeviceFollower &follower, const LogFn &log,
                                const PortEnumerator &enumerate)
{
    QList<ListedDevice> devices;
    const LogFn quiet = [](const QByteArray &) {};
    for (const cPortInfo &info : enumerate()) {
        if (info.vendorID != deviceVendorId || !follower.mayAsk(info) || follower.skipHeld(info, log))
            continue;
        configurePort(port);
        const QByteArray reply = queryDevice(port, info.portName, "appver", quiet);
        const DeviceType *type = identifyDevice(reply);
        if (!type)
            continue;
        ListedDevice device;
        device.port = info;
        device.bootLoader = type->bootLoaderOnly;
        device.description = QLatin1String(type->description);
        if (!device.bootLoader)
            device.version = QString::fromLatin1(reply);
        devices.append(device);
    }
    return devices;
}
