#include "support/keepawake.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace {

// How long logind may take to answer; the update does not wait longer for it.
constexpr int inhibitCallTimeoutMs = 2000;

} // namespace

cKeepAwake::~cKeepAwake()
{
    release();
}

bool cKeepAwake::acquire(std::string &why)
{
    if (m_held)
        return true;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        why = "no system bus";
        const QString error = bus.lastError().message();
        if (!error.isEmpty())
            why += " (" + error.toStdString() + ")";
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle:handle-lid-switch") << QStringLiteral("Quaymend")
         << QStringLiteral("Updating the AIS device's firmware") << QStringLiteral("block");
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, inhibitCallTimeoutMs);
    if (!reply.isValid()) {
        why = reply.error().name().toStdString();
        const QString message = reply.error().message();
        if (!message.isEmpty())
            why += ": " + message.toStdString();
        return false;
    }
    if (!reply.value().isValid()) {
        why = "logind gave no inhibitor";
        return false;
    }
    // The reply's descriptor closes with the reply; the inhibitor lasts as long as a copy is open.
    const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
        why = "could not keep the inhibitor's descriptor";
        return false;
    }
    m_handle = fd;
    m_held = true;
    return true;
}

void cKeepAwake::release()
{
    if (!m_held)
        return;
    ::close(int(m_handle));
    m_handle = -1;
    m_held = false;
}
