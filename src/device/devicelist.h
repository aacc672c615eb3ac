#pragma once

#include "device/devicefollower.h"
#include "device/port.h"
#include "device/portdiscovery.h"

#include <QList>
#include <QString>

// One AIS device present, as a port scan finds it.
struct ListedDevice
{
    cPortInfo port;
    bool bootLoader = false; // waiting in its boot loader, without application
    QString description;     // untranslated device description
    QString version;         // the application's version; empty in the boot loader
};

// Asks every port with the device's vendor ID that the follower may ask for "appver", as
// detection does, and returns the devices that answered like one. Ports another program holds are
// reported through log and left out.
QList<ListedDevice> listDevices(cPort &port, cDeviceFollower &follower, const LogFn &log,
                                const PortEnumerator &enumerate = enumeratePorts);
