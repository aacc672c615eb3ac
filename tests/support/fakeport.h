#pragma once

#include "device/port.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>

// A scripted cPort. Settings calls are recorded in order as text ("setBaudRate(110)"), written
// bytes are kept, and received bytes come from a queue the test feeds. A read that finds the queue
// empty, or a pause fed into it, counts as a read time-out and returns at once.
class cFakePort : public cPort
{
public:
    // Feeds bytes that arrive for the next reads.
    void feed(const QByteArray &bytes);
    // The next read that reaches this point times out (once), as if the line went quiet.
    void feedPause();

    // Called after every write with the bytes of that write; may feed() a reply.
    std::function<void(cFakePort &port, const QByteArray &data)> onWrite;
    // Opens fail while this is positive (each failed open counts it down); -1 fails for ever.
    int failOpens = 0;

    QStringList settings;
    QByteArray written;
    QList<QByteArray> writes;
    QStringList openedNames;
    QList<QIODevice::OpenMode> openModes;
    int openAttempts = 0;
    int closes = 0;
    int readTimeouts = 0;
    int flushes = 0;
    QByteArray writtenWhileClosed;

    void setPortName(const QString &name) override;
    QString portName() const override { return m_name; }
    void setQueryMode(QueryMode mode) override;
    void setBaudRate(qint32 baud) override;
    void setParity(cSerialLine::Parity parity) override;
    void setDataBits(cSerialLine::DataBits bits) override;
    void setStopBits(cSerialLine::StopBits bits) override;
    void setFlowControl(cSerialLine::FlowControl flow) override;
    void setTimeout(int ms) override;
    int timeout() const override { return m_timeout; }

    // As a real port does: open() drops what was fed before it, openKeepingInput() keeps it.
    bool open(QIODevice::OpenMode mode) override;
    bool openKeepingInput(QIODevice::OpenMode mode) override;
    bool isOpen() const override { return m_open; }
    void close() override;

    qint64 write(const char *data, qint64 size) override;
    qint64 read(char *data, qint64 maxSize) override;
    qint64 readLine(char *data, qint64 maxSize) override;
    qint64 bytesAvailable() override;
    qint64 bytesToWrite() const override { return 0; }
    bool waitForBytesWritten(int) override { return false; }
    bool flush() override;
    void discardInput() override;

private:
    // Takes the next received byte; false on a time-out (pause or nothing left).
    bool takeByte(char &byte);

    // Received bytes; a pause is an empty entry.
    QList<QByteArray> m_rx;
    QString m_name;
    bool m_open = false;
    int m_timeout = 500;
};
