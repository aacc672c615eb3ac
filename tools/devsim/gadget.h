#pragma once

#include "port.h"

#include <QString>

#include <memory>

// One USB device on a gadget controller (UDC), made through configfs: the transponder's vendor ID,
// a product ID of its own, strings, and one CDC ACM function. The program, on the host side of the
// bus, finds it through the kernel's cdc_acm as /dev/ttyACM<n>; the simulator speaks through the
// function's /dev/ttyGS<n>.
class cGadget
{
public:
    struct sIdentity
    {
        quint16 productId = 0;
        QString product;
        QString serial; // empty: the device has no serial number string at all
    };

    // Made under /sys/kernel/config/usb_gadget/<name>, not yet bound. Null on failure (logged).
    static std::shared_ptr<cGadget> create(const QString &name, const sIdentity &identity, const QString &udc);
    ~cGadget(); // unbound and removed; its tty must be closed by then, or the kernel waits for it
    cGadget(const cGadget &) = delete;
    cGadget &operator=(const cGadget &) = delete;

    QString name() const { return m_name; }
    QString udc() const { return m_udc; }
    QString ttyPath() const { return m_tty; }
    const sIdentity &identity() const { return m_identity; }

    bool bind(); // on the bus: the host enumerates it
    void unbind(); // off the bus, as if unplugged
    // Unbound and taken out of configfs; again does nothing. Left in place, with a warning, while
    // its tty is open: the kernel would block removing the function until it is closed.
    void remove();

    // The host's tty for this device while bound, when the host is this machine and the UDC tells
    // which host controller it is wired to (dummy_hcd); empty otherwise or until it appears.
    QString hostTty() const;

    // A UDC for this simulator: wanted if given, else the first one no gadget is bound to. Held until
    // the process ends, so that two simulators started together never take the same one. Empty on
    // failure, with why.
    static QString claimUdc(const QString &wanted, QString &why);

private:
    friend class cGadgetPort; // counts the opens of the tty

    cGadget(QString name, sIdentity identity, QString udc);
    bool build();

    QString m_name;
    sIdentity m_identity;
    QString m_udc;
    QString m_dir;
    QString m_tty;
    int m_ttyOpens = 0;
    bool m_bound = false;
    bool m_removed = false;
};

// The device's end of a gadget's ACM function, bound to its UDC for as long as the port is open.
class cGadgetPort : public cPort
{
public:
    // Opens the gadget's tty, then binds the gadget. Null on failure (logged).
    static std::shared_ptr<cGadgetPort> create(cEventLoop &loop, qint64 bytesPerSecond,
                                               std::shared_ptr<cGadget> gadget);
    ~cGadgetPort() override;

    // Unbinds the gadget first: the host sees the device leave the bus.
    void close() override;

private:
    cGadgetPort(cEventLoop &loop, qint64 bytesPerSecond, std::shared_ptr<cGadget> gadget);
    bool open();
    void hungUp() override;
    void lookForHostTty(int triesLeft);

    cEventLoop &m_loop;
    std::shared_ptr<cGadget> m_gadget;
    cEventLoop::tTimerId m_hostTimer = 0;
};
