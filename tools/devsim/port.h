#pragma once

#include "eventloop.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// One serial port of the simulated device as its firmware sees it: bytes in through the receiver,
// bytes out through send(), both at the configured line rate. How the port reaches the program (a
// pseudo-terminal, a USB gadget) is the subclass's business; the device model never knows which.
class cPort : public std::enable_shared_from_this<cPort>
{
public:
    using tReceiver = std::function<void(const QByteArray &)>;

    virtual ~cPort();
    cPort(const cPort &) = delete;
    cPort &operator=(const cPort &) = delete;

    // What the log calls the port (for a pty, also what the program opens).
    QString path() const { return m_path; }
    bool isOpen() const { return m_fd >= 0; }

    // Gone from the program's side, as if the cable had been pulled; pending output is dropped.
    virtual void close();

    void setReceiver(tReceiver receiver) { m_receiver = std::move(receiver); }

    // While paused, incoming bytes stay in the kernel's buffer (the device is busy and not reading).
    void setReadPaused(bool paused);

    // Queued and delivered in order, however long the program takes to read.
    void send(const QByteArray &bytes);

    // For idle chatter such as the boot loader's 'U' stream: sent only if nothing else is pending
    // and the kernel's buffer has room, otherwise dropped, so an unread port cannot fill memory.
    void sendDroppable(char byte);

    // For the event loop.
    int fd() const { return m_fd; }
    short pollEvents(cEventLoop::tClock::time_point now, int &timeoutMs);
    void handleEvents(short revents);

protected:
    explicit cPort(qint64 bytesPerSecond);

    // Takes over fd (made non-blocking and close-on-exec) as the device's end of the port.
    void attach(int fd, const QString &path);
    void setPath(const QString &path) { m_path = path; }
    // Closes the device's end; the path stays for the log.
    void detach();

    // The device's end reported a hang-up nobody here asked for. Ptys never do (their slave is held
    // open); a gadget's tty does when its gadget is unbound from outside.
    virtual void hungUp() {}

private:
    // Link pacing: bytes may move only as fast as the configured line rate.
    struct sBucket
    {
        double tokens = 0;
        cEventLoop::tClock::time_point last;
    };

    void refill(sBucket &bucket, cEventLoop::tClock::time_point now) const;
    int msUntil(const sBucket &bucket, double wanted) const;
    void flushOutput();
    void readInput(short revents);

    int m_fd = -1;
    QString m_path;
    qint64 m_rate;
    int m_chunk;
    sBucket m_rx;
    sBucket m_tx;
    QByteArray m_out;
    bool m_readPaused = false;
    tReceiver m_receiver;
};
