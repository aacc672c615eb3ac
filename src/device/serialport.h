#pragma once

#include "device/port.h"

#include <QByteArray>

#include <memory>

class QSerialPort;

// cPort on a real serial port. A QSerialPort belongs to the thread that creates it, so the
// QSerialPort is created by open() on the calling thread and destroyed by close(); the settings
// and the time-out live here and survive from one open to the next. This lets the GUI thread and
// the XMODEM sender thread use the same object in turn.
class cSerialPort : public cPort
{
public:
    static constexpr int defaultTimeoutMs = 500;

    cSerialPort();
    ~cSerialPort() override;

    void setPortName(const QString &name) override;
    QString portName() const override;
    void setQueryMode(QueryMode mode) override;
    void setBaudRate(qint32 baud) override;
    void setParity(cSerialLine::Parity parity) override;
    void setDataBits(cSerialLine::DataBits bits) override;
    void setStopBits(cSerialLine::StopBits bits) override;
    void setFlowControl(cSerialLine::FlowControl flow) override;
    void setTimeout(int ms) override;
    int timeout() const override;

    bool open(QIODevice::OpenMode mode) override;
    bool openKeepingInput(QIODevice::OpenMode mode) override;
    bool isOpen() const override;
    void close() override;

    qint64 write(const char *data, qint64 size) override;
    qint64 read(char *data, qint64 maxSize) override;
    qint64 readLine(char *data, qint64 maxSize) override;
    qint64 bytesAvailable() override;
    qint64 bytesToWrite() const override;
    bool waitForBytesWritten(int ms) override;
    bool flush() override;
    void discardInput() override;
    bool vanished() const override { return m_vanished; }

    QueryMode queryMode() const { return m_queryMode; }

private:
    bool openPort(QIODevice::OpenMode mode, bool keepInput);
    bool waitForInput(int ms);
    // What the driver holds now, without waiting (-1 on a port that has gone).
    qint64 readDriver(char *data, qint64 maxSize);
    bool checkVanished();
#ifdef _WIN32
    // The Win32 serial API directly: Qt SerialPort is not built for Windows here.
    bool applySettings();
    void *m_handle = nullptr; // HANDLE; nullptr while closed
    int m_writeTimeoutSet = -1; // the write time-out the driver has now
#else
    void applySettings();
    qint64 writeToDriver(const char *data, qint64 size);

    std::unique_ptr<QSerialPort> m_port;
#endif
    QString m_name;
    QueryMode m_queryMode = EventDriven;
    qint32 m_baudRate = 9600;
    cSerialLine::Parity m_parity = cSerialLine::NoParity;
    cSerialLine::DataBits m_dataBits = cSerialLine::Data8;
    cSerialLine::StopBits m_stopBits = cSerialLine::OneStop;
    cSerialLine::FlowControl m_flowControl = cSerialLine::NoFlowControl;
    int m_timeoutMs = defaultTimeoutMs;
    bool m_vanished = false;
    // Bytes taken off the line while it was being opened, read before anything after them.
    QByteArray m_carried;
};
