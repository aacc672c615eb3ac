#pragma once

#include <QByteArray>
#include <QString>

// One line per event on stderr, always "devsim: " first. Tests wait for these lines, so their wording
// is part of the simulator's interface (see the list in options.cpp, printed by --help).
void devLog(const QString &text);

// Bytes as readable text for the log: printable ASCII as is, everything else as \xNN, cut at maxBytes.
QString printable(const QByteArray &bytes, int maxBytes = 160);

// Two upper-case hex digits.
QString hexByte(unsigned int byte);
