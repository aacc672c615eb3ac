#include "device/serialport.h"

#include "device/portlock.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <cstring>

#ifdef Q_OS_UNIX
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// A port just plugged in has the kernel's cooked settings with echo on, and Qt puts back the
// settings it found when it closes a port. Until a port is raw, the kernel echoes whatever the
// device sends straight back to it: a boot loader that takes the first "U" it receives as ours
// would be answered by its own echo. So the line is made raw on a descriptor of our own before Qt
// opens it; Qt then finds it raw, and leaves it raw on close (the kernel keeps a port's settings
// from one open to the next while the device stays; a device that comes back starts cooked
// again). Returns that descriptor, to be closed once Qt has the port, or -1.
//
// What no program can prevent: a USB device is not read until its port is opened, and the bytes
// it had queued arrive during that first open, before any settings can be made, and are echoed.
// With pending, they are taken off the line here so that at least they are not lost as well:
// through this descriptor, as Qt's open drops pending input in some versions and not in others.
int claimLine(const QString &name, QByteArray *pending)
{
    // As QSerialPort names it: a bare name lives in /dev.
    const QString path = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Exclusive before anything is set or read: no other program opens the port from here on
    // (privileged ones aside). Not a terminal (a FIFO, a file under a port's name): refused, and
    // nothing of it is read.
    termios settings {};
    if (::ioctl(fd, TIOCEXCL) != 0 || ::tcgetattr(fd, &settings) != 0) {
        ::close(fd);
        return -1;
    }
    if (settings.c_lflag & (ECHO | ICANON | ISIG | IEXTEN)) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    while (pending && pending->size() < 16 * 1024) {
        char chunk[512];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0)
            pending->append(chunk, n);
        else if (!(n < 0 && errno == EINTR))
            break;
    }
    // Qt opens the port anew, which exclusive mode refuses to all but a privileged process; Qt
    // takes it again as soon as it has the port.
    ::ioctl(fd, TIOCNXCL);
    return fd;
}
#endif

} // namespace

void cSerialPort::applySettings()
{
    m_port->setBaudRate(m_baudRate);
    m_port->setParity(m_parity);
    m_port->setDataBits(m_dataBits);
    m_port->setStopBits(m_stopBits);
    m_port->setFlowControl(m_flowControl);
}

bool cSerialPort::openPort(QIODevice::OpenMode mode, bool keepInput)
{
    if (isOpen())
        return true;
    // QSerialPort refuses unbuffered mode; its buffer is invisible to callers here because every
    // write is drained before it returns.
    mode &= ~QIODevice::Unbuffered;
    // Qt takes over some live programs' lock files, and some programs take no lock at all: nothing
    // is set on or read from a port while another program shows on it.
    if (portHeldElsewhere(m_name) || !processesHoldingPort(m_name).isEmpty())
        return false;
    removeStaleLockFiles(m_name);
    m_vanished = false;
    QByteArray pending;
    const int claimed = claimLine(m_name, keepInput ? &pending : nullptr);
    if (claimed < 0)
        return false;
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(m_name);
    port->setBaudRate(m_baudRate);
    port->setParity(m_parity);
    port->setDataBits(m_dataBits);
    port->setStopBits(m_stopBits);
    port->setFlowControl(m_flowControl);
    const bool opened = port->open(mode);
    ::close(claimed);
    if (!opened)
        return false;
#ifdef Q_OS_UNIX
    // Nobody else opens the port while it is ours (privileged processes aside); Qt does this too
    // today, but the port must not depend on it.
    if (::ioctl(int(port->handle()), TIOCEXCL) != 0) {
        port->close();
        return false;
    }
#endif
    // Every open starts with nothing to read, unless asked to keep it. What the other side sent
    // before it belongs to no exchange of ours; some versions of Qt drop it on open and others
    // keep it, and nothing here may depend on which.
    if (keepInput)
        m_carried = std::move(pending);
    else
        port->clear(QSerialPort::Input);
    m_port = std::move(port);
    return true;
}

bool cSerialPort::isOpen() const
{
    return m_port && m_port->isOpen();
}

void cSerialPort::close()
{
    if (!m_port)
        return;
    m_port->close();
    m_port.reset();
    m_carried.clear();
}

qint64 cSerialPort::write(const char *data, qint64 size)
{
    if (!isOpen())
        return -1;
#ifdef Q_OS_UNIX
    // Straight to the driver. The XMODEM sender makes one write per small chunk, and QSerialPort's
    // own buffer and its event processing cost several times the system call itself. Nothing ever
    // goes through QSerialPort's write buffer, so the order of the bytes is kept.
    return writeToDriver(data, size);
#else
    const qint64 taken = m_port->write(data, size);
    if (taken < 0)
        return -1;
    // A write completes before it returns. A peer that stops reading must not hold us for ever:
    // after the time-out whatever is still pending is dropped, as a timed-out write would be.
    QElapsedTimer clock;
    clock.start();
    while (m_port->bytesToWrite() > 0 && clock.elapsed() < m_timeoutMs) {
        if (!m_port->waitForBytesWritten(int(qMax<qint64>(1, m_timeoutMs - clock.elapsed())))
            && m_port->error() != QSerialPort::NoError && m_port->error() != QSerialPort::TimeoutError)
            break;
    }
    const qint64 pending = m_port->bytesToWrite();
    if (pending > 0)
        m_port->clear(QSerialPort::Output);
    return taken - pending;
#endif
}

#ifdef Q_OS_UNIX
qint64 cSerialPort::writeToDriver(const char *data, qint64 size)
{
    // QSerialPort opens the descriptor non-blocking. When the driver's buffer is full, poll() waits
    // for room, up to the time-out in all. A peer that stops reading must not hold us for ever;
    // what the driver has not taken by then is simply not written. Nothing is flushed: the bytes
    // the driver holds from earlier writes are on their way and stay so.
    const int fd = int(m_port->handle());
    qint64 done = 0;
    QElapsedTimer clock; // started only once the driver is full
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            m_vanished = true;
            return done > 0 ? done : -1;
        }
        if (!clock.isValid())
            clock.start();
        const qint64 left = m_timeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        pollfd room { fd, POLLOUT, 0 };
        if (::poll(&room, 1, int(left)) < 0 && errno != EINTR)
            break;
        if (room.revents & (POLLNVAL | POLLHUP | POLLERR)) {
            m_vanished = true;
            break;
        }
    }
    return done;
}
#endif

// A device that left the bus hangs its port up; a pseudo-terminal whose other side closed does
// the same. Either way nothing more will come, and a wait on it must end now.
bool cSerialPort::checkVanished()
{
    if (m_vanished || !m_port)
        return m_vanished;
    if (m_port->error() == QSerialPort::ResourceError)
        m_vanished = true;
#ifdef Q_OS_UNIX
    pollfd state { int(m_port->handle()), POLLIN, 0 };
    if (::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)))
        m_vanished = true;
#endif
    return m_vanished;
}

bool cSerialPort::waitForInput(int ms)
{
    if (!m_carried.isEmpty() || m_port->bytesAvailable() > 0)
        return true;
    if (checkVanished())
        return false;
    if (m_queryMode != Polling || ms <= 0)
        return m_port->waitForReadyRead(0);
    QElapsedTimer clock;
    clock.start();
    while (m_port->bytesAvailable() == 0) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0)
            return false;
        if (!m_port->waitForReadyRead(int(left))) {
            if (checkVanished())
                return false;
            // Any other error reports itself at once; don't spin on it.
            if (m_port->error() != QSerialPort::NoError && m_port->error() != QSerialPort::TimeoutError)
                return false;
        }
    }
    return true;
}

qint64 cSerialPort::readDriver(char *data, qint64 maxSize)
{
    return m_port->read(data, maxSize);
}


qint64 cSerialPort::bytesAvailable()
{
    if (!isOpen())
        return 0;
    if (m_port->bytesAvailable() == 0 && !m_port->waitForReadyRead(0))
        checkVanished();
    return m_carried.size() + m_port->bytesAvailable();
}

qint64 cSerialPort::bytesToWrite() const
{
    return isOpen() ? m_port->bytesToWrite() : 0;
}

bool cSerialPort::waitForBytesWritten(int ms)
{
    if (!isOpen() || m_port->bytesToWrite() == 0)
        return false;
    return m_port->waitForBytesWritten(ms);
}

bool cSerialPort::flush()
{
    return isOpen() && m_port->flush();
}

void cSerialPort::discardInput()
{
    if (!isOpen())
        return;
    // Take in what the driver already holds, then drop it together with our own buffer.
    // Bounded: a device that streams without pause must not keep us here.
    for (int i = 0; i < 16 && m_port->waitForReadyRead(0); ++i) {
    }
    m_port->clear(QSerialPort::Input);
    m_port->readAll();
    m_carried.clear();
}
