#include "device/portlock.h"

// Windows opens a serial port for one program at a time by itself: the second open fails.
bool portHeldElsewhere(const QString &, const QStringList &)
{
    return false;
}

QStringList portLockNames(const QString &)
{
    return {};
}
