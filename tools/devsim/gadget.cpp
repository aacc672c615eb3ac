#include "gadget.h"

#include "log.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kGadgetRoot = QStringLiteral("/sys/kernel/config/usb_gadget");
const QString kUdcClass = QStringLiteral("/sys/class/udc");
const QString kAcmInstance = QStringLiteral("acm.serial");
const QString kConfig = QStringLiteral("configs/c.1");
const QString kLanguage = QStringLiteral("strings/0x409");
constexpr quint16 kVendorId = 0x3E71;
const QString kManufacturer = QStringLiteral("Quaymend test");
// Held by the simulator that uses the UDC of that name.
const QString kUdcClaimPrefix = QStringLiteral("quaymend-devsim-udc:");
// The host's cdc_acm names its tty a moment after enumeration; under emulation that moment is long.
constexpr int kHostTtyPollMs = 100;
constexpr int kHostTtyPolls = 100;

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// configfs attributes take one write each; a short or failed write leaves the old value.
bool writeAttribute(const QString &path, const QByteArray &value)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        devLog(QStringLiteral("error: could not open %1: %2").arg(path, errnoText()));
        return false;
    }
    const ssize_t written = ::write(fd, value.constData(), static_cast<size_t>(value.size()));
    const QString why = errnoText();
    ::close(fd);
    if (written != value.size()) {
        devLog(QStringLiteral("error: could not write \"%1\" to %2: %3").arg(QString::fromUtf8(value.trimmed()), path, why));
        return false;
    }
    return true;
}

QByteArray readAttribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().trimmed();
}

bool makeDir(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0755) == 0)
        return true;
    devLog(QStringLiteral("error: could not make %1: %2").arg(path, errnoText()));
    return false;
}

// A name only one process can hold; the kernel lets it go when the process ends, however it ends.
bool holdAbstractName(const QString &name)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = name.toUtf8().left(static_cast<int>(sizeof address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, bytes.constData(), static_cast<size_t>(bytes.size()));
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(bytes.size()));
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
        ::close(fd);
        return false;
    }
    return true; // the descriptor stays open until the process ends
}

// dummy_udc.10 after dummy_udc.9.
bool naturalLess(const QString &a, const QString &b)
{
    const qsizetype dotA = a.lastIndexOf(QLatin1Char('.'));
    const qsizetype dotB = b.lastIndexOf(QLatin1Char('.'));
    bool okA = false;
    bool okB = false;
    const int numberA = a.mid(dotA + 1).toInt(&okA);
    const int numberB = b.mid(dotB + 1).toInt(&okB);
    if (okA && okB && a.left(dotA) == b.left(dotB))
        return numberA < numberB;
    return a < b;
}

} // namespace

QString cGadget::claimUdc(const QString &wanted, QString &why)
{
    if (!QDir(kGadgetRoot).exists()) {
        why = QStringLiteral("no %1 (configfs mounted? libcomposite loaded?)").arg(kGadgetRoot);
        return {};
    }
    QStringList udcs = QDir(kUdcClass).entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
    std::sort(udcs.begin(), udcs.end(), naturalLess);
    if (udcs.isEmpty()) {
        why = QStringLiteral("no USB device controller in %1 (dummy_hcd loaded?)").arg(kUdcClass);
        return {};
    }
    if (!wanted.isEmpty()) {
        if (!udcs.contains(wanted)) {
            why = QStringLiteral("no UDC %1; there are: %2").arg(wanted, udcs.join(QStringLiteral(", ")));
            return {};
        }
        if (!holdAbstractName(kUdcClaimPrefix + wanted)) {
            why = QStringLiteral("UDC %1 is taken by another simulator").arg(wanted);
            return {};
        }
        return wanted;
    }
    QStringList taken;
    for (const QString &gadget : QDir(kGadgetRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        taken << QString::fromUtf8(readAttribute(kGadgetRoot + QLatin1Char('/') + gadget + QStringLiteral("/UDC")));
    for (const QString &udc : std::as_const(udcs)) {
        if (taken.contains(udc) || !readAttribute(kUdcClass + QLatin1Char('/') + udc + QStringLiteral("/function")).isEmpty())
            continue;
        if (holdAbstractName(kUdcClaimPrefix + udc))
            return udc;
    }
    why = QStringLiteral("every UDC is in use (%1)").arg(udcs.join(QStringLiteral(", ")));
    return {};
}

std::shared_ptr<cGadget> cGadget::create(const QString &name, const sIdentity &identity, const QString &udc)
{
    std::shared_ptr<cGadget> gadget(new cGadget(name, identity, udc));
    if (!gadget->build())
        return nullptr; // what was made is removed by the destructor
    return gadget;
}

cGadget::cGadget(QString name, sIdentity identity, QString udc)
    : m_name(std::move(name))
    , m_identity(std::move(identity))
    , m_udc(std::move(udc))
    , m_dir(kGadgetRoot + QLatin1Char('/') + m_name)
{
}

cGadget::~cGadget()
{
    remove();
}

bool cGadget::build()
{
    const QString function = m_dir + QStringLiteral("/functions/") + kAcmInstance;
    const QString hex = QStringLiteral("0x%1");
    if (!makeDir(m_dir)
        || !writeAttribute(m_dir + QStringLiteral("/idVendor"), hex.arg(kVendorId, 4, 16, QLatin1Char('0')).toLatin1())
        || !writeAttribute(m_dir + QStringLiteral("/idProduct"),
                           hex.arg(m_identity.productId, 4, 16, QLatin1Char('0')).toLatin1())
        || !writeAttribute(m_dir + QStringLiteral("/bcdUSB"), "0x0200")
        || !makeDir(m_dir + QLatin1Char('/') + kLanguage)
        || !writeAttribute(m_dir + QLatin1Char('/') + kLanguage + QStringLiteral("/manufacturer"), kManufacturer.toUtf8())
        || !writeAttribute(m_dir + QLatin1Char('/') + kLanguage + QStringLiteral("/product"), m_identity.product.toUtf8()))
        return false;
    if (!m_identity.serial.isEmpty()
        && !writeAttribute(m_dir + QLatin1Char('/') + kLanguage + QStringLiteral("/serialnumber"), m_identity.serial.toUtf8()))
        return false;
    if (!makeDir(function) || !makeDir(m_dir + QLatin1Char('/') + kConfig)
        || !writeAttribute(m_dir + QLatin1Char('/') + kConfig + QStringLiteral("/MaxPower"), "100"))
        return false;
    const QString link = m_dir + QLatin1Char('/') + kConfig + QLatin1Char('/') + kAcmInstance;
    if (::symlink(QFile::encodeName(function).constData(), QFile::encodeName(link).constData()) != 0) {
        devLog(QStringLiteral("error: could not link %1 into %2: %3").arg(function, link, errnoText()));
        return false;
    }
    bool ok = false;
    const int portNumber = readAttribute(function + QStringLiteral("/port_num")).toInt(&ok);
    if (!ok) {
        devLog(QStringLiteral("error: no port number in %1/port_num").arg(function));
        return false;
    }
    m_tty = QStringLiteral("/dev/ttyGS%1").arg(portNumber);
    return true;
}

void cGadget::remove()
{
    unbind();
    if (m_removed)
        return;
    if (m_ttyOpens > 0) {
        devLog(QStringLiteral("warning: gadget %1 left in place, its tty %2 is still open").arg(m_name, m_tty));
        return;
    }
    m_removed = true;
    // Backwards through build(); whatever was never made simply fails to go.
    const QByteArray dir = QFile::encodeName(m_dir);
    ::unlink((dir + '/' + kConfig.toLatin1() + '/' + kAcmInstance.toLatin1()).constData());
    ::rmdir((dir + '/' + kConfig.toLatin1()).constData());
    ::rmdir((dir + "/functions/" + kAcmInstance.toLatin1()).constData());
    ::rmdir((dir + '/' + kLanguage.toLatin1()).constData());
    if (::rmdir(dir.constData()) != 0 && errno != ENOENT)
        devLog(QStringLiteral("warning: could not remove gadget %1: %2").arg(m_dir, errnoText()));
}

bool cGadget::bind()
{
    if (m_bound)
        return true;
    m_bound = writeAttribute(m_dir + QStringLiteral("/UDC"), m_udc.toLatin1() + '\n');
    if (m_bound) {
        devLog(QStringLiteral("gadget %1 up on %2 (product %3, %4), device side %5")
                   .arg(m_name, m_udc, hexByte(m_identity.productId >> 8) + hexByte(m_identity.productId),
                        m_identity.serial.isEmpty() ? QStringLiteral("no serial number")
                                                    : QStringLiteral("serial number ") + m_identity.serial,
                        m_tty));
    }
    return m_bound;
}

void cGadget::unbind()
{
    if (!m_bound)
        return;
    m_bound = false;
    // A gadget unbound from outside is already off the bus; the write fails and says nothing new.
    if (!readAttribute(m_dir + QStringLiteral("/UDC")).isEmpty())
        writeAttribute(m_dir + QStringLiteral("/UDC"), "\n");
    devLog(QStringLiteral("gadget %1 down").arg(m_name));
}

QString cGadget::hostTty() const
{
    if (!m_bound || !m_udc.startsWith(QStringLiteral("dummy_udc.")))
        return {};
    // dummy_udc.N is wired to the host controller dummy_hcd.N; the one device on its root port
    // carries the ACM interfaces, and cdc_acm hangs its tty below the control interface.
    const QString controller = QStringLiteral("/sys/devices/platform/dummy_hcd.") + m_udc.mid(m_udc.indexOf(QLatin1Char('.')) + 1);
    const QDir::Filters dirs = QDir::Dirs | QDir::NoDotAndDotDot;
    for (const QString &bus : QDir(controller).entryList({QStringLiteral("usb*")}, dirs)) {
        const QString busDir = controller + QLatin1Char('/') + bus;
        for (const QString &device : QDir(busDir).entryList({QStringLiteral("*-*")}, dirs)) {
            if (device.contains(QLatin1Char(':')))
                continue;
            const QString deviceDir = busDir + QLatin1Char('/') + device;
            for (const QString &interface : QDir(deviceDir).entryList({QStringLiteral("*:*")}, dirs)) {
                const QStringList ttys = QDir(deviceDir + QLatin1Char('/') + interface + QStringLiteral("/tty")).entryList(dirs);
                if (!ttys.isEmpty())
                    return QStringLiteral("/dev/") + ttys.first();
            }
        }
    }
    return {};
}

std::shared_ptr<cGadgetPort> cGadgetPort::create(cEventLoop &loop, qint64 bytesPerSecond, std::shared_ptr<cGadget> gadget)
{
    std::shared_ptr<cGadgetPort> port(new cGadgetPort(loop, bytesPerSecond, std::move(gadget)));
    if (!port->open())
        return nullptr;
    loop.watch(port);
    port->lookForHostTty(kHostTtyPolls);
    return port;
}

cGadgetPort::cGadgetPort(cEventLoop &loop, qint64 bytesPerSecond, std::shared_ptr<cGadget> gadget)
    : cPort(bytesPerSecond)
    , m_loop(loop)
    , m_gadget(std::move(gadget))
{
}

cGadgetPort::~cGadgetPort()
{
    close();
}

bool cGadgetPort::open()
{
    // Opened before the bind: the function's write buffer then exists from the start, and nothing
    // from an earlier binding is left in it (closing the tty emptied it).
    const QString tty = m_gadget->ttyPath();
    const int fd = ::open(QFile::encodeName(tty).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        devLog(QStringLiteral("error: could not open %1: %2").arg(tty, errnoText()));
        return false;
    }
    // A gadget's tty starts cooked, echo on: it would send the program's bytes straight back.
    termios attributes {};
    ::tcgetattr(fd, &attributes);
    ::cfmakeraw(&attributes);
    ::tcsetattr(fd, TCSANOW, &attributes);
    attach(fd, tty);
    ++m_gadget->m_ttyOpens;
    if (!m_gadget->bind()) {
        close();
        return false;
    }
    return true;
}

void cGadgetPort::close()
{
    if (m_hostTimer)
        m_loop.cancel(m_hostTimer);
    m_hostTimer = 0;
    // Off the bus first, then the tty: the host sees the device go as one event, as on a real
    // restart, and the tty is closed before anyone may remove the function under it.
    m_gadget->unbind();
    if (isOpen())
        --m_gadget->m_ttyOpens;
    detach();
}

void cGadgetPort::hungUp()
{
    devLog(QStringLiteral("gadget %1 hung up from outside, port %2 closed").arg(m_gadget->name(), path()));
    close();
}

void cGadgetPort::lookForHostTty(int triesLeft)
{
    m_hostTimer = 0;
    if (!isOpen())
        return;
    const QString tty = m_gadget->hostTty();
    if (!tty.isEmpty()) {
        devLog(QStringLiteral("gadget %1 seen by the host as %2").arg(m_gadget->name(), tty));
        return;
    }
    if (triesLeft <= 0 || !m_gadget->udc().startsWith(QStringLiteral("dummy_udc.")))
        return;
    const std::weak_ptr<cPort> weak = weak_from_this();
    m_hostTimer = m_loop.after(kHostTtyPollMs, [this, weak, triesLeft]() {
        if (weak.lock())
            lookForHostTty(triesLeft - 1);
    });
}
