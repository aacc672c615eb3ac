#include "device/portlock.h"

#include "support/regularfile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// A lock file holds a process ID, as ten right-aligned digits and a newline (HDB UUCP), as the
// first word of its one line (minicom: number, program, user) or as the first line of Qt's own
// format; nothing longer is read.
constexpr qint64 lockFileLimit = 256;

// QLockFile's default stale time, after which Qt takes over a lock file it cannot read.
constexpr std::chrono::seconds unreadableLockLifetime { 30 };

const QLatin1String lockDevPrefix("/dev/");

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

QString devicePath(const QString &portName)
{
    return portName.startsWith(QLatin1Char('/')) ? portName : lockDevPrefix + portName;
}

// The process number a lock file holds, or 0 where it holds none that can be a process. The old
// UUCP format stores it as a binary int of exactly four bytes, whose high byte a process number
// never reaches: text holds no NUL. A number beyond a pid_t's range would wrap onto another
// process's; zero and negative numbers name process groups to kill(), not a process.
qint64 lockFilePid(const QByteArray &content)
{
    qint64 pid = 0;
    if (content.size() == int(sizeof(qint32)) && content.contains('\0')) {
        qint32 binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        pid = binary;
    } else {
        // The first word of the first line: minicom's goes on with the program and its user.
        pid = content.split('\n').constFirst().simplified().split(' ').constFirst().toLongLong();
    }
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return 0;
    return pid;
}

bool processAlive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}

enum class LockState { Absent, Live, Stale, Young };

struct Lock
{
    LockState state = LockState::Absent;
    qint64 pid = 0;
    struct stat file {};
};

Lock readLock(const QString &path)
{
    Lock lock;
    QFile file;
    if (!openRegularFile(file, path) || ::fstat(file.handle(), &lock.file) != 0)
        return lock;
    lock.pid = lockFilePid(file.read(lockFileLimit));
    if (lock.pid == ::getpid())
        return lock;
    if (lock.pid > 0) {
        lock.state = processAlive(lock.pid) ? LockState::Live : LockState::Stale;
        return lock;
    }
    // As Qt reckons it: a time in the future is as old as one in the past.
    const std::time_t age = std::time(nullptr) - lock.file.st_mtime;
    lock.state = std::abs(age) > unreadableLockLifetime.count() ? LockState::Stale : LockState::Young;
    return lock;
}

template<typename Fn>
void forEachLock(const QString &portName, const QStringList &lockDirectories, Fn fn)
{
    const QStringList directories = lockDirectories.isEmpty() ? systemLockDirectories() : lockDirectories;
    for (const QString &directory : directories) {
        for (const QString &name : portLockNames(portName)) {
            if (!fn(directory + QLatin1Char('/') + name))
                return;
        }
    }
}

// The index of the pseudo-terminal whose master a descriptor of process pid is, or -1.
int ptyMasterIndex(const char *pid, const char *fd)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%s/fdinfo/%s", pid, fd);
    QFile info(QString::fromLatin1(path));
    if (!info.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : info.readAll().split('\n')) {
        if (line.startsWith("tty-index:"))
            return line.mid(10).trimmed().toInt();
    }
    return -1;
}

} // namespace

QStringList portLockNames(const QString &portName)
{
    QStringList names;
    // A link to the device (udev's by-id names, a simulator's) and the device itself: another
    // program may have opened it by either.
    const QString path = devicePath(portName);
    for (const QString &name : { path, QFileInfo(path).canonicalFilePath() }) {
        QString below = name.startsWith(lockDevPrefix) ? name.mid(lockDevPrefix.size()) : name;
        below.replace(QLatin1Char('/'), QLatin1Char('_'));
        for (const QString &lockName : { QFileInfo(name).fileName(), below }) {
            if (!name.isEmpty() && !names.contains(QStringLiteral("LCK..") + lockName))
                names.append(QStringLiteral("LCK..") + lockName);
        }
    }
    return names;
}

std::optional<ProcessInfo> portLockHolder(const QString &portName, const QStringList &lockDirectories)
{
    std::optional<ProcessInfo> holder;
    forEachLock(portName, lockDirectories, [&](const QString &path) {
        const Lock lock = readLock(path);
        if (lock.state == LockState::Live)
            holder = ProcessInfo { lock.pid, processName(lock.pid) };
        else if (lock.state == LockState::Young)
            holder = ProcessInfo {};
        return !holder;
    });
    return holder;
}

bool portHeldElsewhere(const QString &portName, const QStringList &lockDirectories)
{
    return portLockHolder(portName, lockDirectories).has_value();
}

void removeStaleLockFiles(const QString &portName, const QStringList &lockDirectories)
{
    forEachLock(portName, lockDirectories, [](const QString &path) {
        const Lock lock = readLock(path);
        // Only the file just read: another program may have put its own lock in its place since.
        // The sticky lock directory lets only its owner or root remove it, which is as it should be.
        struct stat now {};
        const QByteArray native = QFile::encodeName(path);
        if (lock.state == LockState::Stale && ::stat(native.constData(), &now) == 0
            && now.st_ino == lock.file.st_ino && now.st_dev == lock.file.st_dev && now.st_mtime == lock.file.st_mtime)
            ::unlink(native.constData());
        return true;
    });
}

QList<ProcessInfo> processesHoldingPort(const QString &portName)
{
    QList<ProcessInfo> holders;
    struct stat node {};
    if (::stat(QFile::encodeName(devicePath(portName)).constData(), &node) != 0 || !S_ISCHR(node.st_mode))
        return holders;
    // Unix 98 pseudo-terminal slaves: majors 136 to 143, 256 minors each.
    const unsigned slaveMajor = major(node.st_rdev);
    const int ptyIndex
        = slaveMajor >= 136 && slaveMajor <= 143 ? int((slaveMajor - 136) * 256 + minor(node.st_rdev)) : -1;
    const dev_t ptmx = makedev(5, 2);
    const QByteArray self = QByteArray::number(qint64(::getpid()));
    // Called at every open while a scan waits for the device: plain directory reads and one
    // stat per descriptor, and other users' processes, which /proc hides, are passed over.
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return holders;
    while (const dirent *process = ::readdir(proc)) {
        const char *pid = process->d_name;
        if (pid[0] < '1' || pid[0] > '9' || self == pid)
            continue;
        char path[sizeof "/proc//fd" + sizeof process->d_name];
        std::snprintf(path, sizeof path, "/proc/%s/fd", pid);
        DIR *fds = ::opendir(path);
        if (!fds)
            continue;
        bool holds = false;
        QByteArrayList masters;
        while (const dirent *fd = ::readdir(fds)) {
            struct stat target {};
            if (fd->d_name[0] == '.' || ::fstatat(::dirfd(fds), fd->d_name, &target, 0) != 0
                || !S_ISCHR(target.st_mode))
                continue;
            if (target.st_rdev == node.st_rdev)
                holds = true;
            else if (ptyIndex >= 0 && target.st_rdev == ptmx)
                masters.append(fd->d_name);
        }
        ::closedir(fds);
        if (!holds || std::any_of(masters.cbegin(), masters.cend(), [&](const QByteArray &fd) {
                return ptyMasterIndex(pid, fd.constData()) == ptyIndex;
            }))
            continue;
        const qint64 id = QByteArray(pid).toLongLong();
        holders.append({ id, processName(id) });
    }
    ::closedir(proc);
    return holders;
}
