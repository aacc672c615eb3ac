#pragma once

#include <QThread>

#include <atomic>
#include <string>

class cPort;

enum XmodemStatus : qint32 {
    XmodemPortError = 0,
    XmodemFileError = 1,
    XmodemTimeout = 2,
    XmodemRunning = 3,
    XmodemComplete = 4,
};

// Process-wide transfer settings: they outlive every transfer run, so a retry starts with what the
// previous runs left in them.
extern std::atomic<qint32> xmodemResponseTimeoutMs;
extern std::atomic<qint32> xmodemChunkSize;
extern std::atomic<bool> xmodemFirstPacket;

// Lengthens the response time-out by 500 ms, wrapping to 1000 ms past 5000 ms.
void increaseXmodemTimeout();

// Sends one update file to the boot loader with XMODEM-1K in its own thread. The GUI thread only
// reads progress and status.
class cXmodem1KSend : public QThread
{
    Q_OBJECT

public:
    // fileName is the update file's full path, in UTF-8 (any directory name survives the trip). The port
    // arrives configured and closed; run() opens and closes it on the worker thread.
    cXmodem1KSend(std::string fileName, cPort *port);
    // Blocks until a running transfer has ended by itself.
    ~cXmodem1KSend() override;

    // Starts a transfer run; waits first for a previous run that is still closing the port.
    void startTransfer();

    cPort *port;
    std::string fileName;
    std::atomic<qint32> progress;
    std::atomic<qint32> status;

protected:
    void run() override;

private:
    void cancelTransfer();
    bool sendBlock(quint8 number, const char *data, int timeoutMs);
    bool writeByte(char byte);
    bool drainOutput(int timeoutMs);
};
