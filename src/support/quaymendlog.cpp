#include "app/quaymend.h"
#include "device/preflight.h"
#include "support/trace.h"
#include "support/updatelog.h"

#include <QDateTime>

// The update log: one line per call, appended to the log file (opened and closed per line, so the
// file holds every line even if the program is killed) and to logText for "Copy Log to
// Clipboard". A line the file refuses still reaches logText.

namespace {

Quaymend::LogListener &logListener()
{
    static Quaymend::LogListener listener;
    return listener;
}

} // namespace

void Quaymend::setLogListener(LogListener listener)
{
    logListener() = std::move(listener);
}

void Quaymend::log(const QByteArray &text)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString timestamp = logTimestamp(now);
    appendLineToFile(updateLogPath(), timestamp.toUtf8() + text);
    logText += timestamp + QString::fromUtf8(text) + QLatin1Char('\n');
    QM_TRACE("Quaymend::log") << QLatin1Char('"') + timestamp + QLatin1Char('"') << text;
    if (logListener())
        logListener()(now, timestamp, text);
}

void Quaymend::logTagged(const QByteArray &tag, const QByteArray &text)
{
    log(logTaggedText(tag, text));
}

void Quaymend::logByte(const QByteArray &tag, quint8 byte)
{
    log(logByteText(tag, byte));
}

void Quaymend::logPreflight()
{
    const std::unique_ptr<cSystemView> system = makeSystemView();
    for (const QString &line : runPreflight(*system, { updateDirectory, updateFileOnly }).lines())
        log(line.toUtf8());
}
