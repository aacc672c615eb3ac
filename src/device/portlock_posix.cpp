#include "device/portlock.h"

#include "support/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <limits>
#include <csignal>
#include <sys/types.h>
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

// The process number a lock file holds, or 0 where it holds none that can be a process. Beyond the
// text formats, the old UUCP one stores it as a binary int of exactly four bytes. A number beyond
// a pid_t's range would wrap onto another process's; zero and negative numbers name process
// groups to kill(), not a process.
qint64 lockFilePid(const QByteArray &content)
{
    qint64 pid = 0;
    const QByteArray first = content.split('\n').constFirst().trimmed();
    bool ok = false;
    pid = first.toLongLong(&ok);
    if (!ok && content.size() == int(sizeof(qint32))) {
        qint32 binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        pid = binary;
        ok = true;
    }
    if (!ok || pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return 0;
    return pid;
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
            const qint64 pid = lockFilePid(file.read(lockFileLimit));
            // A file whose writer has gone is stale: the next program to open the port replaces it.
            if (pid > 0 && pid != own && processAlive(pid))
                return true;
        }
    }
    return false;
}

void removeUnreadableLockFiles(const QString &portName, const QStringList &lockDirectories)
{
    const QStringList directories = lockDirectories.isEmpty() ? systemLockDirectories() : lockDirectories;
    for (const QString &directory : directories) {
        for (const QString &name : portLockNames(portName)) {
            const QString path = directory + QLatin1Char('/') + name;
            QFile file;
            if (!openRegularFile(file, path))
                continue;
            const bool unreadable = lockFilePid(file.read(lockFileLimit)) == 0;
            file.close();
            // Anyone's lock file is a program's own only while its number is one; the sticky lock
            // directory lets only its owner or root remove it, which is as it should be.
            if (unreadable)
                QFile::remove(path);
        }
    }
}
