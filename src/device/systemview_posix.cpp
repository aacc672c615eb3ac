// The pre-flight check's view of a Linux system: serial ports from Qt and the device simulator,
// device nodes, groups, /proc and the udev database. Nothing here writes to a device.
#include "device/portenum.h"
#include "device/preflight.h"
#include "support/regularfile.h"

#include <QDir>
#include <QFile>
#include <QSerialPortInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <vector>

namespace {

QString groupName(gid_t gid)
{
    const group *entry = ::getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The name of a process as /proc gives it; empty when it is gone.
QString processName(const QString &pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

QStringList processIds()
{
    QStringList pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (numeric)
            pids.append(entry);
    }
    return pids;
}

class cPosixSystemView : public cSystemView
{
public:
    QList<SystemPort> serialPorts() override
    {
        QList<SystemPort> ports;
        QStringList names;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
            SystemPort port;
            port.name = info.portName();
            port.path = info.systemLocation();
            port.vendorId = info.hasVendorIdentifier() ? int(info.vendorIdentifier()) : -1;
            port.productId = info.hasProductIdentifier() ? int(info.productIdentifier()) : -1;
            port.serialNumber = info.serialNumber();
            port.description = info.description();
            ports.append(port);
            names.append(port.name);
        }
        // The simulator's ports follow the system's, as in the wizard's own scans.
        for (const cPortInfo &info : enumeratePorts()) {
            if (names.contains(info.portName))
                continue;
            SystemPort port;
            port.name = port.path = info.portName;
            port.vendorId = info.vendorID;
            port.simulated = true;
            ports.append(port);
        }
        return ports;
    }

    PortAccess access(const QString &path, QString &detail) override
    {
        const QByteArray native = QFile::encodeName(path);
        // Only a serial device is opened: a simulator's ports file may name anything.
        struct stat node;
        if (::stat(native.constData(), &node) == 0 && !S_ISCHR(node.st_mode)) {
            detail = QStringLiteral("not a serial device");
            return PortAccess::Failed;
        }
        if (::faccessat(AT_FDCWD, native.constData(), R_OK | W_OK, AT_EACCESS) != 0) {
            const int error = errno;
            detail = errnoText(error);
            return error == EACCES || error == EPERM ? PortAccess::NoPermission
                : error == ENOENT                    ? PortAccess::Gone
                                                     : PortAccess::Failed;
        }
        // What another program holds is not opened here at all, as the port itself does not.
        const std::optional<ProcessInfo> lock = lockHolder(path);
        if (lock || !processesUsing(path).isEmpty()) {
            detail = lock && lock->pid == 0 ? QStringLiteral("its lock file names no process yet")
                                            : QStringLiteral("held open");
            return PortAccess::Busy;
        }
        // Opening shows what permissions cannot: a port another program holds exclusively. Without
        // blocking, and without making it this process's controlling terminal.
        const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            detail = errnoText(error);
            return error == EBUSY ? PortAccess::Busy
                : error == EACCES || error == EPERM ? PortAccess::NoPermission
                : error == ENOENT || error == ENXIO || error == ENODEV ? PortAccess::Gone
                                                                      : PortAccess::Failed;
        }
        ::close(fd);
        return PortAccess::Ok;
    }

    NodeOwner owner(const QString &path) override
    {
        NodeOwner result;
        struct stat info;
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return result;
        result.known = true;
        const passwd *user = ::getpwuid(info.st_uid);
        result.user = user ? QString::fromLocal8Bit(user->pw_name) : QString::number(info.st_uid);
        result.group = groupName(info.st_gid);
        result.mode = info.st_mode & 07777;
        return result;
    }

    QString userName() override
    {
        const passwd *user = ::getpwuid(::geteuid());
        return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
    }

    QStringList processGroups() override
    {
        QStringList names { groupName(::getegid()) };
        const int count = ::getgroups(0, nullptr);
        if (count > 0) {
            std::vector<gid_t> groups(size_t(count), 0);
            const int got = ::getgroups(count, groups.data());
            for (int i = 0; i < got; ++i)
                names.append(groupName(groups[size_t(i)]));
        }
        return names;
    }

    QStringList memberGroups() override
    {
        const passwd *user = ::getpwuid(::geteuid());
        if (!user)
            return {};
        const QByteArray name = user->pw_name;
        const gid_t primary = user->pw_gid;
        int count = 64;
        std::vector<gid_t> groups(size_t(count), 0);
        if (::getgrouplist(name.constData(), primary, groups.data(), &count) < 0) {
            groups.resize(size_t(count), 0);
            if (::getgrouplist(name.constData(), primary, groups.data(), &count) < 0)
                return {};
        }
        QStringList names;
        for (int i = 0; i < count; ++i)
            names.append(groupName(groups[size_t(i)]));
        return names;
    }

    QList<ProcessInfo> processesUsing(const QString &path) override { return processesHoldingPort(path); }

    bool processRunning(const QString &name) override
    {
        for (const QString &pid : processIds()) {
            if (processName(pid) == name)
                return true;
        }
        return false;
    }

    bool udevRunning() override { return QFile::exists(QStringLiteral("/run/udev/control")); }

    QMap<QString, QString> udevProperties(const QString &path) override
    {
        QMap<QString, QString> properties;
        struct stat node;
        if (::stat(QFile::encodeName(path).constData(), &node) != 0 || !S_ISCHR(node.st_mode))
            return properties;
        // udev keeps each device's properties as "E:KEY=value" lines in its database.
        QFile data;
        if (!openRegularFile(data, QStringLiteral("/run/udev/data/c%1:%2").arg(major(node.st_rdev)).arg(minor(node.st_rdev))))
            return properties;
        while (!data.atEnd()) {
            const QString line = QString::fromLocal8Bit(data.readLine()).trimmed();
            if (!line.startsWith(QLatin1String("E:")))
                continue;
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals > 2)
                properties.insert(line.mid(2, equals - 2), line.mid(equals + 1));
        }
        return properties;
    }

    QString installedUdevRule() override
    {
        for (const char *folder : { "/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
                                    "/usr/lib/udev/rules.d", "/lib/udev/rules.d" }) {
            const QString rule = QLatin1String(folder) + QLatin1Char('/') + QLatin1String(udevRuleName);
            if (QFile::exists(rule))
                return rule;
        }
        return QString();
    }
};

} // namespace

std::unique_ptr<cSystemView> makeSystemView()
{
    return std::make_unique<cPosixSystemView>();
}
