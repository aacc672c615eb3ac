#include "device/portenum.h"

#include <QFile>
#include <QSerialPortInfo>

namespace {

// Ports of a device simulator, one "<device path> <vendor id in hex>" per line. Anything
// unreadable is left out; it must never stop the scan of the real ports.
void appendSimulatedPorts(QList<cPortInfo> &ports)
{
    const QString path = qEnvironmentVariable("QUAYMEND_SIMULATED_PORTS");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() != 2 || fields[0].isEmpty())
            continue;
        QByteArray vendor = fields[1];
        if (vendor.startsWith("0x") || vendor.startsWith("0X"))
            vendor.remove(0, 2);
        bool ok = false;
        const int vendorID = vendor.toInt(&ok, 16);
        if (!ok || vendorID < 0 || vendorID > 0xFFFF)
            continue;
        ports.append({ QString::fromLocal8Bit(fields[0]), vendorID });
    }
}

} // namespace

QList<cPortInfo> enumeratePorts()
{
    QList<cPortInfo> ports;
    const QList<QSerialPortInfo> present = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : present)
        ports.append({ info.portName(), info.hasVendorIdentifier() ? int(info.vendorIdentifier()) : 0 });
    appendSimulatedPorts(ports);
    return ports;
}
