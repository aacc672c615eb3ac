#include "device/portlock.h"

#include "support/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

// A lock file holds a process ID, as ten right-aligned digits and a newline (HDB UUCP) or as the
// first line of Qt's own format; nothing longer is read.
constexpr qint64 lockFileLimit = 256;

const QLatin1String devPrefix("/dev/");

QStringList systemLockDirectories()
{
    QStringList directories;
    for (const char *path : { "/var/lock", "/run/lock", "/var/spool/lock", "/var/spool/uucp" }) {
        const QString canonical = QFileInfo(QLatin1String(path)).canonicalFilePath();
        if (!canonical.isEmpty() && !directories.contains(canonical))
            directories.append(canonical);
    }
    return directories;
}

bool processAlive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

QStringList portLockNames(const QString &portName)
{
    const QString path = portName.startsWith(QLatin1Char('/')) ? portName : devPrefix + portName;
    QStringList names { QStringLiteral("LCK..") + QFileInfo(path).fileName() };
    QString below = path.startsWith(devPrefix) ? path.mid(devPrefix.size()) : path;
    below.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString qtName = QStringLiteral("LCK..") + below;
    if (!names.contains(qtName))
        names.append(qtName);
    return names;
}

bool portHeldElsewhere(const QString &portName, const QStringList &lockDirectories)
{
    const QStringList directories = lockDirectories.isEmpty() ? systemLockDirectories() : lockDirectories;
    const qint64 own = ::getpid();
    for (const QString &directory : directories) {
        for (const QString &name : portLockNames(portName)) {
            // Anyone may write to a lock directory: a FIFO planted there must not hold the scan.
            QFile file;
            if (!openRegularFile(file, directory + QLatin1Char('/') + name))
                continue;
            const QByteArray first = file.read(lockFileLimit).split('\n').constFirst().trimmed();
            bool ok = false;
            const qint64 pid = first.toLongLong(&ok);
            // A file whose writer has gone is stale: the next program to open the port replaces it.
            if (ok && pid > 0 && pid != own && processAlive(pid))
                return true;
        }
    }
    return false;
}
