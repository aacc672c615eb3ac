#include "device/portenum.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Ports files are small; anything beyond this is not one.
constexpr qint64 portsFileLimit = 1 << 20;

// The whole of path if it is a regular file, else nothing. A FIFO or a device named there would
// block the GUI thread in open() or read(): the file is opened without blocking and checked once
// open, so a file swapped in between the check and the open is caught as well.
QByteArray readRegularFile(const QString &path)
{
#ifdef Q_OS_WIN
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.read(portsFileLimit);
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    QByteArray content;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        char buffer[4096];
        while (content.size() < portsFileLimit) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            content.append(buffer, qsizetype(n));
        }
    }
    ::close(fd);
    return content;
#endif
}

// Ports of a device simulator, one "<device path> <vendor id in hex>" per line. Anything
// unreadable is left out; it must never stop the scan of the real ports.
void appendSimulatedPorts(QList<cPortInfo> &ports)
{
    const QString path = qEnvironmentVariable("QUAYMEND_SIMULATED_PORTS");
    if (path.isEmpty())
        return;
    const QByteArray content = readRegularFile(path);
    for (const QByteArray &line : content.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
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
