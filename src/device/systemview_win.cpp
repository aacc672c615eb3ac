// The pre-flight check's view of a Windows system: ports from Qt, access by opening the port.
// Groups, udev and ModemManager do not exist there.
#include "device/portenum.h"
#include "device/preflight.h"

#include <QSerialPort>
#include <QSerialPortInfo>

namespace {

class cWindowsSystemView : public cSystemView
{
public:
    QList<SystemPort> serialPorts() override
    {
        QList<SystemPort> ports;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
            ports.append({ info.portName(), info.portName(),
                           info.hasVendorIdentifier() ? int(info.vendorIdentifier()) : -1,
                           info.hasProductIdentifier() ? int(info.productIdentifier()) : -1, info.serialNumber(),
                           info.description(), false });
        }
        return ports;
    }

    PortAccess access(const QString &path, QString &detail) override
    {
        QSerialPort port(path);
        if (port.open(QIODevice::ReadWrite)) {
            port.close();
            return PortAccess::Ok;
        }
        detail = port.errorString();
        return port.error() == QSerialPort::PermissionError ? PortAccess::Busy
            : port.error() == QSerialPort::DeviceNotFoundError ? PortAccess::Gone
                                                               : PortAccess::Failed;
    }

    NodeOwner owner(const QString &) override { return {}; }
    QString userName() override { return qEnvironmentVariable("USERNAME"); }
    QStringList processGroups() override { return {}; }
    QStringList memberGroups() override { return {}; }
    QList<ProcessInfo> processesUsing(const QString &) override { return {}; }
    bool processRunning(const QString &) override { return false; }
    bool udevRunning() override { return false; }
    QMap<QString, QString> udevProperties(const QString &) override { return {}; }
    QString installedUdevRule() override { return QString(); }
};

} // namespace

std::unique_ptr<cSystemView> makeSystemView()
{
    return std::make_unique<cWindowsSystemView>();
}
