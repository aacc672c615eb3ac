#include "device.h"

#include "application.h"
#include "bootloader.h"
#include "gadget.h"
#include "log.h"
#include "options.h"
#include "ptyport.h"

#include <QSaveFile>

#include <algorithm>
#include <unistd.h>

namespace {

// The application and the boot loader are two USB devices of one vendor, told apart by product.
constexpr quint16 kApplicationProductId = 0x0001;
constexpr quint16 kBootLoaderProductId = 0x0002;

} // namespace

cDevice::cDevice(cEventLoop &loop, const cOptions &options)
    : m_loop(loop)
    , m_options(options)
{
}

cDevice::~cDevice()
{
    for (const auto id : m_timers)
        m_loop.cancel(id);
}

bool cDevice::start()
{
    if (m_options.usbGadget) {
        QString why;
        m_udc = cGadget::claimUdc(m_options.udc, why);
        if (m_udc.isEmpty()) {
            devLog(QStringLiteral("error: %1").arg(why));
            return false;
        }
        if (!m_options.portsFile.isEmpty())
            devLog(QStringLiteral("warning: no ports file with --usb-gadget, %1 is not written").arg(m_options.portsFile));
    }
    if (m_options.startDelayMs > 0) {
        // An empty list first, so the program can scan before the transponder is plugged in.
        if (!publish())
            return false;
        m_timers.push_back(m_loop.after(m_options.startDelayMs, [this]() {
            if (!bringUpFirstPorts())
                fail(QStringLiteral("could not open the first ports"));
            else
                publish();
        }));
        return true;
    }
    return bringUpFirstPorts() && publish();
}

void cDevice::stop()
{
    for (const auto id : m_timers)
        m_loop.cancel(id);
    m_timers.clear();
    for (auto &application : m_applications)
        application->close();
    for (auto &bootLoader : m_bootLoaders)
        bootLoader->close();
    if (m_otherBootLoader)
        m_otherBootLoader->close();
    publish();
    // Only now that every port's tty is closed: the kernel would wait for them.
    for (auto &[role, gadget] : m_gadgets)
        gadget->remove();
    devLog(QStringLiteral("unexpected bytes %1").arg(m_unexpected));
}

std::shared_ptr<cPort> cDevice::openPort(ePortRole role)
{
    if (!m_options.usbGadget)
        return cPtyPort::create(m_loop, m_options.linkSpeed);
    std::shared_ptr<cGadget> &gadget = m_gadgets[role];
    if (!gadget) {
        const bool application = role == ePortRole::Application;
        cGadget::sIdentity identity;
        identity.productId = application ? kApplicationProductId : kBootLoaderProductId;
        identity.product = application ? QStringLiteral("AIS transponder (simulated)")
                                       : QStringLiteral("AIS transponder boot loader (simulated)");
        identity.serial = m_options.serial;
        const QString name = QStringLiteral("quaymend-devsim-%1-%2")
                                 .arg(::getpid())
                                 .arg(application ? QStringLiteral("app") : QStringLiteral("boot"));
        gadget = cGadget::create(name, identity, m_udc);
        if (!gadget)
            return nullptr;
    }
    return cGadgetPort::create(m_loop, m_options.linkSpeed, gadget);
}

void cDevice::fail(const QString &why)
{
    devLog(QStringLiteral("error: %1").arg(why));
    m_loop.quit(1);
}

bool cDevice::bringUpFirstPorts()
{
    // Listing order matters: the program must not simply take the first port that answers.
    if (m_options.foreignPort && !addApplication(cApplication::eRole::Foreign, m_options.version))
        return false;
    if (m_options.silentPort && !addApplication(cApplication::eRole::Silent, m_options.version))
        return false;
    return m_options.noApp ? bringUpBootLoaders() : bringUpApplication(m_options.version);
}

cApplication *cDevice::addApplication(cApplication::eRole role, const QString &version)
{
    auto application = std::make_unique<cApplication>(*this, m_loop, m_options, role, version);
    if (!application->open())
        return nullptr;
    // Other equipment on the bus is not the transponder and does not carry its serial number.
    m_listed.push_back({ application->port(), application->vendorId(),
                         role == cApplication::eRole::Device ? m_options.serial : QString() });
    m_applications.push_back(std::move(application));
    return m_applications.back().get();
}

bool cDevice::bringUpApplication(const QString &version)
{
    cApplication *application = addApplication(cApplication::eRole::Device, version);
    if (!application)
        return false;
    m_deviceApplications.push_back(application);
    return true;
}

bool cDevice::bringUpBootLoaders()
{
    std::vector<cBootLoader::eRole> roles;
    if (m_options.has("two-bootloaders"))
        roles.push_back(cBootLoader::eRole::Silent);
    roles.push_back(cBootLoader::eRole::Device);
    for (const auto role : roles) {
        auto bootLoader = std::make_unique<cBootLoader>(*this, m_loop, m_options, role);
        if (!bootLoader->open())
            return false;
        m_listed.push_back({ bootLoader->port(), QStringLiteral("3E71"), m_options.serial });
        m_bootLoaders.push_back(std::move(bootLoader));
    }
    return true;
}

void cDevice::closeDevicePorts()
{
    for (cApplication *application : m_deviceApplications)
        application->close();
    for (auto &bootLoader : m_bootLoaders)
        bootLoader->close();
}

void cDevice::enterBootLoader(cApplication *application)
{
    if (m_options.teardownDelayMs > 0) {
        // A device that takes its time to leave: its port stays listed, and silent, meanwhile.
        application->leave();
        devLog(QStringLiteral("application port leaves in %1 ms (teardown-delay)").arg(m_options.teardownDelayMs));
        m_timers.push_back(m_loop.after(m_options.teardownDelayMs, [this, application]() {
            application->close();
            publish();
        }));
    } else {
        application->close();
        publish();
    }
    if (m_options.has("other-bootloader-first") && !m_otherBootLoader) {
        // A second device, already waiting in its boot loader, shows up before this one's.
        m_otherBootLoader = std::make_unique<cBootLoader>(*this, m_loop, m_options, cBootLoader::eRole::Other);
        if (!m_otherBootLoader->open()) {
            fail(QStringLiteral("could not open the other device's boot loader port"));
            return;
        }
        const QString serial = m_options.serial.isEmpty() ? QStringLiteral("OTHER") : QStringLiteral("OTHER-") + m_options.serial;
        m_listed.push_back({ m_otherBootLoader->port(), QStringLiteral("3E71"), serial });
        publish();
    }
    if (m_options.has("no-bootloader")) {
        devLog(QStringLiteral("no boot loader (fault no-bootloader)"));
        return;
    }
    // One device: its boot loader starts once the application has left the bus (on a USB gadget
    // the two cannot even be bound at once).
    m_timers.push_back(m_loop.after(m_options.teardownDelayMs + m_options.bootDelayMs, [this]() {
        if (!bringUpBootLoaders())
            fail(QStringLiteral("could not open the boot loader port"));
        else
            publish();
    }));
}

void cDevice::imageReceived()
{
    if (m_options.noRestart) {
        devLog(QStringLiteral("staying in boot loader (no-restart)"));
        return;
    }
    m_timers.push_back(m_loop.after(m_options.restartDelayMs, [this]() {
        for (auto &bootLoader : m_bootLoaders)
            bootLoader->close();
        publish();
        devLog(QStringLiteral("restarted into application"));
        if (!bringUpApplication(m_options.versionAfterUpdate()))
            fail(QStringLiteral("could not open the application port"));
        else
            publish();
    }));
}

void cDevice::vanish()
{
    for (const auto id : m_timers)
        m_loop.cancel(id);
    m_timers.clear();
    closeDevicePorts();
    publish();
}

void cDevice::replug(cBootLoader *bootLoader)
{
    bootLoader->close();
    publish();
    m_timers.push_back(m_loop.after(m_options.replugDelayMs, [this, bootLoader]() {
        if (!bootLoader->open()) {
            fail(QStringLiteral("could not open the replugged boot loader port"));
            return;
        }
        devLog(QStringLiteral("device replugged"));
        m_listed.push_back({ bootLoader->port(), QStringLiteral("3E71"), m_options.serial });
        publish();
    }));
}

bool cDevice::publish()
{
    if (m_options.usbGadget) {
        // The program finds gadgets as it finds any USB device; there is nothing to publish.
        if (!m_ready) {
            m_ready = true;
            devLog(QStringLiteral("ready"));
        }
        return true;
    }
    QByteArray content;
    QStringList described;
    // The other device's boot loader is listed last, where a scan that takes the last boot loader
    // it sees would take it.
    if (m_otherBootLoader) {
        const auto other = std::find_if(m_listed.begin(), m_listed.end(),
                                        [this](const tListed &listed) { return listed.port == m_otherBootLoader->port(); });
        if (other != m_listed.end())
            std::rotate(other, other + 1, m_listed.end());
    }
    for (auto it = m_listed.begin(); it != m_listed.end();) {
        if (!it->port->isOpen()) {
            it = m_listed.erase(it);
            continue;
        }
        QString line = it->port->path() + QLatin1Char(' ') + it->vendorId;
        if (!it->serial.isEmpty())
            line += QLatin1Char(' ') + it->serial;
        content += line.toLocal8Bit() + '\n';
        described << line;
        ++it;
    }
    // Written aside and renamed over: the program re-reads the file at every scan and must never
    // see it half written.
    QSaveFile file(m_options.portsFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        devLog(QStringLiteral("error: could not write ports file %1: %2").arg(m_options.portsFile, file.errorString()));
        return false;
    }
    devLog(QStringLiteral("ports file: %1")
               .arg(described.isEmpty() ? QStringLiteral("(empty)") : described.join(QStringLiteral(", "))));
    if (!m_ready) {
        m_ready = true;
        devLog(QStringLiteral("ready"));
    }
    return true;
}
