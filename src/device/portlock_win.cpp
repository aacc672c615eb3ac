#include "device/portlock.h"

// Windows opens a serial port for one program at a time by itself: the second open fails.
std::optional<ProcessInfo> portLockHolder(const QString &, const QStringList &)
{
    return std::nullopt;
}

bool portHeldElsewhere(const QString &, const QStringList &)
{
    return false;
}

void removeStaleLockFiles(const QString &, const QStringList &)
{
}

QList<ProcessInfo> processesHoldingPort(const QString &)
{
    return {};
}

QStringList portLockNames(const QString &)
{
    return {};
}
