#include "ptyport.h"

#include "log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <set>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

std::set<QString> &pathsHandedOut()
{
    static std::set<QString> paths;
    return paths;
}

QString &linkDirectory()
{
    static QString directory;
    return directory;
}

} // namespace

void cPtyPort::setLinkDirectory(const QString &directory)
{
    linkDirectory() = directory;
}

std::shared_ptr<cPtyPort> cPtyPort::create(cEventLoop &loop, qint64 bytesPerSecond)
{
    std::shared_ptr<cPtyPort> port(new cPtyPort(bytesPerSecond));
    if (!port->openUnusedPty())
        return nullptr;
    loop.watch(port);
    return port;
}

cPtyPort::cPtyPort(qint64 bytesPerSecond)
    : cPort(bytesPerSecond)
{
}

cPtyPort::~cPtyPort()
{
    close();
}

bool cPtyPort::openUnusedPty()
{
    // The kernel hands out the lowest free pty number, which is usually the one just closed. Numbers
    // already used are kept busy with placeholders until a fresh one comes up.
    std::vector<int> placeholders;
    bool opened = false;
    for (int attempt = 0; attempt < 64 && !opened; ++attempt) {
        int master = -1;
        int slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            devLog(QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            break;
        }
        char name[128] = {};
        if (::ptsname_r(master, name, sizeof name) != 0
            || pathsHandedOut().count(QString::fromLocal8Bit(name))) {
            placeholders.push_back(master);
            placeholders.push_back(slave);
            continue;
        }
        // Raw at once: with the default line discipline the slave would echo the device's own bytes
        // back into the master and translate CR/LF.
        termios attributes {};
        ::tcgetattr(slave, &attributes);
        ::cfmakeraw(&attributes);
        ::tcsetattr(slave, TCSANOW, &attributes);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        m_slave = slave;
        m_ptsPath = QString::fromLocal8Bit(name);
        pathsHandedOut().insert(m_ptsPath);
        attach(master, m_ptsPath);
        if (!linkDirectory().isEmpty()) {
            static int serial = 0;
            const QString link
                = QStringLiteral("%1/ttySIM%2x%3").arg(linkDirectory()).arg(::getpid()).arg(++serial);
            const QByteArray linkName = link.toLocal8Bit();
            ::unlink(linkName.constData());
            if (::symlink(name, linkName.constData()) == 0)
                setPath(link);
            else
                devLog(QStringLiteral("warning: could not link %1 to %2: %3")
                           .arg(link, m_ptsPath, QString::fromLocal8Bit(std::strerror(errno))));
        }
        opened = true;
    }
    for (const int fd : placeholders)
        ::close(fd);
    if (!opened)
        devLog(QStringLiteral("could not open a new pty"));
    return opened;
}

void cPtyPort::close()
{
    if (path() != m_ptsPath && !path().isEmpty())
        ::unlink(path().toLocal8Bit().constData());
    detach();
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}
