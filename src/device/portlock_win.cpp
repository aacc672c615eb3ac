#include "device/portlock.h"

// Windows opens a serial port for one program at a time by itself: the second open fails.
bool portHeldElsewhere(const QString &, const QStringList &)
{
    return false;
}

void removeUnreadableLockFiles(const QString &, const QStringList &)
{
}

QStringList portLockNames(const QString &)
{
    return {};
}
