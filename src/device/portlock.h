#pragma once

#include <QString>
#include <QStringList>

// Serial ports that another program is using. On POSIX systems a program that opens a serial port
// leaves a lock file "LCK..<device name>" holding its process ID in the system's lock directory
// (the UUCP convention minicom, picocom, cu and gpsd follow). Qt writes such a file when it opens
// a port, but it takes over one whose writer is alive when the file is not in its own format, so
// the port is asked here first.

// Whether a live process other than this one holds the port named portName (as the enumeration
// names it: "ttyACM0" or a device path). lockDirectories default to the system's.
bool portHeldElsewhere(const QString &portName, const QStringList &lockDirectories = {});

// Removes the port's lock files that name no process at all (zero, negative, out of range, not a
// number): Qt never takes such a file over, and a port with one left behind could not be opened
// again. Files of a live or ended process are left for the check above and for Qt.
void removeUnreadableLockFiles(const QString &portName, const QStringList &lockDirectories = {});

// The names of the lock files that may stand for the port: "LCK..ttyACM0" for /dev/ttyACM0, and
// for a device elsewhere also the form Qt uses (the path below /dev with '/' as '_').
QStringList portLockNames(const QString &portName);
