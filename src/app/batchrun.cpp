#include "app/batchrun.h"

#include "app/runmodes.h"
#include "device/portenum.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QVariantMap>

#include <atomic>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <mutex>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// How often the run looks at its time bound between the wizard's own steps.
constexpr int deadlineCheckMs = 100;

// While the flow may not be left (the window refuses to close), no signal ends the process by
// itself: the device may be switching to its boot loader, taking the file or restarting with it.
// Read by the signal handler.
std::atomic<bool> runHeld { false };

QString clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

cBatchRun::cBatchRun(const Options &options, const UpdateSource &source, QIODevice *out, QIODevice *progress)
    : m_options(options)
    , m_out(out)
    , m_progress(progress)
{
    m_runClock.start();
    m_flow.setUpdateSource(source);
    m_flow.setConfirmUpdate(!options.noConfirm);
    connect(&m_flow, &cUpdateFlow::lineLogged, this, &cBatchRun::onLogLine);
    connect(&m_flow, &cUpdateFlow::pageChanged, this, &cBatchRun::onPage);
    connect(&m_flow, &cUpdateFlow::ended, this, &cBatchRun::onEnding);
    connect(&m_flow, &cUpdateFlow::progressChanged, this, &cBatchRun::onProgress);
    connect(&m_flow, &cUpdateFlow::closableChanged, this, &cBatchRun::onClosable);
}

cBatchRun::~cBatchRun() = default;

int cBatchRun::run()
{
    QEventLoop loop;
    QTimer deadline;
    connect(&deadline, &QTimer::timeout, this, &cBatchRun::checkDeadline);
    if (m_options.timeoutSeconds > 0)
        deadline.start(deadlineCheckMs);

    // The loop ends when the run has its result. Not a loop of processEvents(WaitForMoreEvents):
    // on Windows that goes on waiting after it has run the zero timer that set the result.
    m_loop = &loop;
    m_flow.start();
    if (m_exitCode < 0)
        loop.exec();
    m_loop = nullptr;
    deadline.stop();
    drawProgressBar(true);
    if (m_options.json) {
        QVariantMap result = resultFields();
        result.insert(QStringLiteral("outcome"), m_outcome);
        result.insert(QStringLiteral("exit"), m_exitCode);
        writeJson(QDateTime::currentDateTime(), QStringLiteral("result"), result);
    }
    return m_exitCode;
}

void cBatchRun::interrupt()
{
    // Done: the run is closing its last page already.
    if (m_exitCode >= 0 || m_phase == Phase::Done)
        return;
    if (m_flow.cancel()) {
        finish(ExitCode::Interrupted, QStringLiteral("interrupted"), Press::Nothing);
        return;
    }
    m_leaveAsked = true;
    if (m_phase == Phase::Transfer)
        tellUser("quaymend: the update is being written to the device and cannot be interrupted; it ends by itself.\n");
    else if (m_phase == Phase::Confirming)
        tellUser("quaymend: the device is restarting with its new firmware; the run waits for its answer, "
                 "at most a minute.\n");
    else
        tellUser("quaymend: the device is switching to its boot loader and cannot be left there; the run "
                 "ends as soon as it can.\n");
}

void cBatchRun::onClosable(bool closable)
{
    runHeld = !closable;
    if (!closable || (!m_leaveAsked && !m_deadlinePassed))
        return;
    // Queued: an ending that the flow reaches in the same step is the run's outcome.
    QTimer::singleShot(0, this, [this] {
        if (m_leaveAsked)
            interrupt();
        else
            checkDeadline();
    });
}

void cBatchRun::onLogLine(const QDateTime &when, const QString &timestamp, const QByteArray &text)
{
    if (m_options.json) {
        writeJson(when, QStringLiteral("log"), { { QStringLiteral("text"), QString::fromUtf8(text) } });
    } else {
        drawProgressBar(true);
        writeLine(timestamp.toUtf8() + text);
        drawProgressBar(false);
    }
}

void cBatchRun::onPage(cUpdateFlow::Page page)
{
    if (m_exitCode >= 0)
        return;
    using Page = cUpdateFlow::Page;
    // The run answers once the step that showed the page has returned.
    switch (page) {
    case Page::Welcome:
    case Page::InstallPrompt:
    case Page::DriverInstalled:
        act(Press::Next);
        break;
    case Page::Connect:
        m_phase = Phase::Detecting;
        act(Press::Next);
        break;
    case Page::UpdateRequired:
        m_phase = Phase::Connecting;
        act(Press::Next);
        break;
    case Page::Disconnect:
        // The driver branch, after a second detection found nothing.
        if (m_options.noDriver)
            finish(ExitCode::NoDevice, QStringLiteral("not-found"), Press::Nothing);
        else
            act(Press::Next);
        break;
    case Page::Switching:
    case Page::Connecting:
    case Page::Restarting:
        m_phase = Phase::Connecting;
        break;
    case Page::UpdateInProgress:
        m_phase = Phase::Transfer;
        m_fileSize = QFileInfo(m_flow.updateFilePath()).size();
        m_transferClock.start();
        m_lastPercent = -1;
        break;
    case Page::Confirming:
        m_phase = Phase::Confirming;
        break;
    default:
        break;
    }
}

void cBatchRun::onEnding(cUpdateFlow::Ending ending)
{
    if (m_exitCode >= 0)
        return;
    using Ending = cUpdateFlow::Ending;
    // Every ending presses its page's first button, Close or Cancel, which ends the run.
    switch (ending) {
    case Ending::Updated:
        finish(ExitCode::Ok, QStringLiteral("updated"), Press::Next);
        break;
    case Ending::Sent:
        tellUser("quaymend: warning: the update file was sent, but the device was not asked for its new "
                 "version (--no-confirm).\n");
        finish(ExitCode::Ok, QStringLiteral("sent"), Press::Next);
        break;
    case Ending::UpToDate:
        finish(ExitCode::Ok, QStringLiteral("up-to-date"), Press::Next);
        break;
    case Ending::NoUpdateFile:
        finish(ExitCode::NoUpdateFile, QStringLiteral("no-update-file"), Press::Next);
        break;
    case Ending::NotFound:
        // With a time bound the run keeps looking for the device until the bound; without, the
        // user has to see to the device first.
        if (m_options.timeoutSeconds > 0 && !m_deadlinePassed)
            act(Press::Retry);
        else
            finish(ExitCode::NoDevice, QStringLiteral("not-found"), Press::Next);
        break;
    case Ending::DriverFailed:
        finish(ExitCode::NoDevice, QStringLiteral("not-found"), Press::Next);
        break;
    case Ending::ConnectFailed:
        finish(ExitCode::NoBootLoader, QStringLiteral("connect-failed"), Press::Next);
        break;
    case Ending::UpdateFailed:
        finish(ExitCode::UpdateFailed, QStringLiteral("update-failed"), Press::Next);
        break;
    case Ending::PortError:
        finish(ExitCode::PortOrFileError, QStringLiteral("port-error"), Press::Next);
        break;
    case Ending::FileError:
        finish(ExitCode::PortOrFileError, QStringLiteral("file-error"), Press::Next);
        break;
    case Ending::NotConfirmed:
    case Ending::NoAnswer:
        // Cancel or Close: the page's first button ends the run either way.
        finish(ExitCode::NotConfirmed, QStringLiteral("not-confirmed"), Press::Next);
        break;
    }
}

void cBatchRun::onProgress(cUpdateFlow::Progress progress, int percent)
{
    if (progress != cUpdateFlow::Progress::Percent)
        return;
    percent = qAbs(percent);
    if (percent == m_lastPercent || m_phase == Phase::Done)
        return;
    m_lastPercent = percent;
    if (m_options.json)
        writeJson(QDateTime::currentDateTime(), QStringLiteral("progress"), { { QStringLiteral("percent"), percent } });
    drawProgressBar(false);
}

void cBatchRun::act(Press press)
{
    if (press == Press::Nothing)
        return;
    // Queued: the step that wrote the line is still running, and a click arrives after it.
    QTimer::singleShot(0, this, [this, press] {
        // A Ctrl-C or the time bound may have ended the run in between.
        if (m_exitCode >= 0)
            return;
        if (press == Press::Next)
            m_flow.next();
        else
            m_flow.retry();
    });
}

void cBatchRun::finish(int exitCode, const QString &outcome, Press press)
{
    if (m_exitCode >= 0)
        return;
    if (press == Press::Nothing) {
        m_phase = Phase::Done;
        m_exitCode = exitCode;
        m_outcome = outcome;
        if (m_loop)
            m_loop->quit();
        return;
    }
    // The page's own button closes the run, so that the log ends with the line the window would
    // write ("Complete", "Connect failed", "Driver install failed").
    QTimer::singleShot(0, this, [this, exitCode, outcome] {
        m_flow.next();
        m_phase = Phase::Done;
        m_exitCode = exitCode;
        m_outcome = outcome;
        if (m_loop)
            m_loop->quit();
    });
    m_phase = Phase::Done;
}

void cBatchRun::checkDeadline()
{
    if (m_options.timeoutSeconds <= 0 || m_exitCode >= 0 || m_phase == Phase::Done)
        return;
    if (m_runClock.elapsed() < qint64(m_options.timeoutSeconds) * 1000)
        return;
    m_deadlinePassed = true;
    // The bound takes effect where the window could be closed, once the flow allows it.
    if (!m_flow.cancel())
        return;
    tellUser("quaymend: the time given with --timeout is up.\n");
    if (m_phase == Phase::Detecting)
        finish(ExitCode::NoDevice, QStringLiteral("timeout"), Press::Nothing);
    else
        finish(ExitCode::NoBootLoader, QStringLiteral("timeout"), Press::Nothing);
}

void cBatchRun::tellUser(const QByteArray &text)
{
    drawProgressBar(true);
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
    drawProgressBar(false);
}

QVariantMap cBatchRun::resultFields() const
{
    const cUpdateFlow::RunRecord &record = m_flow.runRecord();
    QVariantMap fields;
    if (!record.deviceKind.isEmpty()) {
        fields.insert(QStringLiteral("device"), record.deviceKind);
        fields.insert(QStringLiteral("port"), record.portName);
        const QString serial = systemSerialNumber(record.portName);
        if (!serial.isEmpty())
            fields.insert(QStringLiteral("serialNumber"), serial);
        fields.insert(QStringLiteral("versionBefore"), record.versionBefore);
    }
    if (!record.filePath.isEmpty()) {
        fields.insert(QStringLiteral("updateFile"),
                      QVariantMap { { QStringLiteral("path"), record.filePath },
                                    { QStringLiteral("size"), record.fileSize },
                                    { QStringLiteral("sha256"), QString::fromLatin1(record.fileSha256) } });
    }
    if (!record.versionAfter.isEmpty())
        fields.insert(QStringLiteral("versionAfter"), record.versionAfter);
    if (record.attemptsUsed > 0)
        fields.insert(QStringLiteral("attempts"), record.attemptsUsed);
    fields.insert(QStringLiteral("seconds"), m_runClock.elapsed() / 1000.0);
    return fields;
}

void cBatchRun::writeLine(const QByteArray &line)
{
    m_out->write(line + '\n');
    if (auto *file = qobject_cast<QFile *>(m_out))
        file->flush();
}

void cBatchRun::writeJson(const QDateTime &when, const QString &event, const QVariantMap &fields)
{
    QJsonObject object = QJsonObject::fromVariantMap(fields);
    object.insert(QStringLiteral("time"), when.toString(Qt::ISODateWithMs));
    object.insert(QStringLiteral("event"), event);
    writeLine(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void cBatchRun::drawProgressBar(bool clear)
{
    if (!m_progress)
        return;
    if (clear) {
        if (m_barShown)
            m_progress->write("\r\033[K");
        m_barShown = false;
    } else if (m_phase == Phase::Transfer && m_lastPercent >= 0) {
        constexpr int width = 30;
        const int filled = m_lastPercent * width / 100;
        const qint64 sent = m_fileSize * m_lastPercent / 100;
        const qint64 elapsedMs = m_transferClock.elapsed();
        const QString left = m_lastPercent > 0 && m_lastPercent < 100
            ? clockText((elapsedMs * (100 - m_lastPercent) / m_lastPercent + 999) / 1000) + QStringLiteral(" left")
            : QString();
        const QString bar = QStringLiteral("\r\033[K[%1%2] %3 %  %4 of %5 bytes  %6")
                                .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
                                .arg(m_lastPercent, 3)
                                .arg(sent)
                                .arg(m_fileSize)
                                .arg(left);
        m_progress->write(bar.toLocal8Bit());
        m_barShown = true;
    }
    if (auto *file = qobject_cast<QFile *>(m_progress))
        file->flush();
}

#ifndef Q_OS_WIN

namespace {

int interruptPipe[2] = { -1, -1 };
// Signals the event loop has not taken up yet, and whether the run writes JSON.
std::atomic<int> unansweredSignals { 0 };
std::atomic<bool> jsonOutput { false };

void onInterruptSignal(int)
{
    // A request still waiting for the event loop means the loop is held up (a step that does not
    // return). While the run may be left, a second request then ends the process here, with only
    // async-signal-safe calls: what was printed so far is already flushed, line by line.
    if (unansweredSignals.load() > 0 && !runHeld.load()) {
        static const char notice[] = "quaymend: interrupted again while busy; ending now.\n";
        static const char result[] = "{\"event\":\"result\",\"exit\":130,\"outcome\":\"interrupted\"}\n";
        [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, notice, sizeof notice - 1);
        if (jsonOutput.load())
            written = ::write(STDOUT_FILENO, result, sizeof result - 1);
        ::_exit(ExitCode::Interrupted);
    }
    unansweredSignals.fetch_add(1);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(interruptPipe[1], &byte, 1);
}

} // namespace

#else

namespace {

// Set while the run takes requests; read on the handler's own thread. The lock keeps the run
// alive from the handler's reading of it to its queued call: runBatch clears it under the lock
// before the run goes away.
std::mutex interruptLock;
cBatchRun *interruptTarget = nullptr;

// Ctrl-C, Ctrl-Break and a closed console window reach the run through its event loop, as the
// signals do elsewhere. Windows calls this on a thread of its own.
BOOL WINAPI onConsoleControl(DWORD event)
{
    const std::lock_guard<std::mutex> hold(interruptLock);
    cBatchRun *run = interruptTarget;
    if (!run || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT))
        return FALSE;
    QMetaObject::invokeMethod(run, [run] { run->interrupt(); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

#endif

void quietDiagnostics()
{
    if (qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        return;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtCriticalMsg || type == QtFatalMsg) {
            const QByteArray line = "quaymend: " + message.toLocal8Bit() + '\n';
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        }
    });
}

int runBatch(const CommandLine &commandLine, const UpdateSource &source)
{
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    QFile progress;
#ifdef Q_OS_WIN
    const bool terminal = _isatty(_fileno(stderr));
#else
    const bool terminal = ::isatty(STDERR_FILENO);
#endif
    if (terminal)
        progress.open(stderr, QIODevice::WriteOnly);

    cBatchRun run({ commandLine.json, commandLine.noDriver, commandLine.timeoutSeconds, commandLine.noConfirm }, source, &out,
                  terminal ? &progress : nullptr);
    run.flow().bindToDevice(commandLine.serialNumber, commandLine.portName);

#ifndef Q_OS_WIN
    // Ctrl-C, a polite kill and a hang-up reach the run through its event loop, never in the middle of
    // a step.
    std::unique_ptr<QSocketNotifier> notifier;
    if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier = std::make_unique<QSocketNotifier>(interruptPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &run, [&run] {
            // One answer per signal: a second Ctrl-C while the run is held is refused again.
            char bytes[16];
            ssize_t got = 0;
            while ((got = ::read(interruptPipe[0], bytes, sizeof bytes)) > 0) {
                unansweredSignals.fetch_sub(int(got));
                for (ssize_t i = 0; i < got; ++i)
                    run.interrupt();
            }
        });
        jsonOutput = commandLine.json;
        struct sigaction action = {};
        action.sa_handler = onInterruptSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        // A closed terminal is one more request to stop, never a reason to die mid-transfer.
        ::sigaction(SIGHUP, &action, nullptr);
    }
    // A reader that goes away (| head, a closed terminal) must not kill the run mid-transfer:
    // what cannot be written any more is lost, the update goes on.
    ::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef Q_OS_WIN
    {
        const std::lock_guard<std::mutex> hold(interruptLock);
        interruptTarget = &run;
    }
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#endif
    const int exitCode = run.run();
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    {
        const std::lock_guard<std::mutex> hold(interruptLock);
        interruptTarget = nullptr;
    }
#endif
#ifndef Q_OS_WIN
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
#endif
    return exitCode;
}
