#pragma once

#include "device/port.h"
#include "support/logsink.h"

#include <QString>

#include <functional>

// The boot-mode sentence, stored whole with its checksum.
extern const char bootCommand[];

// Pauses of the boot switch and the handshake; tests replace it to run without real sleeping.
using SleepFn = std::function<void(int ms)>;
void sleepMs(int ms);

// Sends bootCommand (logged as "Boot command: <sentence>") on the application port, trying up to
// six times a second apart to open it. Reads no answer and reports nothing.
void usbBoot(cPort &port, const QString &applicationPortName, const LogFn &log,
             const SleepFn &sleep = sleepMs);

// On the boot loader's port (already named): waits for its "U", echoes one "U" and waits for the
// XMODEM start "C", skipping further "U". Every byte goes to the log as "Rx: x" or "Tx: x".
// True only when the "C" came; the port is closed on return.
bool usbBootHandshake(cPort &port, const LogFn &log, const SleepFn &sleep = sleepMs);
