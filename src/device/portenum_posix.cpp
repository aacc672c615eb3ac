#include "device/portenum.h"

#include <QSerialPortInfo>

QList<cPortInfo> systemPorts()
{
    QList<cPortInfo> ports;
    const QList<QSerialPortInfo> present = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : present) {
        const cUsbPlace place = usbPlaceOf(info.systemLocation());
        ports.append({ info.portName(), info.hasVendorIdentifier() ? int(info.vendorIdentifier()) : 0,
                       info.serialNumber(), place.location, place.device });
    }
    return ports;
}

QString systemSerialNumber(const QString &portName)
{
    return QSerialPortInfo(portName).serialNumber();
}
