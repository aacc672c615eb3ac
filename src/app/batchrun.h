#pragma once

#include "app/commandline.h"
#include "wizard/updateflow.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QIODevice;

// An unattended run: a view of the very same flow as the window, without any widget. The pages
// that offer "Start" or "Next..." are answered at once, and the run ends on the first ending,
// pressing that page's button as a user would so that the update log ends as it does in the
// window. What happens is told on out: the update-log lines as written, or one JSON object a line.
class QEventLoop;

class cBatchRun : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        bool json = false;
        bool noDriver = false;
        int timeoutSeconds = 0; // 0: no bound; a detection give-up then ends the run
        bool noConfirm = false; // end at the end of the transfer, as "sent", without the device's word
    };

    // progress: where a terminal's one-line progress bar goes, or nullptr for none.
    cBatchRun(const Options &options, const UpdateSource &source, QIODevice *out, QIODevice *progress = nullptr);
    ~cBatchRun() override;

    // Runs the flow until its end; returns the exit code.
    int run();

    cUpdateFlow &flow() { return m_flow; }
    // "updated", "sent", "up-to-date", "no-update-file", "not-found", "connect-failed",
    // "update-failed", "not-confirmed", "port-error", "file-error", "timeout", "interrupted".
    QString outcome() const { return m_outcome; }

public slots:
    // Ctrl-C: ends the run where the window could be closed; over the span where it refuses (from
    // the boot command until the device has reported back), as soon as the flow allows.
    void interrupt();

private:
    enum class Phase { Detecting, Connecting, Transfer, Confirming, Done };
    enum class Press { Nothing, Next, Retry };

    void onLogLine(const QDateTime &when, const QString &timestamp, const QByteArray &text);
    void onPage(cUpdateFlow::Page page);
    void onEnding(cUpdateFlow::Ending ending);
    void onProgress(cUpdateFlow::Progress progress, int percent);
    void onClosable(bool closable);
    void act(Press press);
    void finish(int exitCode, const QString &outcome, Press press);
    void checkDeadline();
    void writeLine(const QByteArray &line);
    void writeJson(const QDateTime &when, const QString &event, const QVariantMap &fields);
    void drawProgressBar(bool clear);
    void tellUser(const QByteArray &text);
    QVariantMap resultFields() const;

    Options m_options;
    QIODevice *m_out;
    QIODevice *m_progress;
    Phase m_phase = Phase::Detecting;
    int m_exitCode = -1;
    QEventLoop *m_loop = nullptr; // while run() waits for the result
    QString m_outcome;
    int m_lastPercent = -1;
    qint64 m_fileSize = 0;
    QElapsedTimer m_runClock;
    QElapsedTimer m_transferClock;
    bool m_barShown = false;
    bool m_deadlinePassed = false;
    // A Ctrl-C came while the run could not be left.
    bool m_leaveAsked = false;
    // Last: it is destroyed first, waiting for a transfer it still runs (the run never leaves
    // during one), while everything its signals reach is still there.
    cUpdateFlow m_flow;
};
