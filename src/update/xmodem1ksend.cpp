#include "update/xmodem1ksend.h"

#include "device/port.h"
#include "support/regularfile.h"
#include "support/trace.h"
#include "update/crc16.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>

std::atomic<qint32> xmodemResponseTimeoutMs { 3000 };
std::atomic<qint32> xmodemChunkSize { 16 };
std::atomic<bool> xmodemFirstPacket { true };

namespace {

constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
constexpr char padding = 0x1A;
constexpr int blockSize = 1024;
constexpr qint64 progressPerBlock = qint64(blockSize) * 100;

// A fresh boot loader that never answers is given up on sooner than one that has already taken
// a block: the latter only struggles to keep up.
constexpr int attemptsBeforeFirstAck = 5;
constexpr int attemptsAfterFirstAck = 10;
constexpr int cancelBytes = 8;

constexpr qint32 timeoutStepMs = 500;
constexpr qint32 timeoutMaxMs = 5000;
constexpr qint32 timeoutWrapMs = 1000;

constexpr unsigned long finalDrainSleepMs = 10;
constexpr unsigned long destructorPollMs = 100;
// A run that has published its final status only drains and closes the port, which is bounded by
// its response time-out; this leaves ample room for that.
constexpr int restartWaitMs = 3 * timeoutMaxMs;

} // namespace

#define XMODEM_TRACE QM_TRACE("cXmodem1KSend::run")

void increaseXmodemTimeout()
{
    qint32 next = xmodemResponseTimeoutMs.load() + timeoutStepMs;
    if (next > timeoutMaxMs)
        next = timeoutWrapMs;
    xmodemResponseTimeoutMs.store(next);
}

cXmodem1KSend::cXmodem1KSend(std::string fileName, cPort *port)
    : QThread(nullptr)
    , port(port)
    , fileName(std::move(fileName))
    , progress(0)
    , status(XmodemRunning)
{ }

cXmodem1KSend::~cXmodem1KSend()
{
    // There is no way to stop a transfer early: aborting mid-block could leave the boot loader
    // with half an image, so the transfer is left to end by itself.
    while (isRunning())
        QThread::msleep(destructorPollMs);
    wait();
}

void cXmodem1KSend::startTransfer()
{
    // QThread::start() is silently ignored while the thread still runs, and a previous run may
    // still be draining the port after it has published its final status.
    if (!wait(QDeadlineTimer(restartWaitMs))) {
        // Reporting "running" for a start that never happens would keep the wizard polling for
        // ever; the port is still held, so this attempt ends as a port error.
        status.store(XmodemPortError);
        return;
    }
    // Set before the start so the wizard's first poll cannot take the previous run's final status
    // for this run's result.
    status.store(XmodemRunning);
    progress.store(0);
    start(QThread::InheritPriority);
}

void cXmodem1KSend::cancelTransfer()
{
    for (int i = 0; i < cancelBytes; ++i)
        port->write(&CAN, 1);
}

bool cXmodem1KSend::writeByte(char byte)
{
    return port->write(&byte, 1) == 1;
}

bool cXmodem1KSend::drainOutput(int timeoutMs)
{
    // Busy-polled on purpose: sleeping here would put a scheduler tick between every chunk. A port
    // that never empties (a vanished device) must not hold the worker for ever.
    if (port->bytesToWrite() == 0)
        return true;
    QElapsedTimer clock;
    clock.start();
    while (port->bytesToWrite() > 0) {
        if (clock.elapsed() >= timeoutMs)
            return false;
    }
    return true;
}

bool cXmodem1KSend::sendBlock(quint8 number, const char *data, int timeoutMs)
{
    // A port that refuses a byte has corrupted this attempt already; the rest is not sent, so a
    // dead port costs one time-out per attempt rather than one per chunk.
    if (!writeByte(STX) || !writeByte(char(number)) || !writeByte(char(255 - number)))
        return false;
    // Small chunks with a drain after each pace the data for a boot loader that cannot take a
    // continuous stream while it programs flash.
    const int chunk = std::max(1, xmodemChunkSize.load());
    for (int offset = 0; offset < blockSize; offset += chunk) {
        const int size = std::min(blockSize - offset, chunk);
        if (port->write(data + offset, size) != size || !drainOutput(timeoutMs))
            return false;
    }
    const quint16 crc = crc16Xmodem(data, blockSize);
    return writeByte(char(crc >> 8)) && writeByte(char(crc & 0xff));
}

void cXmodem1KSend::run()
{
    status.store(XmodemRunning);
    progress.store(0);

    QFile file;
    // Read once: a change by the wizard applies to the next run.
    const int timeoutMs = xmodemResponseTimeoutMs.load();
    qint64 fileSize = 0;
    qint64 bytesSent = 0;
    qint64 progressSum = 0;
    quint8 blockNumber = 1;
    char block[blockSize];

    // Only a regular file: a FIFO or a device named like an update file would hold this thread for
    // good in open(), or feed it for ever.
    if (!openRegularFile(file, QString::fromUtf8(fileName.c_str()))) {
        status.store(XmodemFileError);
        goto finish;
    }
    fileSize = file.size();
    if (fileSize <= 0) {
        status.store(XmodemPortError);
        goto finish;
    }
    if (!port->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        status.store(XmodemPortError);
        goto finish;
    }
    port->flush();
    port->setTimeout(timeoutMs);

    for (;;) {
        const qint64 got = file.read(block, blockSize);
        if (got <= 0)
            break;
        std::fill(block + got, block + blockSize, padding);

        // Copies of this block the receiver has not answered yet: an answer that comes after our
        // time-out is still on its way, and must not be taken for the answer to a later block.
        int unanswered = 0;
        for (int attempt = 1;; ++attempt) {
            XMODEM_TRACE << "Packet" << blockNumber << "attempt" << attempt;
            // Whatever is waiting now answered an earlier send (an ACK that came after our
            // time-out, a repeated "C"); read later, it would be taken for this block's answer
            // and put the block numbering out of step with the receiver.
            port->discardInput();
            sendBlock(blockNumber, block, timeoutMs);

            char response = 0;
            const bool answered = port->read(&response, 1) == 1;
            if (!answered)
                ++unanswered;
            if (!answered || response == 0) {
                XMODEM_TRACE << "No Response to packet" << blockNumber;
                response = NAK;
            }

            if (xmodemFirstPacket.load() && response == ACK) {
                XMODEM_TRACE << "First packet ACK";
                xmodemFirstPacket.store(false);
            } else if (response == NAK) {
                XMODEM_TRACE << "XMODEM NAK" << blockNumber;
                const qint32 chunk = xmodemChunkSize.load();
                if (chunk >= 2) {
                    xmodemChunkSize.store(chunk / 2);
                    XMODEM_TRACE << "Chunk size =" << chunk / 2;
                }
            } else if (response == ACK) {
                XMODEM_TRACE << "XMODEM ACK" << blockNumber;
            } else {
                XMODEM_TRACE << "Unexpected response:" << QByteArray(1, response)
                             << "0x" + QByteArray::number(quint8(response), 16);
            }

            if (response == ACK) {
                // The receiver has this block. Each copy it had not answered may still be answered
                // (a late ACK, the ACK of a duplicate): those answers belong to this block, so they
                // are read now, each within the response time, instead of by the next block.
                for (; unanswered > 0; --unanswered) {
                    char late = 0;
                    if (port->read(&late, 1) != 1)
                        break;
                    XMODEM_TRACE << "Late answer to packet" << blockNumber << "ignored:"
                                 << "0x" + QByteArray::number(quint8(late), 16);
                }
                break;
            }
            const int limit = xmodemFirstPacket.load() ? attemptsBeforeFirstAck : attemptsAfterFirstAck;
            if (attempt >= limit) {
                cancelTransfer();
                status.store(XmodemTimeout);
                goto finish;
            }
        }

        progressSum += progressPerBlock;
        bytesSent += blockSize;
        ++blockNumber;
        progress.store(qint32(std::clamp<qint64>(progressSum / fileSize, 1, 100)));
    }

    // The answer to EOT decides nothing: the data is all acknowledged, and a boot loader that
    // loses the last ACK must not turn a good update into a failure.
    port->discardInput();
    writeByte(EOT);
    {
        char response = 0;
        if (port->read(&response, 1) == 1 && response == NAK)
            writeByte(EOT);
    }

    if (bytesSent < fileSize) {
        status.store(XmodemFileError);
    } else {
        progress.store(100);
        status.store(XmodemComplete);
    }

finish:
    if (port->isOpen()) {
        QElapsedTimer clock;
        clock.start();
        while (port->bytesToWrite() > 0 && clock.elapsed() < timeoutMs)
            QThread::msleep(finalDrainSleepMs);
        port->flush();
        port->close();
    }
    file.close();
}
