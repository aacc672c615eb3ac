#pragma once

#include <QIODevice>
#include "device/serialline.h"
#include <QString>

// The one interface through which the device link and the XMODEM sender talk to a port.
// Semantics are those of a polling serial port: a read waits at most the time-out and returns
// what arrived, a write has completed when it returns (bytesToWrite() is then 0).
class cPort
{
public:
    enum QueryMode { EventDriven, Polling };

    virtual ~cPort() = default;

    virtual void setPortName(const QString &name) = 0;
    virtual QString portName() const = 0;
    virtual void setQueryMode(QueryMode mode) = 0;
    virtual void setBaudRate(qint32 baud) = 0;
    virtual void setParity(cSerialLine::Parity parity) = 0;
    virtual void setDataBits(cSerialLine::DataBits bits) = 0;
    virtual void setStopBits(cSerialLine::StopBits bits) = 0;
    virtual void setFlowControl(cSerialLine::FlowControl flow) = 0;
    virtual void setTimeout(int ms) = 0;
    virtual int timeout() const = 0;

    // Succeeds at once when the port is already open.
    virtual bool open(QIODevice::OpenMode mode) = 0;
    // As open(), but whatever the device has sent already stays to be read. A device on USB is not
    // read at all until its port is opened, so what it had queued arrives during the open itself:
    // a boot loader's first "U" can be in that burst and must not be thrown away with stale input.
    virtual bool openKeepingInput(QIODevice::OpenMode mode) { return open(mode); }
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    // Returns the number of bytes taken, or -1.
    virtual qint64 write(const char *data, qint64 size) = 0;
    // Waits at most the time-out for the first byte; returns what arrived (0 on time-out, -1 on error).
    virtual qint64 read(char *data, qint64 maxSize) = 0;
    // Reads up to maxSize - 1 bytes, stopping after a LF or when a read times out; always
    // NUL-terminates. Returns the number of bytes read, or -1 when nothing could be read.
    virtual qint64 readLine(char *data, qint64 maxSize) = 0;
    virtual qint64 bytesAvailable() = 0;
    virtual qint64 bytesToWrite() const = 0;
    virtual bool waitForBytesWritten(int ms) = 0;
    virtual bool flush() = 0;
    // Drops every byte received and not yet read (a stale answer must not be taken for a new one).
    virtual void discardInput() = 0;
    // True once the device behind the port has gone (unplugged, or restarted off the bus): reads
    // and waits on it end at once. Stays so after close, until the next open.
    virtual bool vanished() const { return false; }
};
