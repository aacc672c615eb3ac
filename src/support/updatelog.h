#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

// Widget-free pieces of the update log; the dialog's log operations put them together.

// "dd MMM yyyy - hh:mm:ss.zzz : " with the month name of the given locale, e.g.
// "01 Feb 2026 - 09:05:03.007 : ".
QString logTimestamp(const QDateTime &when, const QLocale &locale = QLocale::system());

// Where every run appends its lines: "quaymendlog.txt" in the user's temporary directory. Empty
// when that directory is missing or no directory: the lines then reach no file at all.
QString updateLogPath();

// "tag: text".
QByteArray logTaggedText(const QByteArray &tag, const QByteArray &text);

// "U" for a printable byte, "0x15" (lower-case hex, no leading zeros) otherwise.
QByteArray byteText(quint8 byte);

// "tag: U" for a printable byte, "tag: 0x15" (lower-case hex, no leading zeros) otherwise.
QByteArray logByteText(const QByteArray &tag, quint8 byte);

// Appends line and the platform's line end to the file at path, opening and closing it around
// the write. The log lives under a fixed name in a directory everyone can write to, so on POSIX
// the file is only written when it is a regular file of this user with no other name: a symlink,
// FIFO or hard link planted there by someone else is left alone. Returns whether the whole line
// was written; callers keep the line elsewhere either way.
bool appendLineToFile(const QString &path, const QByteArray &line);
