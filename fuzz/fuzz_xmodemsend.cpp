// The XMODEM-1K sender against a port whose answers come from the input. Every time-out is zero
// long, so a run takes microseconds; it must end with one of the defined statuses, never hang,
// and a run that ends complete on a port that took every byte has delivered exactly the file.
//
// Input: 4 bytes of set-up (file size, chunk size, first-packet flag, port faults), then one
// event per read of the sender: a time-out, a read error, ACK, NAK, 'C', a raw byte, or a burst of
// bytes. When the input runs out, every further read times out.
#include "device/port.h"
#include "update/xmodem1ksend.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr int frameSize = 1029;
constexpr int runBoundMs = 20000;

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_xmodemsend: %s\n", what);
        std::abort();
    }
}

void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

class FuzzPort : public cPort
{
public:
    FuzzPort(const uint8_t *events, size_t count)
        : m_events(events)
        , m_left(count)
    { }

    bool refuseOpen = false;
    int failWriteAt = -1; // the write with this index fails (-1: none)
    bool shortWrite = false; // ... by taking one byte less instead of -1
    int stuckPolls = 0; // bytesToWrite() reports a byte pending this many times after each write

    int writes = 0;
    bool writeFailed = false;
    bool eotSeen = false;
    QByteArray accepted; // the data of every frame the port answered with ACK
    int reads = 0;

    void setPortName(const QString &) override { }
    QString portName() const override { return QStringLiteral("fuzz"); }
    void setQueryMode(QueryMode) override { }
    void setBaudRate(qint32) override { }
    void setParity(cSerialLine::Parity) override { }
    void setDataBits(cSerialLine::DataBits) override { }
    void setStopBits(cSerialLine::StopBits) override { }
    void setFlowControl(cSerialLine::FlowControl) override { }
    void setTimeout(int ms) override { check(ms == 0, "time-out not taken from the settings"); }
    int timeout() const override { return 0; }

    bool open(QIODevice::OpenMode) override
    {
        if (refuseOpen)
            return false;
        m_open = true;
        return true;
    }
    bool isOpen() const override { return m_open; }
    void close() override { m_open = false; }

    qint64 write(const char *data, qint64 size) override
    {
        check(size > 0, "empty write");
        if (!m_open)
            return -1;
        const int index = writes++;
        m_stuck = stuckPolls;
        if (index == failWriteAt) {
            writeFailed = true;
            if (!shortWrite || size == 1)
                return -1;
            m_sinceRead.append(data, int(size - 1));
            return size - 1;
        }
        m_sinceRead.append(data, int(size));
        if (size == 1 && *data == EOT)
            eotSeen = true;
        return size;
    }

    qint64 read(char *data, qint64 maxSize) override
    {
        check(++reads < 1000000, "sender reads without end");
        if (!m_open)
            return -1;
        if (maxSize <= 0)
            return 0;
        qint64 result = 0;
        if (!m_pending.isEmpty()) {
            *data = m_pending.at(0);
            m_pending.remove(0, 1);
            result = 1;
        } else if (m_left > 0) {
            const uint8_t event = next();
            switch (event % 8) {
            case 0:
                result = 0; // time-out
                break;
            case 1:
                result = -1; // read error
                break;
            case 2:
            case 3:
                *data = ACK;
                result = 1;
                break;
            case 4:
                *data = NAK;
                result = 1;
                break;
            case 5:
                *data = char(next());
                result = 1;
                break;
            case 6: {
                // A burst: the first byte now, the rest waits in the driver.
                const int burst = 2 + event / 8 % 8;
                for (int i = 0; i < burst; ++i)
                    m_pending.append(char(next()));
                *data = m_pending.at(0);
                m_pending.remove(0, 1);
                result = 1;
                break;
            }
            default:
                *data = 'C';
                result = 1;
                break;
            }
        }
        if (result == 1 && *data == ACK && m_sinceRead.size() == frameSize && m_sinceRead.at(0) == STX)
            accepted += m_sinceRead.mid(3, 1024);
        m_sinceRead.clear();
        return result;
    }

    qint64 readLine(char *, qint64) override { return -1; }
    qint64 bytesAvailable() override { return m_pending.size(); }
    qint64 bytesToWrite() const override
    {
        if (m_stuck > 0) {
            --m_stuck;
            return 1;
        }
        return 0;
    }
    bool waitForBytesWritten(int) override { return false; }
    bool flush() override { return true; }
    void discardInput() override { m_pending.clear(); }

private:
    uint8_t next()
    {
        if (m_left == 0)
            return 0;
        --m_left;
        return *m_events++;
    }

    const uint8_t *m_events;
    size_t m_left;
    bool m_open = false;
    QByteArray m_sinceRead;
    QByteArray m_pending;
    mutable int m_stuck = 0;
};

struct Setup
{
    QTemporaryDir dir;
    QString path;
    QByteArray written; // what the file holds now
    bool exists = false;

    Setup()
    {
        check(dir.isValid(), "no temporary folder");
        path = dir.filePath(QStringLiteral("730400_03_00_01.img"));
        qInstallMessageHandler(quiet);
    }

    void prepare(const QByteArray &contents, bool present)
    {
        if (!present) {
            QFile::remove(path);
            exists = false;
            return;
        }
        if (exists && contents == written)
            return;
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size(),
              "cannot write the update file");
        written = contents;
        exists = true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Setup setup;
    if (size < 4)
        return 0;
    // Set-up: file size (mostly small; sometimes whole blocks, past 256 blocks or absent), chunk.
    const int sizeCode = data[0] | (data[1] << 8);
    int fileSize = 1 + sizeCode % 5000;
    switch (data[2] >> 5) {
    case 0:
        fileSize = 1024 * (1 + sizeCode % 8);
        break;
    case 1:
        if (sizeCode % 64 == 0)
            fileSize = 257 * 1024 + sizeCode % 3000;
        break;
    case 2:
        if (sizeCode % 16 == 0)
            fileSize = sizeCode % 32 == 0 ? -1 : 0; // absent, empty
        break;
    default:
        break;
    }
    // Past 256 blocks, small chunks would only make the run slow, not different.
    const int chunk = fileSize > 64 * 1024 ? 16 + data[2] % 17 : 1 + data[2] % 32;
    const uint8_t faults = data[3];

    QByteArray contents(qMax(0, fileSize), Qt::Uninitialized);
    char *bytes = contents.data();
    for (int i = 0; i < contents.size(); ++i)
        bytes[i] = char((i * 131 + sizeCode) >> 3);
    setup.prepare(contents, fileSize >= 0);

    xmodemResponseTimeoutMs = 0;
    xmodemChunkSize = chunk;
    xmodemFirstPacket = (faults & 1) != 0;

    FuzzPort port(data + 4, size - 4);
    port.refuseOpen = (faults & 0x0e) == 0x0e;
    if (faults & 0x10)
        port.failWriteAt = (faults >> 5) * 97 + int(size % 61);
    port.shortWrite = (faults & 0x20) != 0;
    port.stuckPolls = (faults & 0xc0) == 0xc0 ? 2 : 0;

    cXmodem1KSend sender(setup.path.toUtf8().toStdString(), &port);
    sender.startTransfer();
    if (!sender.wait(runBoundMs)) {
        std::fprintf(stderr, "fuzz_xmodemsend: the run did not end within %d ms\n", runBoundMs);
        std::abort();
    }
    const qint32 status = sender.status.load();
    check(status == XmodemPortError || status == XmodemFileError || status == XmodemTimeout
              || status == XmodemComplete,
          "the run ended without a final status");
    check(!port.isOpen(), "port left open");
    if (fileSize < 0)
        check(status == XmodemFileError && port.writes == 0, "absent file not reported as a file error");
    if (fileSize == 0 || port.refuseOpen)
        check(status != XmodemComplete && port.writes == 0, "sent without a file or a port");
    if (status == XmodemComplete) {
        check(sender.progress.load() == 100, "complete below 100 %");
        check(port.eotSeen, "complete without EOT");
        // A frame cut short by a failed write or a drain time-out is one no real receiver would
        // acknowledge; the input may still have answered it with ACK.
        if (!port.writeFailed && port.stuckPolls == 0) {
            const int blocks = (fileSize + 1023) / 1024;
            QByteArray expected = contents;
            expected.append(QByteArray(blocks * 1024 - fileSize, '\x1a'));
            check(port.accepted == expected, "complete, but the acknowledged frames are not the file");
        }
    }
    return 0;
}
