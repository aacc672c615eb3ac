#include "app/runmodes.h"

#include "device/devicelist.h"
#include "device/serialport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

void print(FILE *stream, const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

int runList(const CommandLine &commandLine)
{
    cDeviceFollower follower;
    follower.bind(commandLine.serialNumber, commandLine.portName);
    cSerialPort port;
    const LogFn note = [](const QByteArray &line) { print(stderr, "quaymend: " + line); };
    const QList<ListedDevice> devices = listDevices(port, follower, note);
    for (const ListedDevice &device : devices) {
        const QString kind = device.bootLoader ? QStringLiteral("boot-loader") : QStringLiteral("application");
        if (commandLine.json) {
            const QJsonObject object { { QStringLiteral("port"), device.port.portName },
                                       { QStringLiteral("serial"), device.port.serialNumber },
                                       { QStringLiteral("kind"), kind },
                                       { QStringLiteral("device"), device.description },
                                       { QStringLiteral("version"), device.version } };
            print(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact));
        } else {
            const QString serial = device.port.serialNumber.isEmpty() ? QStringLiteral("-") : device.port.serialNumber;
            const QString version = device.version.isEmpty() ? QStringLiteral("-") : device.version;
            print(stdout, QStringLiteral("%1  serial %2  %3  %4  %5")
                              .arg(device.port.portName, serial, kind, device.description, version)
                              .toLocal8Bit());
        }
    }
    return devices.isEmpty() ? ExitCode::NoDevice : ExitCode::Ok;
}
