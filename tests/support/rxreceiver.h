#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// lrzsz "rx -c" behind socat, which gives it a pseudo-terminal at portPath(). rx talks to socat
// through pipes rather than owning the terminal: a terminal owner flushes it on exit and loses
// its own last ACK about half the time.
class cRxReceiver
{
public:
    cRxReceiver();
    ~cRxReceiver();

    // Starts socat and rx, then waits (bounded) for the terminal to appear.
    bool start(int timeoutMs = 5000);
    QString portPath() const { return m_portPath; }
    QString outputPath() const { return m_dir.filePath(QStringLiteral("received.bin")); }
    // True when rx has ended by itself (after EOT) within the time.
    bool waitForExit(int timeoutMs);
    QByteArray diagnostics();

private:
    QTemporaryDir m_dir;
    QString m_portPath;
    QProcess m_socat;
};
