#include "device/portenum.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

QString usbLocationOf(const QString &systemLocation)
{
#ifdef Q_OS_LINUX
    // /sys/class/tty/<name>/device leads to the port's USB interface ("1-1.2:1.0"), or to a node
    // below it (ttyUSB0 of a USB serial converter); the USB device above the interface is named
    // after its bus and the hub ports on the way to it, and keeps that name when the device
    // restarts into another firmware on the same socket.
    static const QRegularExpression usbDevice(QStringLiteral("^\\d+-\\d+(\\.\\d+)*$"));
    const QString name = QFileInfo(systemLocation).fileName();
    if (name.isEmpty())
        return QString();
    QString path = QFileInfo(QStringLiteral("/sys/class/tty/") + name + QStringLiteral("/device")).canonicalFilePath();
    while (!path.isEmpty() && path != QLatin1String("/")) {
        const QString node = QFileInfo(path).fileName();
        if (usbDevice.match(node).hasMatch())
            return node;
        path = QFileInfo(path).path();
        if (!path.startsWith(QLatin1String("/sys/devices/")))
            break;
    }
#else
    Q_UNUSED(systemLocation)
#endif
    return QString();
}
