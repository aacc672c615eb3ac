#include "wizardharness.h"

#include "probe.h"

#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTextEdit>

namespace wizardtest {

namespace {

// What the state machine itself writes; everything else in the log belongs to the device link.
const QStringList ownLines = {
    QStringLiteral("Welcome screen"),
    QStringLiteral("Start"),
    QStringLiteral("Disconnect"),
    QStringLiteral("AIS driver install"),
    QStringLiteral("AIS driver install - successful"),
    QStringLiteral("AIS driver install - failed"),
    QStringLiteral("Connect"),
    QStringLiteral("Detecting AIS"),
    QStringLiteral("Detecting AIS - found"),
    QStringLiteral("Detecting AIS - up-to-date"),
    QStringLiteral("Detecting AIS - update required"),
    QStringLiteral("Detecting AIS - No update file"),
    QStringLiteral("Detecting AIS - not found"),
    QStringLiteral("Booting"),
    QStringLiteral("Connecting"),
    QStringLiteral("Connecting - connected"),
    QStringLiteral("Connecting - retry"),
    QStringLiteral("Connecting - failed"),
    QStringLiteral("Updating"),
    QStringLiteral("Updating - retry"),
    QStringLiteral("Updating - failed"),
    QStringLiteral("Updating - xmodem port error"),
    QStringLiteral("Updating - xmodem file error"),
    QStringLiteral("Updating - complete"),
    QStringLiteral("Confirming"),
    QStringLiteral("Confirming - no answer"),
    QStringLiteral("Complete"),
    QStringLiteral("Connect failed"),
    QStringLiteral("Driver install failed"),
    QStringLiteral("User retry"),
};

bool click(QPushButton *button)
{
    if (!button->isVisible() || !button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

} // namespace

QStringList linesOf(const QString &logText)
{
    static const QRegularExpression stamp(QStringLiteral("^.*? - \\d\\d:\\d\\d:\\d\\d\\.\\d{3} : "));
    QStringList lines = logText.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString &line : lines)
        line.remove(stamp);
    return lines;
}

QStringList logLines(Quaymend &dialog)
{
    return linesOf(dialog.flow().copyLog());
}

QStringList wizardLines(Quaymend &dialog, const QStringList &extra)
{
    return ownLinesOf(logLines(dialog), extra);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList ownLinesOf(const QStringList &lines, const QStringList &extra)
{
    QStringList kept;
    for (const QString &line : lines) {
        // The confirmation's outcome names the versions it met.
        if (ownLines.contains(line) || extra.contains(line) || line.startsWith(QLatin1String("Confirming - ")))
            kept << line;
    }
    return kept;
}

QString pageText(Quaymend &dialog)
{
    // The page markup keeps the blanks between its tags (white-space: pre-wrap); a reader does not
    // see them.
    QStringList lines;
    for (const QString &line : QuaymendProbe::ui(dialog).InfoText->toPlainText().split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    }
    return lines.join(QLatin1Char('\n'));
}

QString pageTitle(Quaymend &dialog)
{
    return pageText(dialog).section(QLatin1Char('\n'), 0, 0);
}

bool clickNext(Quaymend &dialog)
{
    return click(QuaymendProbe::ui(dialog).NextStepButton);
}

bool hasCloseButton(Quaymend &dialog)
{
    return dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint);
}

bool hasMinimiseButton(Quaymend &dialog)
{
    return dialog.windowFlags().testFlag(Qt::WindowMinimizeButtonHint);
}

QByteArray writeUpdateFile(const QString &path, int size)
{
    QByteArray data(size, '\0');
    QRandomGenerator random(size);
    for (char &byte : data)
        byte = char(random.bounded(256));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return data;
}

QString useEmptyPortsFile(const QString &directory)
{
    const QString path = directory + QStringLiteral("/no-ports.txt");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.close();
    qputenv("QUAYMEND_SIMULATED_PORTS", QFile::encodeName(path));
    return path;
}

QByteArray padToBlocks(const QByteArray &data)
{
    QByteArray padded = data;
    if (padded.size() % 1024)
        padded.append(1024 - padded.size() % 1024, '\x1A');
    return padded;
}

} // namespace wizardtest
