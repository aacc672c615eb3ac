#include "support/updatelog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString logTimestamp(const QDateTime &when, const QLocale &locale)
{
    return locale.toString(when, QStringLiteral("dd MMM yyyy - hh:mm:ss.zzz : "));
}

QString updateLogPath()
{
    // QDir::tempPath() gives an empty string for a TMPDIR that does not exist; the bare file name
    // appended to it would put the log at the top of the file system.
    const QString directory = QDir::tempPath();
    if (directory.isEmpty() || !QFileInfo(directory).isDir())
        return QString();
    return directory + QDir::separator() + QStringLiteral("quaymendlog.txt");
}

QByteArray logTaggedText(const QByteArray &tag, const QByteArray &text)
{
    return tag + ": " + text;
}

QByteArray byteText(quint8 byte)
{
    if (byte >= 0x20 && byte <= 0x7e)
        return QByteArray(1, char(byte));
    return "0x" + QByteArray::number(byte, 16);
}

QByteArray logByteText(const QByteArray &tag, quint8 byte)
{
    return logTaggedText(tag, byteText(byte));
}

#ifdef Q_OS_WIN

bool appendLineToFile(const QString &path, const QByteArray &line)
{
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    const QByteArray whole = line + '\n';
    const bool written = file.write(whole) == whole.size() && file.flush();
    file.close();
    return written;
}

#else

bool appendLineToFile(const QString &path, const QByteArray &line)
{
    // No temporary folder, no log file: a relative name would land wherever the program runs.
    if (path.isEmpty())
        return false;
    // O_NOFOLLOW refuses a symlink in place of the log; O_NONBLOCK keeps a planted FIFO without
    // a reader from blocking the GUI thread (it makes no difference to a regular file).
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;

    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || info.st_nlink != 1) {
        ::close(fd);
        return false;
    }

    const QByteArray whole = line + '\n';
    const char *data = whole.constData();
    qsizetype left = whole.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        data += n;
        left -= n;
    }
    ::close(fd);
    return left == 0;
}

#endif
