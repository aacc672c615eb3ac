#include "device/portenum.h"

#include <QMap>

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

namespace {

// The "Ports (COM & LPT)" device class.
constexpr GUID portsClass { 0x4d36e978, 0xe325, 0x11ce, { 0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18 } };

QString stringValue(const wchar_t *data, DWORD bytes)
{
    QString text = QString::fromWCharArray(data, int(bytes / sizeof(wchar_t)));
    const int end = text.indexOf(QChar(0));
    return end < 0 ? text : text.left(end);
}

// The ports as the serial drivers announce them: the values of HARDWARE\DEVICEMAP\SERIALCOMM,
// in the registry's order. Every serial port is there, also one that SetupAPI does not list
// (a virtual port, and all of Wine's).
QStringList serialCommPorts()
{
    QStringList names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0; index < 4096; ++index) {
        wchar_t valueName[256];
        DWORD valueNameLength = 256;
        wchar_t data[256] = {};
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, valueName, &valueNameLength, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const QString name = stringValue(data, dataBytes);
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    RegCloseKey(key);
    return names;
}

QString deviceId(DEVINST instance)
{
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(instance, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return QString();
    return QString::fromWCharArray(id);
}

// What SetupAPI knows of the ports present, by port name: USB identities and the name for people.
QMap<QString, cPortInfo> setupApiPorts()
{
    QMap<QString, cPortInfo> ports;
    const HDEVINFO set = SetupDiGetClassDevsW(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA device {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        cPortInfo info;
        const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            wchar_t data[256] = {};
            DWORD dataBytes = sizeof data - sizeof(wchar_t);
            DWORD type = 0;
            if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(data), &dataBytes) == ERROR_SUCCESS
                && type == REG_SZ)
                info.portName = stringValue(data, dataBytes);
            RegCloseKey(key);
        }
        if (info.portName.isEmpty())
            continue;
        const QString instanceId = deviceId(device.DevInst);
        cUsbIds ids = usbIdsOfInstanceId(instanceId);
        // One interface of a composite device: its serial number is its parent's.
        DEVINST parent = 0;
        if (ids.vendorID != 0 && ids.serialNumber.isEmpty() && CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS) {
            const cUsbIds parentIds = usbIdsOfInstanceId(deviceId(parent));
            if (parentIds.vendorID == ids.vendorID)
                ids.serialNumber = parentIds.serialNumber;
        }
        info.vendorID = ids.vendorID;
        info.productID = ids.productID;
        info.serialNumber = ids.serialNumber;
        wchar_t friendly[256] = {};
        if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE *>(friendly),
                                              sizeof friendly - sizeof(wchar_t), nullptr))
            info.description = QString::fromWCharArray(friendly);
        ports.insert(info.portName, info);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

} // namespace

QList<cPortInfo> systemPorts()
{
    const QMap<QString, cPortInfo> known = setupApiPorts();
    QList<cPortInfo> ports;
    for (const QString &name : serialCommPorts()) {
        cPortInfo info = known.value(name);
        info.portName = name;
        ports.append(info);
    }
    return ports;
}

QString systemSerialNumber(const QString &portName)
{
    return setupApiPorts().value(portName).serialNumber;
}
