#include "ptyport.h"

#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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

// Beyond this the program is not reading at all; keeping more would only hide that.
constexpr qsizetype kMaxQueuedOutput = 1 << 20;

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
    : m_rate(bytesPerSecond)
    // Pacing in slices of about 10 ms keeps the wake-up rate sane at any link speed.
    , m_chunk(static_cast<int>(std::clamp<qint64>(bytesPerSecond / 100, 1, 256)))
{
    const auto now = cEventLoop::tClock::now();
    m_rx.last = now;
    m_tx.last = now;
    m_rx.tokens = m_chunk;
    m_tx.tokens = m_chunk;
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
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        m_master = master;
        m_slave = slave;
        m_ptsPath = QString::fromLocal8Bit(name);
        pathsHandedOut().insert(m_ptsPath);
        m_path = m_ptsPath;
        if (!linkDirectory().isEmpty()) {
            static int serial = 0;
            const QString link
                = QStringLiteral("%1/ttySIM%2x%3").arg(linkDirectory()).arg(::getpid()).arg(++serial);
            const QByteArray linkName = link.toLocal8Bit();
            ::unlink(linkName.constData());
            if (::symlink(name, linkName.constData()) == 0)
                m_path = link;
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

void cPtyPort::setReadPaused(bool paused)
{
    // A line does not bank the time the device spent not reading: after a pause the link starts
    // from empty, so a flash write costs its full time as on a real device.
    if (m_readPaused && !paused) {
        m_rx.tokens = 0;
        m_rx.last = cEventLoop::tClock::now();
    }
    m_readPaused = paused;
}

void cPtyPort::close()
{
    if (m_path != m_ptsPath && !m_path.isEmpty())
        ::unlink(m_path.toLocal8Bit().constData());
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
    m_out.clear();
}

void cPtyPort::refill(sBucket &bucket, cEventLoop::tClock::time_point now) const
{
    if (m_rate <= 0)
        return;
    const double seconds = std::chrono::duration<double>(now - bucket.last).count();
    bucket.last = now;
    // A short burst allowance only: an idle link must not bank seconds of free bytes.
    const double cap = std::max<double>(m_chunk, static_cast<double>(m_rate) / 20.0);
    bucket.tokens = std::min(cap, bucket.tokens + seconds * static_cast<double>(m_rate));
}

int cPtyPort::msUntil(const sBucket &bucket, double wanted) const
{
    const double missing = wanted - bucket.tokens;
    if (missing <= 0)
        return 0;
    return static_cast<int>(std::ceil(missing * 1000.0 / static_cast<double>(m_rate)));
}

short cPtyPort::pollEvents(cEventLoop::tClock::time_point now, int &timeoutMs)
{
    timeoutMs = -1;
    short events = 0;
    refill(m_rx, now);
    refill(m_tx, now);
    if (!m_readPaused) {
        if (m_rate <= 0 || m_rx.tokens >= m_chunk)
            events |= POLLIN;
        else
            timeoutMs = msUntil(m_rx, m_chunk);
    }
    if (!m_out.isEmpty()) {
        const double wanted = std::min<double>(m_chunk, static_cast<double>(m_out.size()));
        if (m_rate <= 0 || m_tx.tokens >= wanted) {
            events |= POLLOUT;
        } else {
            const int wait = msUntil(m_tx, wanted);
            timeoutMs = timeoutMs < 0 ? wait : std::min(timeoutMs, wait);
        }
    }
    return events;
}

void cPtyPort::handleEvents(short revents)
{
    // Keeps this port alive even if a receiver drops the last outside reference to it.
    const std::shared_ptr<cPtyPort> self = shared_from_this();
    if (revents & POLLOUT)
        flushOutput();
    if ((revents & (POLLIN | POLLHUP | POLLERR)) && isOpen() && !m_readPaused)
        readInput();
}

void cPtyPort::readInput()
{
    char buffer[4096];
    size_t wanted = sizeof buffer;
    if (m_rate > 0) {
        refill(m_rx, cEventLoop::tClock::now());
        wanted = std::min(wanted, static_cast<size_t>(std::max(0.0, std::floor(m_rx.tokens))));
        if (wanted == 0)
            return;
    }
    const ssize_t got = ::read(m_master, buffer, wanted);
    if (got <= 0)
        return; // EAGAIN, or EIO while the slave side is being reopened: nothing to do
    if (m_rate > 0)
        m_rx.tokens -= static_cast<double>(got);
    if (m_receiver)
        m_receiver(QByteArray(buffer, static_cast<qsizetype>(got)));
}

void cPtyPort::send(const QByteArray &bytes)
{
    if (!isOpen())
        return;
    if (m_out.size() + bytes.size() > kMaxQueuedOutput) {
        devLog(QStringLiteral("output queue of %1 full, dropped %2 bytes").arg(m_path).arg(bytes.size()));
        return;
    }
    m_out += bytes;
    flushOutput();
}

void cPtyPort::sendDroppable(char byte)
{
    if (!isOpen() || !m_out.isEmpty())
        return;
    if (m_rate > 0) {
        refill(m_tx, cEventLoop::tClock::now());
        if (m_tx.tokens < 1)
            return;
    }
    if (::write(m_master, &byte, 1) == 1 && m_rate > 0)
        m_tx.tokens -= 1;
}

void cPtyPort::flushOutput()
{
    while (isOpen() && !m_out.isEmpty()) {
        size_t wanted = static_cast<size_t>(m_out.size());
        if (m_rate > 0) {
            refill(m_tx, cEventLoop::tClock::now());
            wanted = std::min(wanted, static_cast<size_t>(std::max(0.0, std::floor(m_tx.tokens))));
            if (wanted == 0)
                return;
        }
        const ssize_t written = ::write(m_master, m_out.constData(), wanted);
        if (written <= 0)
            return; // buffer full: POLLOUT will bring us back
        if (m_rate > 0)
            m_tx.tokens -= static_cast<double>(written);
        m_out.remove(0, written);
    }
}
