#pragma once

#include "eventloop.h"
#include "rxaudit.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class cDevice;
class cPort;
struct cOptions;

// The transponder's application firmware as seen on its serial port: NMEA-style lines in, version
// replies out, and the boot command that sends it into its boot loader. The same class plays the
// stand-ins for other equipment on the bus (a port that never answers, a foreign device).
class cApplication
{
public:
    enum class eRole { Device, Silent, Foreign };

    cApplication(cDevice &device, cEventLoop &loop, const cOptions &options, eRole role, QString version);
    ~cApplication();
    cApplication(const cApplication &) = delete;
    cApplication &operator=(const cApplication &) = delete;

    bool open();
    void close(); // port gone, pending replies dropped
    // Restarting: the port stays until close(), but nothing it receives is answered any more.
    void leave();
    std::shared_ptr<cPort> port() const { return m_port; }
    QString vendorId() const;

private:
    void onBytes(const QByteArray &bytes);
    void onLine(const QByteArray &line);
    void answerAppver();
    void sendLine(const QByteArray &sentence);
    void chatter(int turn);
    QString roleName() const;

    cDevice &m_device;
    cEventLoop &m_loop;
    const cOptions &m_options;
    const eRole m_role;
    const QString m_version;
    std::shared_ptr<cPort> m_port;
    QByteArray m_partialLine;
    cRxAudit m_audit;
    std::vector<cEventLoop::tTimerId> m_timers;
    cEventLoop::tTimerId m_chatterTimer = 0;
    bool m_leaving = false;
};
