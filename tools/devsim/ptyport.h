#pragma once

#include "eventloop.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// One pseudo-terminal standing in for one USB serial port. The program opens the slave by its path;
// the simulator talks through the master.
class cPtyPort : public std::enable_shared_from_this<cPtyPort>
{
public:
    using tReceiver = std::function<void(const QByteArray &)>;

    // Opens a pty whose path this simulator has never handed out before, so that a port which
    // re-appears can never be mistaken for the one that went away. Null on failure (logged).
    static std::shared_ptr<cPtyPort> create(cEventLoop &loop, qint64 bytesPerSecond);
    ~cPtyPort();

    // Ports are handed out as symbolic links in this directory, named after this process, rather
    // than as /dev/pts paths: the kernel reuses pty numbers, and a program still holding the path
    // of a port that went away must never reach another simulator's device through it.
    static void setLinkDirectory(const QString &directory);

    QString path() const { return m_path; }
    bool isOpen() const { return m_master >= 0; }

    // Closing the master hangs up whoever has the slave open, the way pulling the USB cable would.
    void close();

    void setReceiver(tReceiver receiver) { m_receiver = std::move(receiver); }

    // While paused, incoming bytes stay in the pty buffer (the device is busy and not reading).
    void setReadPaused(bool paused);

    // Queued and delivered in order, however long the program takes to read.
    void send(const QByteArray &bytes);

    // For idle chatter such as the boot loader's 'U' stream: sent only if nothing else is pending
    // and the pty buffer has room, otherwise dropped, so an unread port cannot fill memory.
    void sendDroppable(char byte);

    // For the event loop.
    int masterFd() const { return m_master; }
    short pollEvents(cEventLoop::tClock::time_point now, int &timeoutMs);
    void handleEvents(short revents);

private:
    // Link pacing: bytes may move only as fast as the configured line rate.
    struct sBucket
    {
        double tokens = 0;
        cEventLoop::tClock::time_point last;
    };

    explicit cPtyPort(qint64 bytesPerSecond);
    bool openUnusedPty();
    void refill(sBucket &bucket, cEventLoop::tClock::time_point now) const;
    int msUntil(const sBucket &bucket, double wanted) const;
    void flushOutput();
    void readInput();

    int m_master = -1;
    int m_slave = -1; // held open so that the master never sees EIO while the program has it closed
    QString m_path; // the link the program opens
    QString m_ptsPath;
    qint64 m_rate;
    int m_chunk;
    sBucket m_rx;
    sBucket m_tx;
    QByteArray m_out;
    bool m_readPaused = false;
    tReceiver m_receiver;
};
