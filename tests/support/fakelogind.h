#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <memory>
#include <vector>

class QProcess;

// A private message bus (its own dbus-daemon) with a stand-in for systemd-logind's Manager on it,
// and DBUS_SYSTEM_BUS_ADDRESS pointing this process and its children at that bus. Inhibit hands
// out one end of a pipe and keeps the other: an inhibitor is held while some copy of the handed-out
// end is open, exactly as with logind. The service answers on a thread of its own, so the program
// under test may call it blocking from the GUI thread.
class cFakeLogind
{
public:
    cFakeLogind();
    ~cFakeLogind();
    cFakeLogind(const cFakeLogind &) = delete;
    cFakeLogind &operator=(const cFakeLogind &) = delete;

    // Starts the bus and the service; false (with why) when dbus-daemon is missing or fails.
    bool start(QString &why);

    // Each Inhibit call so far, as "what|who|mode".
    QStringList calls() const;
    // How many inhibitors handed out are still held.
    int held() const;

private:
    class Service;
    std::unique_ptr<QProcess> m_daemon;
    QThread m_thread;
    Service *m_service = nullptr;
    QByteArray m_previousAddress;
    bool m_hadAddress = false;
};
