#include "device/serialport.h"

#include <cstring>

// What the port does the same on every platform: its settings, kept from one open to the next
// and given to the driver while it is open, and lines read byte by byte through read().

cSerialPort::cSerialPort() = default;

cSerialPort::~cSerialPort()
{
    close();
}

void cSerialPort::setPortName(const QString &name)
{
    m_name = name;
}

QString cSerialPort::portName() const
{
    return m_name;
}

void cSerialPort::setQueryMode(QueryMode mode)
{
    m_queryMode = mode;
}

void cSerialPort::setBaudRate(qint32 baud)
{
    m_baudRate = baud;
    if (isOpen())
        applySettings();
}

void cSerialPort::setParity(cSerialLine::Parity parity)
{
    m_parity = parity;
    if (isOpen())
        applySettings();
}

void cSerialPort::setDataBits(cSerialLine::DataBits bits)
{
    m_dataBits = bits;
    if (isOpen())
        applySettings();
}

void cSerialPort::setStopBits(cSerialLine::StopBits bits)
{
    m_stopBits = bits;
    if (isOpen())
        applySettings();
}

void cSerialPort::setFlowControl(cSerialLine::FlowControl flow)
{
    m_flowControl = flow;
    if (isOpen())
        applySettings();
}

void cSerialPort::setTimeout(int ms)
{
    m_timeoutMs = ms;
}

int cSerialPort::timeout() const
{
    return m_timeoutMs;
}

bool cSerialPort::open(QIODevice::OpenMode mode)
{
    return openPort(mode, false);
}

bool cSerialPort::openKeepingInput(QIODevice::OpenMode mode)
{
    return openPort(mode, true);
}

qint64 cSerialPort::read(char *data, qint64 maxSize)
{
    if (!isOpen())
        return -1;
    if (maxSize <= 0)
        return 0;
    if (!waitForInput(m_timeoutMs))
        return m_vanished ? -1 : 0;
    // What was taken off the line before (during the open, or by the wait) comes first.
    if (!m_carried.isEmpty()) {
        const qint64 n = qMin<qint64>(maxSize, m_carried.size());
        memcpy(data, m_carried.constData(), size_t(n));
        m_carried.remove(0, int(n));
        return n;
    }
    return readDriver(data, maxSize);
}

qint64 cSerialPort::readLine(char *data, qint64 maxSize)
{
    if (maxSize <= 0)
        return -1;
    data[0] = '\0';
    if (!isOpen())
        return -1;
    qint64 count = 0;
    while (count < maxSize - 1) {
        char c;
        if (read(&c, 1) != 1)
            break;
        data[count++] = c;
        if (c == '\n')
            break;
    }
    data[count] = '\0';
    return count;
}
