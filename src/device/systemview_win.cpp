// The pre-flight check's view of a Windows system: the ports Windows lists, access by opening the
// port as the update would. Groups, udev and ModemManager do not exist there.
#include "device/portenum.h"
#include "device/preflight.h"

#include <algorithm>

#include <windows.h>

namespace {

QString systemMessage(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    // The finding puts it in brackets within a sentence of its own.
    while (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    LocalFree(text);
    if (message.isEmpty())
        message = QStringLiteral("error %1").arg(error);
    return message;
}

class cWindowsSystemView : public cSystemView
{
public:
    QList<SystemPort> serialPorts() override
    {
        QList<SystemPort> ports;
        const QList<cPortInfo> system = systemPorts();
        for (const cPortInfo &info : enumeratePorts()) {
            const bool simulated = !std::any_of(system.cbegin(), system.cend(), [&info](const cPortInfo &listed) {
                return listed.portName == info.portName && listed.vendorID == info.vendorID;
            });
            ports.append({ info.portName, info.portName, info.vendorID > 0 ? info.vendorID : -1, info.productID,
                           info.serialNumber, info.description, simulated });
        }
        return ports;
    }

    PortAccess access(const QString &path, QString &detail) override
    {
        const QString prefix = QStringLiteral("\\\\.\\");
        const std::wstring device = (path.startsWith(prefix) ? path : prefix + path).toStdWString();
        const HANDLE handle = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            return PortAccess::Ok;
        }
        const DWORD error = GetLastError();
        detail = systemMessage(error);
        // Windows gives a serial port to one program at a time; the second is denied access.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            return PortAccess::Busy;
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return PortAccess::Gone;
        return PortAccess::Failed;
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
