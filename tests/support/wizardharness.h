#pragma once

#include "app/quaymend.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Helpers for driving the whole wizard in a test: what the page on screen says, which lines the
// wizard wrote to the update log, clicks on prompt pages.
namespace wizardtest {

// Every line of an update log, timestamps stripped; and those of the dialog's run.
QStringList linesOf(const QString &logText);
QStringList logLines(Quaymend &dialog);

// The lines the state machine writes itself, in order, plus any line that equals one of extra
// (the device's reply and the update version). The device link's lines are left out.
QStringList wizardLines(Quaymend &dialog, const QStringList &extra = {});

// The lines of an update log (timestamps stripped) that the state machine writes itself.
QStringList ownLinesOf(const QStringList &lines, const QStringList &extra = {});

// The whole content of a file; empty when it cannot be read.
QByteArray readFile(const QString &path);

// The page as the user reads it, one trimmed line per paragraph: the title is the first.
QString pageTitle(Quaymend &dialog);
QString pageText(Quaymend &dialog);

// Clicks NextStepButton like a user would. False when the button is not on screen (a busy page
// has none), so a test cannot click through a page it did not expect.
bool clickNext(Quaymend &dialog);

// Whether the title bar offers the close and minimise buttons.
bool hasCloseButton(Quaymend &dialog);
bool hasMinimiseButton(Quaymend &dialog);

// A file of size bytes of varied data, written to path.
QByteArray writeUpdateFile(const QString &path, int size);

// An empty ports file, for runs without any device; returns its path and sets the variable the
// port enumeration reads.
QString useEmptyPortsFile(const QString &directory);

// data padded with 0x1A to whole 1024-byte blocks, as the receiver stores it.
QByteArray padToBlocks(const QByteArray &data);

} // namespace wizardtest
