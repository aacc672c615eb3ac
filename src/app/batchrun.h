#pragma once

#include "app/commandline.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>

class QIODevice;
class Quaymend;

// An unattended run of the very same wizard: the dialog lives on whatever platform the
// application has (offscreen for a batch run), its prompts that offer "Start" or "Next..." are
// answered at once, and the run ends at the first page that would wait for a decision, pressing
// that page's button as a user would so that the update log ends as it does in the window. What
// happens is told on out: the update-log lines as written, or one JSON object a line.
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

    // Runs the wizard until its end; returns the exit code.
    int run();

    Quaymend &dialog() { return *m_dialog; }
    // "updated", "sent", "up-to-date", "no-update-file", "not-found", "connect-failed",
    // "update-failed", "not-confirmed", "port-error", "file-error", "timeout", "interrupted".
    QString outcome() const { return m_outcome; }

public slots:
    // Ctrl-C: ends the run unless a transfer or its confirmation is under way, which is never cut off.
    void interrupt();

signals:
    // Every update-log line, before the run acts on it.
    void lineLogged(const QByteArray &text);

private:
    enum class Phase { Detecting, Connecting, Transfer, Confirming, Done };
    enum class Press { Nothing, Next, Retry };

    void onLogLine(const QDateTime &when, const QString &timestamp, const QByteArray &text);
    void onProgress(int percent);
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
    std::unique_ptr<Quaymend> m_dialog;
    Phase m_phase = Phase::Detecting;
    int m_exitCode = -1;
    QString m_outcome;
    int m_lastPercent = -1;
    qint64 m_fileSize = 0;
    QElapsedTimer m_runClock;
    QElapsedTimer m_transferClock;
    bool m_barShown = false;
    bool m_deadlinePassed = false;
};
