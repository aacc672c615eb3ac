#include "device/portenum.h"

#include "support/regularfile.h"

#include <QFile>

namespace {

// Ports files are small; anything beyond this is not one.
constexpr qint64 portsFileLimit = 1 << 20;

// The whole of path if it is a regular file, else nothing: a FIFO or a device named there would
// block the GUI thread in open() or read().
QByteArray readRegularFile(const QString &path)
{
    QFile file;
    return openRegularFile(file, path) ? file.read(portsFileLimit) : QByteArray();
}

// Ports of device simulators, one "<device path> <vendor id in hex> [serial number]" per line,
// each simulated device in a file of its own. Anything unreadable is left out; it must never stop
// the scan of the real ports.
void appendSimulatedPorts(QList<cPortInfo> &ports, const QString &path)
{
    const QByteArray content = readRegularFile(path);
    for (const QByteArray &line : content.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2 || fields.size() > 3 || fields[0].isEmpty())
            continue;
        QByteArray vendor = fields[1];
        if (vendor.startsWith("0x") || vendor.startsWith("0X"))
            vendor.remove(0, 2);
        bool ok = false;
        const int vendorID = vendor.toInt(&ok, 16);
        if (!ok || vendorID < 0 || vendorID > 0xFFFF)
            continue;
        cPortInfo info;
        info.portName = QString::fromLocal8Bit(fields[0]);
        info.vendorID = vendorID;
        if (fields.size() == 3)
            info.serialNumber = QString::fromLocal8Bit(fields[2]);
        ports.append(info);
    }
}

} // namespace

QList<cPortInfo> enumeratePorts()
{
    QList<cPortInfo> ports = systemPorts();
    const QStringList files = qEnvironmentVariable("QUAYMEND_SIMULATED_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : files)
        appendSimulatedPorts(ports, path);
    return ports;
}
