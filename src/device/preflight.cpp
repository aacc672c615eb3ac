#include "device/preflight.h"

#include "device/portenum.h"

#include <QDir>

#include <algorithm>

namespace {

QString hex4(int value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

QString portLine(const SystemPort &port)
{
    QString text = QStringLiteral("Serial port %1").arg(port.path);
    if (port.simulated) {
        text += QStringLiteral(" (simulated)");
    } else {
        text += QStringLiteral(" (vendor ID %1, product ID %2, serial number %3")
                    .arg(port.vendorId < 0 ? QStringLiteral("none") : hex4(port.vendorId),
                         port.productId < 0 ? QStringLiteral("none") : hex4(port.productId),
                         port.serialNumber.isEmpty() ? QStringLiteral("none") : port.serialNumber);
        if (!port.description.isEmpty())
            text += QStringLiteral(", \"%1\"").arg(port.description);
        text += QLatin1Char(')');
    }
    return text;
}

const QString udevRuleFix = QStringLiteral(
    "install Quaymend's udev rule (%1, part of the Debian package), then unplug the device and plug it in again")
                                .arg(QLatin1String(udevRuleName));

Finding permissionFinding(cSystemView &system, const QString &path)
{
    const NodeOwner owner = system.owner(path);
    const QString user = system.userName();
    QString text = QStringLiteral("You may not open %1 for reading and writing").arg(path);
    if (!owner.known)
        return { Finding::Problem, text + QStringLiteral(". Fix: ") + udevRuleFix + QLatin1Char('.') };

    text += QStringLiteral(": it belongs to user %1 and group %2 with mode %3")
                .arg(owner.user, owner.group, QString::number(owner.mode & 0777, 8).rightJustified(4, QLatin1Char('0')));
    const bool groupMayUse = (owner.mode & 060) == 060;
    if (groupMayUse && system.memberGroups().contains(owner.group) && !system.processGroups().contains(owner.group)) {
        return { Finding::Problem,
                 text
                     + QStringLiteral(", and you joined group %1 after this session began. Fix: log out and log in "
                                      "again (or restart the computer), then start Quaymend again.")
                           .arg(owner.group) };
    }
    if (groupMayUse) {
        return { Finding::Problem,
                 text
                     + QStringLiteral(", and you are not in group %1. Fix: join the group with \"sudo usermod -aG %1 %2\", "
                                      "then log out and log in again; or %3.")
                           .arg(owner.group, user, udevRuleFix) };
    }
    return { Finding::Problem,
             text
                 + QStringLiteral(", which lets no one else use it. Fix: %1; or, until the device is unplugged, "
                                  "\"sudo setfacl -m u:%2:rw %3\".")
                       .arg(udevRuleFix, user, path) };
}

Finding busyFinding(cSystemView &system, const QString &path, const QString &detail)
{
    QList<ProcessInfo> processes = system.processesUsing(path);
    // A program with both the port open and its lock file (minicom) is named once.
    if (const std::optional<ProcessInfo> lock = system.lockHolder(path); lock && lock->pid > 0) {
        processes.removeIf([&](const ProcessInfo &process) { return process.pid == lock->pid; });
        processes.prepend(*lock);
    }
    QStringList holders;
    for (const ProcessInfo &process : processes) {
        holders.append(process.name.isEmpty() ? QStringLiteral("process %1").arg(process.pid)
                                              : QStringLiteral("%1 (process %2)").arg(process.name).arg(process.pid));
    }
    if (holders.isEmpty()) {
#ifdef Q_OS_WIN
        // Windows does not tell which program has a serial port open.
        return { Finding::Problem,
                 QStringLiteral("%1 is in use by another program (%2). Fix: close every program that uses serial "
                                "ports (chart plotters, terminal programs), or unplug the device and plug it in again.")
                     .arg(path, detail) };
#endif
        return { Finding::Problem,
                 QStringLiteral("%1 is in use by another program (%2), which could not be found under /proc. Fix: "
                                "close every program that uses serial ports (chart plotters, terminal programs), "
                                "or unplug the device and plug it in again.")
                     .arg(path, detail) };
    }
    return { Finding::Problem, QStringLiteral("%1 is in use by %2. Fix: close that program, then try again.")
                                   .arg(path, holders.join(QStringLiteral(", "))) };
}

void checkAccess(cSystemView &system, const SystemPort &port, QList<Finding> &findings)
{
    QString detail;
    switch (system.access(port.path, detail)) {
    case PortAccess::Ok:
        findings.append({ Finding::Ok, QStringLiteral("You can open %1 for reading and writing.").arg(port.path) });
        break;
    case PortAccess::NoPermission:
        findings.append(permissionFinding(system, port.path));
        break;
    case PortAccess::Busy:
        findings.append(busyFinding(system, port.path, detail));
        break;
    case PortAccess::Gone:
    case PortAccess::Failed:
        findings.append({ Finding::Problem,
                          QStringLiteral("%1 cannot be opened (%2). Fix: unplug the device and plug it in again.")
                              .arg(port.path, detail) });
        break;
    }
}

#ifndef Q_OS_WIN
void checkModemManager(cSystemView &system, const QList<SystemPort> &devicePorts, QList<Finding> &findings)
{
    if (!system.processRunning(QStringLiteral("ModemManager"))) {
        findings.append({ Finding::Ok, QStringLiteral("ModemManager is not running, so it cannot disturb the update.") });
        return;
    }
    for (const SystemPort &port : devicePorts) {
        if (port.simulated)
            continue;
        const QMap<QString, QString> properties = system.udevProperties(port.path);
        if (properties.value(QStringLiteral("ID_MM_DEVICE_IGNORE")) == QLatin1String("1")) {
            findings.append({ Finding::Ok, QStringLiteral("ModemManager is running and leaves %1 alone "
                                                          "(ID_MM_DEVICE_IGNORE=1).")
                                               .arg(port.path) });
            continue;
        }
        const QString known = system.udevRunning() && !properties.isEmpty()
            ? QStringLiteral("ID_MM_DEVICE_IGNORE is not set on it")
            : QStringLiteral("udev could not tell whether ModemManager leaves it alone");
        findings.append({ Finding::Problem,
                          QStringLiteral("ModemManager is running and may probe %1 with modem commands, which "
                                         "disturbs an update (%2). Fix: %3; or stop ModemManager for the update "
                                         "with \"sudo systemctl stop ModemManager\".")
                              .arg(port.path, known, udevRuleFix) });
    }
    if (devicePorts.isEmpty())
        findings.append({ Finding::Note, QStringLiteral("ModemManager is running; %1 keeps it away from the AIS device.")
                                             .arg(QLatin1String(udevRuleName)) });
}
#endif

void checkUpdateFiles(const UpdateSource &source, QList<Finding> &findings)
{
    const QString folder = QDir::toNativeSeparators(source.directory);
    const QStringList names = updateFileCandidates(source);
    if (names.isEmpty()) {
        const QString what = source.onlyName.isEmpty()
            ? QStringLiteral("There is no update file in %1").arg(folder)
            : QStringLiteral("%1 in %2 is no update file").arg(source.onlyName, folder);
        findings.append({ Finding::Problem,
                          what
                              + QStringLiteral(" (update files are named like 730400_03_00_01.hex or "
                                               "750400_03_00_01.img). Fix: name the update file you were given, "
                                               "or its folder, on the command line, or put it beside the program.") });
        return;
    }
    for (const QString &name : names) {
        findings.append({ Finding::Ok, QStringLiteral("Update file %1 in %2: version %3, for an %4.")
                                           .arg(name, folder, updateVersionOf(name),
                                                QLatin1String(updateFileDevice(name))) });
    }
}

} // namespace

int PreflightReport::problems() const
{
    return int(std::count_if(findings.cbegin(), findings.cend(),
                             [](const Finding &finding) { return finding.kind == Finding::Problem; }));
}

QStringList PreflightReport::lines() const
{
    QStringList result;
    for (const Finding &finding : findings) {
        const char *mark = finding.kind == Finding::Ok ? "[ok] " : finding.kind == Finding::Note ? "[note] " : "[problem] ";
        result.append(QLatin1String(mark) + finding.text);
    }
    const int count = problems();
    if (count == 0)
        result.append(QStringLiteral("Ready: nothing stands in the way of an update."));
    else
        result.append(QStringLiteral("Not ready: %1 stand%2 in the way of an update.")
                          .arg(count == 1 ? QStringLiteral("1 problem") : QStringLiteral("%1 problems").arg(count),
                               count == 1 ? QStringLiteral("s") : QString()));
    return result;
}

PreflightReport runPreflight(cSystemView &system, const UpdateSource &source)
{
    PreflightReport report;
    QList<Finding> &findings = report.findings;

    const QList<SystemPort> ports = system.serialPorts();
    QList<SystemPort> devicePorts;
    for (const SystemPort &port : ports) {
        const bool isDevice = port.vendorId == deviceVendorId;
        if (isDevice)
            devicePorts.append(port);
        findings.append({ isDevice ? Finding::Ok : Finding::Note,
                          portLine(port)
                              + (isDevice ? QStringLiteral(": it carries the AIS device's vendor ID %1.").arg(hex4(deviceVendorId))
                                          : QStringLiteral(": not the AIS device.")) });
    }
    if (devicePorts.isEmpty()) {
        // Where the system shows a USB device it has found, whether a driver took it or not.
#ifdef Q_OS_WIN
        const QString shownBy = QStringLiteral("Device Manager should list it under \"Ports (COM & LPT)\" with VID_%1")
                                    .arg(hex4(deviceVendorId));
#else
        const QString shownBy = QStringLiteral("\"lsusb\" should list ID %1:...").arg(hex4(deviceVendorId).toLower());
#endif
        findings.append({ Finding::Problem,
                          QStringLiteral("No serial port carries the AIS device's vendor ID %1. Fix: connect the AIS "
                                         "device with its USB cable and switch it on; if it still does not appear, "
                                         "try another USB socket or cable (%2).")
                              .arg(hex4(deviceVendorId), shownBy) });
    }
    for (const SystemPort &port : devicePorts)
        checkAccess(system, port, findings);

#ifndef Q_OS_WIN
    // ModemManager and udev are Linux's; Windows has neither.
    checkModemManager(system, devicePorts, findings);

    const QString rule = system.installedUdevRule();
    if (!rule.isEmpty())
        findings.append({ Finding::Ok, QStringLiteral("Quaymend's udev rule is installed: %1.").arg(rule) });
    else
        findings.append({ Finding::Note, QStringLiteral("Quaymend's udev rule (%1) is not installed; it gives the "
                                                        "logged-in user the device and keeps ModemManager away from "
                                                        "it. The Debian package installs it.")
                                             .arg(QLatin1String(udevRuleName)) });
#endif

    checkUpdateFiles(source, findings);
    return report;
}
