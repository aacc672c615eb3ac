#include "simulator.h"

#include "builtprogram.h"

#include <QDebug>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char kPortsEnv[] = "QUAYMEND_SIMULATED_PORTS";
constexpr int kPollMs = 10;

} // namespace

cSimulator::cSimulator(const QStringList &extraArgs)
    : m_extraArgs(extraArgs)
{
}

cSimulator::~cSimulator()
{
    stop();
    if (QTest::currentTestFailed() && !m_log.isEmpty())
        qWarning().noquote() << "simulator log:\n" + QString::fromUtf8(m_log);
}

bool cSimulator::start(int timeoutMs)
{
    if (isRunning())
        return false;
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid())
        return false;
    m_log.clear();
    m_process = std::make_unique<QProcess>();
    // Ours first: an explicit --image in extraArgs wins, the parser takes the last value.
    const QStringList command = builtCommand(QStringLiteral(QUAYMEND_DEVSIM_PATH),
                                             QStringList{QStringLiteral("--ports-file"), portsFile(),
                                                         QStringLiteral("--image"), imagePath()}
                                                 + m_extraArgs);
    m_process->setProgram(command.first());
    m_process->setArguments(command.mid(1));
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(m_process.get(), &QProcess::readyReadStandardError, m_process.get(), [this]() { readLog(); });

    m_hadPortsEnv = qEnvironmentVariableIsSet(kPortsEnv);
    m_previousPortsEnv = qgetenv(kPortsEnv);
    qputenv(kPortsEnv, QFile::encodeName(portsFile()));
    m_envSet = true;

    m_process->start();
    if (!m_process->waitForStarted(timeoutMs)) {
        stop();
        return false;
    }
    if (!waitForLog("devsim: ready\n", timeoutMs)) {
        stop();
        return false;
    }
    return true;
}

QString cSimulator::portsFile() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("ports")) : QString();
}

QString cSimulator::imagePath() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("image.bin")) : QString();
}

QStringList cSimulator::ports() const
{
    QStringList result;
    QFile file(portsFile());
    if (!file.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if ((fields.size() == 2 || fields.size() == 3) && fields.at(1).toUpper() == "3E71")
            result << QFile::decodeName(fields.at(0));
    }
    return result;
}

bool cSimulator::waitForPorts(int count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (ports().size() == count)
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(kPollMs);
    }
}

bool cSimulator::waitForLog(const QByteArray &needle, int timeoutMs, qsizetype from)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        readLog();
        if (m_log.indexOf(needle, from) >= 0)
            return true;
        if (deadline.hasExpired() || !isRunning())
            return false;
        QTest::qWait(kPollMs);
    }
}

QByteArray cSimulator::log() const
{
    return m_log;
}

bool cSimulator::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

void cSimulator::readLog()
{
    if (m_process)
        m_log += m_process->readAllStandardError();
}

void cSimulator::stop()
{
    if (isRunning()) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(2000);
            // It had no chance to clear its ports; nothing listed may outlive the process.
            QFile file(portsFile());
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.close();
        }
    }
    readLog();
    if (m_envSet && qgetenv(kPortsEnv) == QFile::encodeName(portsFile())) {
        if (m_hadPortsEnv)
            qputenv(kPortsEnv, m_previousPortsEnv);
        else
            qunsetenv(kPortsEnv);
    }
    m_envSet = false;
}
