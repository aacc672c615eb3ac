#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

// Runs quaymend-devsim for one test: its own temporary directory, ports file and image file, and
// QUAYMEND_SIMULATED_PORTS pointing this process (and any child started after start()) at it.
// Every wait is bounded; on a failed test the simulator's log is printed when this object dies.
class cSimulator
{
public:
    explicit cSimulator(const QStringList &extraArgs = {});
    ~cSimulator(); // stops the process (SIGTERM, then kill after a bound)
    cSimulator(const cSimulator &) = delete;
    cSimulator &operator=(const cSimulator &) = delete;

    // Temp dir, --ports-file <tmp>/ports, --image <tmp>/image.bin, then waits for "devsim: ready".
    bool start(int timeoutMs = 5000);
    QString portsFile() const;
    QString imagePath() const;

    // Device paths currently listed with vendor 3E71 (with or without a serial number), in file order.
    QStringList ports() const;
    // Until exactly count 3E71 ports are listed.
    bool waitForPorts(int count, int timeoutMs);
    // Until the log holds needle at or after byte offset from (pass log().size() taken earlier to wait
    // for a fresh occurrence). Processes events while waiting.
    bool waitForLog(const QByteArray &needle, int timeoutMs, qsizetype from = 0);
    QByteArray log() const; // all stderr so far
    bool isRunning() const;
    void stop();

private:
    void readLog();

    QStringList m_extraArgs;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_log;
    QByteArray m_previousPortsEnv;
    bool m_hadPortsEnv = false;
    bool m_envSet = false;
};
