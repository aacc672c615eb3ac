#include "fakeport.h"

void cFakePort::feed(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (!m_rx.isEmpty() && !m_rx.last().isEmpty())
        m_rx.last() += bytes;
    else
        m_rx.append(bytes);
}

void cFakePort::feedPause()
{
    m_rx.append(QByteArray());
}

void cFakePort::setPortName(const QString &name)
{
    m_name = name;
    settings << QStringLiteral("setPortName(%1)").arg(name);
}

void cFakePort::setQueryMode(QueryMode mode)
{
    settings << QStringLiteral("setQueryMode(%1)").arg(mode == Polling ? "Polling" : "EventDriven");
}

void cFakePort::setBaudRate(qint32 baud)
{
    settings << QStringLiteral("setBaudRate(%1)").arg(baud);
}

void cFakePort::setParity(cSerialLine::Parity parity)
{
    settings << QStringLiteral("setParity(%1)").arg(int(parity));
}

void cFakePort::setDataBits(cSerialLine::DataBits bits)
{
    settings << QStringLiteral("setDataBits(%1)").arg(int(bits));
}

void cFakePort::setStopBits(cSerialLine::StopBits bits)
{
    settings << QStringLiteral("setStopBits(%1)").arg(int(bits));
}

void cFakePort::setFlowControl(cSerialLine::FlowControl flow)
{
    settings << QStringLiteral("setFlowControl(%1)").arg(int(flow));
}

void cFakePort::setTimeout(int ms)
{
    m_timeout = ms;
    settings << QStringLiteral("setTimeout(%1)").arg(ms);
}

bool cFakePort::open(QIODevice::OpenMode mode)
{
    if (m_open)
        return true;
    ++openAttempts;
    if (failOpens != 0) {
        if (failOpens > 0)
            --failOpens;
        return false;
    }
    m_open = true;
    openedNames << m_name;
    openModes << mode;
    m_rx.clear();
    return true;
}

bool cFakePort::openKeepingInput(QIODevice::OpenMode mode)
{
    const QList<QByteArray> kept = m_rx;
    const bool opened = open(mode);
    if (opened)
        m_rx = kept;
    return opened;
}

void cFakePort::close()
{
    if (m_open)
        ++closes;
    m_open = false;
}

qint64 cFakePort::write(const char *data, qint64 size)
{
    const QByteArray bytes(data, int(size));
    if (!m_open) {
        writtenWhileClosed += bytes;
        return -1;
    }
    written += bytes;
    writes << bytes;
    if (onWrite)
        onWrite(*this, bytes);
    return size;
}

bool cFakePort::takeByte(char &byte)
{
    if (m_rx.isEmpty()) {
        ++readTimeouts;
        return false;
    }
    QByteArray &front = m_rx.first();
    if (front.isEmpty()) {
        m_rx.removeFirst();
        ++readTimeouts;
        return false;
    }
    byte = front.at(0);
    front.remove(0, 1);
    if (front.isEmpty())
        m_rx.removeFirst();
    return true;
}

qint64 cFakePort::read(char *data, qint64 maxSize)
{
    if (!m_open)
        return -1;
    qint64 count = 0;
    // Like a polling port: wait (here: not at all) for the first byte, then take what is there.
    while (count < maxSize) {
        if (count > 0 && (m_rx.isEmpty() || m_rx.first().isEmpty()))
            break;
        char byte;
        if (!takeByte(byte))
            break;
        data[count++] = byte;
    }
    return count;
}

qint64 cFakePort::readLine(char *data, qint64 maxSize)
{
    if (maxSize <= 0)
        return -1;
    data[0] = '\0';
    if (!m_open)
        return -1;
    qint64 count = 0;
    while (count < maxSize - 1) {
        char byte;
        if (!takeByte(byte))
            break;
        data[count++] = byte;
        if (byte == '\n')
            break;
    }
    data[count] = '\0';
    return count;
}

qint64 cFakePort::bytesAvailable()
{
    if (!m_open || m_rx.isEmpty())
        return 0;
    return m_rx.first().size();
}

bool cFakePort::flush()
{
    ++flushes;
    return m_open;
}

void cFakePort::discardInput()
{
    while (!m_rx.isEmpty() && !m_rx.first().isEmpty())
        m_rx.removeFirst();
}
