#pragma once

#include "device/port.h"
#include "support/logsink.h"

#include <QByteArray>
#include <QString>

// Writes one byte per write and waits until the port has nothing left to write before the next.
void writeToPort(cPort &port, const QByteArray &bytes);

// Logs "Command: <sentence>" and writes the command sentence with CR LF. The port must be open.
void sendCommand(cPort &port, const QByteArray &text, const LogFn &log);

// Reads lines for up to 2000 ms until a PKVR reply with status 255 arrives (true, text = its
// field 5). Status 256 ends the wait with empty text; the boot loader's "UUUUUUUU" line sets
// "NOAPP" unless a reply follows. Logs "Response: <text>" in every case.
bool readResponse(cPort &port, QByteArray &text, const LogFn &log);

// One exchange on the named port: open, command, reply, close. Empty when the port does not open
// (nothing is logged then) or nothing usable came back.
QByteArray queryDevice(cPort &port, const QString &portName, const QByteArray &command, const LogFn &log);
