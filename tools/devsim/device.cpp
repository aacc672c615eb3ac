#include "device.h"

#include "application.h"
#include "bootloader.h"
#include "log.h"
#include "options.h"
#include "ptyport.h"

#include <QSaveFile>

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
    publish();
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
    m_listed.emplace_back(application->port(), application->vendorId());
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
        m_listed.emplace_back(bootLoader->port(), QStringLiteral("3E71"));
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
    application->close();
    publish();
    if (m_options.has("no-bootloader")) {
        devLog(QStringLiteral("no boot loader (fault no-bootloader)"));
        return;
    }
    m_timers.push_back(m_loop.after(m_options.bootDelayMs, [this]() {
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
        m_listed.emplace_back(bootLoader->port(), QStringLiteral("3E71"));
        publish();
    }));
}

bool cDevice::publish()
{
    QByteArray content;
    QStringList described;
    for (auto it = m_listed.begin(); it != m_listed.end();) {
        if (!it->first->isOpen()) {
            it = m_listed.erase(it);
            continue;
        }
        const QString line = it->first->path() + QLatin1Char(' ') + it->second;
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
