#include "device/portenum.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// A small sysfs attribute ("5\n"); empty when it is missing or not a number.
QString numberFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray text = file.read(32).trimmed();
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= 0 ? QString::number(value) : QString();
}

} // namespace

cUsbPlace usbPlaceOf(const QString &systemLocation, const QString &sysRoot)
{
    cUsbPlace place;
#ifdef Q_OS_LINUX
    // <sys>/class/tty/<name>/device leads to the port's USB interface ("1-1.2:1.0"), or to a node
    // below it (ttyUSB0 of a USB serial converter); the USB device above the interface is named
    // after its bus and the hub ports on the way to it, and keeps that name when the device
    // restarts into another firmware on the same socket. Its device number does not.
    static const QRegularExpression usbDevice(QStringLiteral("^\\d+-\\d+(\\.\\d+)*$"));
    const QString name = QFileInfo(systemLocation).fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return place;
    const QString devices = QFileInfo(sysRoot + QStringLiteral("/devices")).canonicalFilePath();
    QString path = QFileInfo(sysRoot + QStringLiteral("/class/tty/") + name + QStringLiteral("/device")).canonicalFilePath();
    if (devices.isEmpty())
        return place;
    while (path.startsWith(devices + QLatin1Char('/'))) {
        const QString node = QFileInfo(path).fileName();
        if (usbDevice.match(node).hasMatch()) {
            place.location = node;
            const QString bus = numberFile(path + QStringLiteral("/busnum"));
            const QString number = numberFile(path + QStringLiteral("/devnum"));
            if (!bus.isEmpty() && !number.isEmpty())
                place.device = bus + QLatin1Char('/') + number;
            return place;
        }
        path = QFileInfo(path).path();
    }
#else
    Q_UNUSED(systemLocation)
    Q_UNUSED(sysRoot)
#endif
    return place;
}
