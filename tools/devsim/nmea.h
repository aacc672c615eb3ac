#pragma once

#include <QByteArray>
#include <QString>

namespace nmea {

// XOR of every byte between the start character and '*'.
quint8 checksum(const QByteArray &body);

// start + body + '*' + two hex digits + CR LF.
QByteArray sentence(const QByteArray &body, char start = '$', bool lowerCaseHex = false);

// Splits "$body*HH" (line without CR LF). False with a reason when the frame or checksum is wrong.
bool parse(const QByteArray &line, QByteArray &body, QString &reason);

// What the program sends to ask for the application version.
QByteArray appverBody();

// The boot command, as the program must send it, without CR LF (checksum included).
QByteArray bootCommandLine();

} // namespace nmea
