#include "fakelogind.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusUnixFileDescriptor>
#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QProcess>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const char kAddressEnv[] = "DBUS_SYSTEM_BUS_ADDRESS";
const char kConnectionName[] = "fakelogind";

} // namespace

class cFakeLogind::Service : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~Service() override
    {
        for (int fd : m_kept)
            ::close(fd);
    }

    QStringList calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

    int held() const
    {
        QMutexLocker lock(&m_mutex);
        int count = 0;
        for (int fd : m_kept) {
            // The read end reports a hang-up once every copy of the write end is closed.
            pollfd entry { fd, POLLIN, 0 };
            if (::poll(&entry, 1, 0) == 0)
                ++count;
        }
        return count;
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        Q_UNUSED(why);
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        QMutexLocker lock(&m_mutex);
        m_calls << what + QLatin1Char('|') + who + QLatin1Char('|') + mode;
        m_kept.push_back(ends[0]);
        // The descriptor object keeps a copy of its own; ours goes, so only the caller holds it.
        QDBusUnixFileDescriptor handedOut(ends[1]);
        ::close(ends[1]);
        return handedOut;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_calls;
    std::vector<int> m_kept;
};

cFakeLogind::cFakeLogind() = default;

cFakeLogind::~cFakeLogind()
{
    if (m_service) {
        QDBusConnection::disconnectFromBus(QLatin1String(kConnectionName));
        m_service->deleteLater();
        m_thread.quit();
        m_thread.wait(5000);
    }
    if (m_daemon) {
        m_daemon->kill();
        m_daemon->waitForFinished(5000);
    }
    if (m_hadAddress)
        qputenv(kAddressEnv, m_previousAddress);
    else
        qunsetenv(kAddressEnv);
}

bool cFakeLogind::start(QString &why)
{
    m_daemon = std::make_unique<QProcess>();
    m_daemon->start(QStringLiteral("dbus-daemon"),
                    { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
    if (!m_daemon->waitForStarted(5000)) {
        why = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    QByteArray address;
    const QDeadlineTimer deadline(5000);
    while (!address.contains('\n') && !deadline.hasExpired() && m_daemon->waitForReadyRead(int(deadline.remainingTime())))
        address += m_daemon->readAllStandardOutput();
    address = address.trimmed();
    if (address.isEmpty()) {
        why = QStringLiteral("dbus-daemon gave no address");
        return false;
    }
    m_hadAddress = qEnvironmentVariableIsSet(kAddressEnv);
    m_previousAddress = qgetenv(kAddressEnv);
    qputenv(kAddressEnv, address);

    m_service = new Service;
    m_service->moveToThread(&m_thread);
    m_thread.start();
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLatin1(address), QLatin1String(kConnectionName));
    if (!bus.isConnected() || !bus.registerService(QStringLiteral("org.freedesktop.login1"))
        || !bus.registerObject(QStringLiteral("/org/freedesktop/login1"), m_service, QDBusConnection::ExportAllSlots)) {
        why = QStringLiteral("could not serve org.freedesktop.login1: ") + bus.lastError().message();
        return false;
    }
    return true;
}

QStringList cFakeLogind::calls() const
{
    return m_service ? m_service->calls() : QStringList();
}

int cFakeLogind::held() const
{
    return m_service ? m_service->held() : 0;
}

#include "fakelogind.moc"
