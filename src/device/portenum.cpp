#include "device/portenum.h"

#include "support/regularfile.h"

#include <QDir>
#include <QFile>

#include <algorithm>

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

int hexField(const QString &field, const QLatin1String &tag)
{
    if (!field.startsWith(tag, Qt::CaseInsensitive) || field.size() != tag.size() + 4)
        return -1;
    bool ok = false;
    const int value = field.mid(tag.size()).toInt(&ok, 16);
    return ok ? value : -1;
}

} // namespace

cUsbIds usbIdsOfInstanceId(const QString &instanceId)
{
    cUsbIds ids;
    const QStringList parts = instanceId.split(QLatin1Char('\\'));
    if (parts.size() < 2)
        return ids;
    const bool ftdi = parts[1].contains(QLatin1Char('+'));
    const QStringList fields = parts[1].split(ftdi ? QLatin1Char('+') : QLatin1Char('&'));
    bool composite = false;
    for (const QString &field : fields) {
        if (const int vendor = hexField(field, QLatin1String("VID_")); vendor >= 0)
            ids.vendorID = vendor;
        else if (const int product = hexField(field, QLatin1String("PID_")); product >= 0)
            ids.productID = product;
        else if (field.startsWith(QLatin1String("MI_"), Qt::CaseInsensitive))
            composite = true;
        else if (ftdi && !field.isEmpty())
            ids.serialNumber = field;
    }
    if (ids.vendorID == 0)
        return {};
    if (!ftdi && !composite && parts.size() == 3 && !parts[2].contains(QLatin1Char('&')))
        ids.serialNumber = parts[2];
    return ids;
}

QList<cPortInfo> enumeratePorts()
{
    QList<cPortInfo> ports = systemPorts();
    // ':' between the files, ';' on Windows, whose paths hold ':' themselves.
    const QStringList files = qEnvironmentVariable("QUAYMEND_SIMULATED_PORTS").split(QDir::listSeparator(), Qt::SkipEmptyParts);
    QList<cPortInfo> simulated;
    for (const QString &path : files)
        appendSimulatedPorts(simulated, path);
    // A simulated device may play a port the system lists as well (a COM port that Wine maps to a
    // pseudo-terminal): the simulator's line says what is behind it.
    for (const cPortInfo &port : simulated) {
        ports.erase(std::remove_if(ports.begin(), ports.end(),
                                   [&port](const cPortInfo &listed) { return listed.portName == port.portName; }),
                    ports.end());
    }
    return ports + simulated;
}
