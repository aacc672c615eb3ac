#pragma once

#include "port.h"

// One pseudo-terminal standing in for one USB serial port. The program opens the slave by its path;
// the simulator talks through the master.
class cPtyPort : public cPort
{
public:
    // Opens a pty whose path this simulator has never handed out before, so that a port which
    // re-appears can never be mistaken for the one that went away. Null on failure (logged).
    static std::shared_ptr<cPtyPort> create(cEventLoop &loop, qint64 bytesPerSecond);
    ~cPtyPort() override;

    // Ports are handed out as symbolic links in this directory, named after this process, rather
    // than as /dev/pts paths: the kernel reuses pty numbers, and a program still holding the path
    // of a port that went away must never reach another simulator's device through it.
    static void setLinkDirectory(const QString &directory);

    // Closing the master hangs up whoever has the slave open, the way pulling the USB cable would.
    void close() override;

private:
    explicit cPtyPort(qint64 bytesPerSecond);
    bool openUnusedPty();

    int m_slave = -1; // held open so that the master never sees EIO while the program has it closed
    QString m_ptsPath;
};
