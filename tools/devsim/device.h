#pragma once

#include "application.h"
#include "eventloop.h"

#include <QString>

#include <map>
#include <memory>
#include <utility>
#include <vector>

class cBootLoader;
class cGadget;
class cPort;
struct cOptions;

// The simulated bus: the transponder moving between application and boot loader, the extra
// equipment some tests need, and how the program learns what is plugged in: the ports file for
// pseudo-terminals, the kernel's own enumeration for USB gadgets.
//
// Applications and boot loaders are never destroyed before the simulator ends: they call back
// into the device from their own handlers, so a finished one is only closed, never freed.
class cDevice
{
public:
    cDevice(cEventLoop &loop, const cOptions &options);
    ~cDevice();

    bool start();
    void stop(); // every port gone from the ports file, or off the bus

    // Which firmware a port belongs to; on a USB bus each shows up as a device of its own.
    enum class ePortRole { Application, BootLoader };
    // A new port for the application or the boot loader, attached as the options say. Null on
    // failure (logged).
    std::shared_ptr<cPort> openPort(ePortRole role);

    // Bytes received that the program never sends, over every port of the run.
    qint64 &unexpectedTotal() { return m_unexpected; }

    // From the application on the boot command.
    void enterBootLoader(cApplication *application);
    // From the boot loader once the image is complete.
    void imageReceived();
    // From the boot loader when the vanish fault strikes: the transponder is gone for good.
    void vanish();
    // From the boot loader when the replug fault strikes: its port goes, and after a while the
    // same boot loader (fault counts and all) comes back on a new port.
    void replug(cBootLoader *bootLoader);

private:
    bool bringUpFirstPorts();
    cApplication *addApplication(cApplication::eRole role, const QString &version);
    bool bringUpApplication(const QString &version);
    bool bringUpBootLoaders();
    void closeDevicePorts();
    bool publish();
    void fail(const QString &why);

    cEventLoop &m_loop;
    const cOptions &m_options;
    qint64 m_unexpected = 0; // before the ports' owners, which count into it until they are gone
    std::vector<std::unique_ptr<cApplication>> m_applications;
    std::vector<std::unique_ptr<cBootLoader>> m_bootLoaders;
    std::vector<cApplication *> m_deviceApplications; // the transponder's, not the extra equipment
    // The other device's boot loader of the other-bootloader-first fault; it outlives the
    // transponder's restarts.
    std::unique_ptr<cBootLoader> m_otherBootLoader;
    struct tListed
    {
        std::shared_ptr<cPort> port;
        QString vendorId;
        QString serial;
    };
    std::vector<tListed> m_listed; // in ports file order, the other device's port always last
    std::vector<cEventLoop::tTimerId> m_timers;
    QString m_udc;
    std::map<ePortRole, std::shared_ptr<cGadget>> m_gadgets; // made at first use, kept for re-binding
    bool m_ready = false;
};
