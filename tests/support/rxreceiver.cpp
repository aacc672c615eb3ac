#include "rxreceiver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <atomic>

namespace {
std::atomic<int> receivers { 0 };
}

cRxReceiver::cRxReceiver()
{
    // The serial port library locks a port by its base name, so every link gets its own.
    m_portPath = m_dir.filePath(
        QStringLiteral("rx%1_%2").arg(QCoreApplication::applicationPid()).arg(receivers.fetch_add(1)));
}

cRxReceiver::~cRxReceiver()
{
    if (m_socat.state() != QProcess::NotRunning) {
        m_socat.terminate();
        if (!m_socat.waitForFinished(2000)) {
            m_socat.kill();
            m_socat.waitForFinished(2000);
        }
    }
}

bool cRxReceiver::start(int timeoutMs)
{
    if (!m_dir.isValid())
        return false;
    m_socat.setProcessChannelMode(QProcess::MergedChannels);
    // rx refuses a path with a directory in it, so it runs in the output's directory. It starts
    // only once the port is opened (wait-slave): its first "C" must reach a reader, as a real
    // receiver's does, whatever an open does with input that came before it. The port is closed
    // and opened again between the handshake and the transfer (ignoreeof).
    m_socat.start(QStringLiteral("socat"),
                  { QStringLiteral("PTY,link=%1,raw,echo=0,wait-slave,pty-interval=0.01,ignoreeof").arg(m_portPath),
                    QStringLiteral("SYSTEM:cd '%1' && exec rx -c received.bin").arg(m_dir.path()) });
    if (!m_socat.waitForStarted(timeoutMs))
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (!QFileInfo::exists(m_portPath)) {
        if (deadline.hasExpired() || m_socat.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(10);
    }
    return true;
}

bool cRxReceiver::waitForExit(int timeoutMs)
{
    return m_socat.state() == QProcess::NotRunning || m_socat.waitForFinished(timeoutMs);
}

QByteArray cRxReceiver::diagnostics()
{
    return m_socat.readAll();
}
