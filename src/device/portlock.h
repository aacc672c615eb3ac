#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Serial ports that another program is using. On POSIX systems a program that opens a serial port
// leaves a lock file "LCK..<device name>" holding its process ID in the system's lock directory
// (the UUCP convention minicom, picocom, cu and gpsd follow). Qt writes such a file when it opens
// a port, but it takes over a live program's file when it cannot match it to a running program of
// the name it records (HDB UUCP's, which records none; any file of another user's process), or
// when it cannot read the file and it is older than 30 s (minicom's, the binary one). So the port
// is asked here first. Some programs take no lock at all: what has the port open counts as well.

struct ProcessInfo
{
    qint64 pid = 0; // 0: a lock file that names no process yet
    QString name; // empty where /proc does not show it
};

// The live process other than this one that one of the port's lock files names, as the
// enumeration names the port ("ttyACM0" or a device path); lockDirectories default to the system's.
// A file that names no process holds the port too while it is young: that is another program's
// lock between its creation and its write.
std::optional<ProcessInfo> portLockHolder(const QString &portName, const QStringList &lockDirectories = {});
bool portHeldElsewhere(const QString &portName, const QStringList &lockDirectories = {});

// Removes the port's lock files whose process has ended, and those that name no process once they
// are older than Qt's own limit for a lock file it cannot read; the next open would otherwise be
// refused by Qt or by the check above. The files of live processes stay.
void removeStaleLockFiles(const QString &portName, const QStringList &lockDirectories = {});

// The processes other than this one that have the port's device open, as far as /proc shows them.
// The process at the other end of a pseudo-terminal (a device simulator) is the device, not a user.
QList<ProcessInfo> processesHoldingPort(const QString &portName);

// The names of the lock files that may stand for the port: "LCK..ttyACM0" for /dev/ttyACM0, and
// for a device elsewhere also the form Qt uses (the path below /dev with '/' as '_'); for a link,
// those of the device it leads to as well.
QStringList portLockNames(const QString &portName);
