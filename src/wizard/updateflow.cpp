#include "wizard/updateflow.h"

#include "device/preflight.h"
#include "support/trace.h"
#include "support/updatelog.h"
#include "update/xmodem1ksend.h"

#include <QCoreApplication>

#include <memory>

bool cUpdateFlow::offersNext(Page page)
{
    switch (page) {
    case Page::Installing:
    case Page::Detecting:
    case Page::Switching:
    case Page::Connecting:
    case Page::UpdateInProgress:
    case Page::Restarting:
    case Page::Confirming:
        return false;
    default:
        return true;
    }
}

bool cUpdateFlow::offersRetry(Page page)
{
    switch (page) {
    case Page::NotFound:
    case Page::ConnectFailed:
    case Page::UpdateFailed:
    case Page::NotConfirmed:
    case Page::NoConfirmation:
        return true;
    default:
        return false;
    }
}

cUpdateFlow::cUpdateFlow(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &cUpdateFlow::timer);
}

cUpdateFlow::~cUpdateFlow()
{
    // The sender's destructor waits for a running transfer, which still uses serialPort.
    delete transferThread;
    transferThread = nullptr;
}

void cUpdateFlow::setUpdateSource(const UpdateSource &source)
{
    m_source = source;
}

void cUpdateFlow::bindToDevice(const QString &serialNumber, const QString &portName)
{
    deviceFollower.bind(serialNumber, portName);
}

void cUpdateFlow::setConfirmUpdate(bool confirm)
{
    confirmUpdate = confirm;
}

void cUpdateFlow::setLimits(const Limits &limits)
{
    m_limits = limits;
}

QString cUpdateFlow::updateFilePath() const
{
    return updateFileName.isEmpty() ? QString() : m_source.directory + QLatin1Char('/') + updateFileName;
}

void cUpdateFlow::start()
{
    showPage(Page::Welcome);
    log("Welcome screen");
}

void cUpdateFlow::next()
{
    if (offersNext(m_page))
        stepWizard();
}

void cUpdateFlow::retry()
{
    if (!offersRetry(m_page))
        return;
    log("User retry");
    wizardState = retryState;
    stepWizard();
}

bool cUpdateFlow::cancel()
{
    if (m_updateUnderWay)
        return false;
    m_timer.stop();
    return true;
}

void cUpdateFlow::timer()
{
    wizardState = timerState;
    stepWizard();
}

void cUpdateFlow::scheduleTimer(int delayMs, WizardState state)
{
    timerState = state;
    // As QTimer::singleShot chooses: precise below two seconds, coarse from there on.
    m_timer.setTimerType(delayMs >= 2000 ? Qt::CoarseTimer : Qt::PreciseTimer);
    m_timer.start(delayMs);
}

void cUpdateFlow::showPage(Page page, const PageFacts &facts)
{
    m_page = page;
    emit pageChanged(page, facts);
}

void cUpdateFlow::endOn(Page page, Ending ending, const PageFacts &facts)
{
    showPage(page, facts);
    emit ended(ending, m_record);
}

void cUpdateFlow::setProgressPercent(int percent)
{
    emit progressChanged(Progress::Percent, percent);
}

void cUpdateFlow::setProgress(Progress progress)
{
    emit progressChanged(progress, 0);
}

// The update log: one line per call, appended to the log file (opened and closed per line, so the
// file holds every line even if the program is killed) and to the run's copy for "Copy Log to
// Clipboard". A line the file refuses still reaches the copy.
void cUpdateFlow::log(const QByteArray &text)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString timestamp = logTimestamp(now);
    appendLineToFile(updateLogPath(), timestamp.toUtf8() + text);
    m_logText += timestamp + QString::fromUtf8(text) + QLatin1Char('\n');
    QM_TRACE("cUpdateFlow::log") << QLatin1Char('"') + timestamp + QLatin1Char('"') << text;
    emit lineLogged(now, timestamp, text);
}

void cUpdateFlow::logPreflight()
{
    const std::unique_ptr<cSystemView> system = makeSystemView();
    for (const QString &line : runPreflight(*system, m_source).lines())
        log(line.toUtf8());
}
