#include "port.h"

#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// Beyond this the program is not reading at all; keeping more would only hide that.
constexpr qsizetype kMaxQueuedOutput = 1 << 20;

} // namespace

cPort::cPort(qint64 bytesPerSecond)
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

cPort::~cPort()
{
    detach();
}

void cPort::attach(int fd, const QString &path)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    m_fd = fd;
    m_path = path;
    m_readPaused = false;
}

void cPort::detach()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_out.clear();
}

void cPort::close()
{
    detach();
}

void cPort::setReadPaused(bool paused)
{
    // A line does not bank the time the device spent not reading: after a pause the link starts
    // from empty, so a flash write costs its full time as on a real device.
    if (m_readPaused && !paused) {
        m_rx.tokens = 0;
        m_rx.last = cEventLoop::tClock::now();
    }
    m_readPaused = paused;
}

void cPort::refill(sBucket &bucket, cEventLoop::tClock::time_point now) const
{
    if (m_rate <= 0)
        return;
    const double seconds = std::chrono::duration<double>(now - bucket.last).count();
    bucket.last = now;
    // A short burst allowance only: an idle link must not bank seconds of free bytes.
    const double cap = std::max<double>(m_chunk, static_cast<double>(m_rate) / 20.0);
    bucket.tokens = std::min(cap, bucket.tokens + seconds * static_cast<double>(m_rate));
}

int cPort::msUntil(const sBucket &bucket, double wanted) const
{
    const double missing = wanted - bucket.tokens;
    if (missing <= 0)
        return 0;
    return static_cast<int>(std::ceil(missing * 1000.0 / static_cast<double>(m_rate)));
}

short cPort::pollEvents(cEventLoop::tClock::time_point now, int &timeoutMs)
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

void cPort::handleEvents(short revents)
{
    // Keeps this port alive even if a receiver drops the last outside reference to it.
    const std::shared_ptr<cPort> self = shared_from_this();
    if (revents & POLLOUT)
        flushOutput();
    if ((revents & (POLLIN | POLLHUP | POLLERR)) && isOpen() && !m_readPaused)
        readInput(revents);
}

void cPort::readInput(short revents)
{
    char buffer[4096];
    size_t wanted = sizeof buffer;
    if (m_rate > 0) {
        refill(m_rx, cEventLoop::tClock::now());
        wanted = std::min(wanted, static_cast<size_t>(std::max(0.0, std::floor(m_rx.tokens))));
        if (wanted == 0)
            return;
    }
    const ssize_t got = ::read(m_fd, buffer, wanted);
    if (got <= 0) {
        // EAGAIN, or EIO while a pty's slave side is being reopened: nothing to do. Only a hang-up
        // with nothing left to read is the end of the port.
        if ((revents & POLLHUP) && (got == 0 || errno != EAGAIN))
            hungUp();
        return;
    }
    if (m_rate > 0)
        m_rx.tokens -= static_cast<double>(got);
    if (m_receiver)
        m_receiver(QByteArray(buffer, static_cast<qsizetype>(got)));
}

void cPort::send(const QByteArray &bytes)
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

void cPort::sendDroppable(char byte)
{
    if (!isOpen() || !m_out.isEmpty())
        return;
    if (m_rate > 0) {
        refill(m_tx, cEventLoop::tClock::now());
        if (m_tx.tokens < 1)
            return;
    }
    if (::write(m_fd, &byte, 1) == 1 && m_rate > 0)
        m_tx.tokens -= 1;
}

void cPort::flushOutput()
{
    while (isOpen() && !m_out.isEmpty()) {
        size_t wanted = static_cast<size_t>(m_out.size());
        if (m_rate > 0) {
            refill(m_tx, cEventLoop::tClock::now());
            wanted = std::min(wanted, static_cast<size_t>(std::max(0.0, std::floor(m_tx.tokens))));
            if (wanted == 0)
                return;
        }
        const ssize_t written = ::write(m_fd, m_out.constData(), wanted);
        if (written <= 0)
            return; // buffer full: POLLOUT will bring us back
        if (m_rate > 0)
            m_tx.tokens -= static_cast<double>(written);
        m_out.remove(0, written);
    }
}
