#include "bootloader.h"

#include "device.h"
#include "log.h"
#include "options.h"
#include "nmea.h"
#include "port.h"

#include <QFile>

namespace {

constexpr char kSoh = 0x01;
constexpr char kStx = 0x02;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kCan = 0x18;
constexpr int kDataSize = 1024;
constexpr int kBlockSize = 3 + kDataSize + 2;

constexpr int kUIntervalMs = 10;
constexpr int kCIntervalMs = 1000;
constexpr int kCRepeats = 10;       // then the boot loader gives up and announces itself again
constexpr int kByteTimeoutMs = 1000; // a block that stalls this long is broken
constexpr int kCanQuietMs = 100;     // a CAN burst is over when nothing follows for this long
constexpr int kCansToAbort = 2;      // one CAN could be line noise
constexpr int kMinRehandshakeMs = 200; // 'U's that trail the one that started the handshake
constexpr int kVanishAfterBytes = 500;

quint16 crc16Xmodem(const char *data, int size)
{
    quint16 crc = 0;
    for (int i = 0; i < size; ++i) {
        crc ^= static_cast<quint16>(static_cast<quint8>(data[i]) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ 0x1021) : static_cast<quint16>(crc << 1);
    }
    return crc;
}

} // namespace

cBootLoader::cBootLoader(cDevice &device, cEventLoop &loop, const cOptions &options, eRole role)
    : m_device(device)
    , m_loop(loop)
    , m_options(options)
    , m_role(role)
    // Besides its blocks the program sends a boot loader one 'U' a handshake (any other is
    // judged by the state machine, which ignores it), EOT, CAN, and the lines a port scan sends.
    , m_audit({ QByteArray(1, kCan), QByteArray(1, kEot), nmea::sentence(nmea::appverBody()),
                nmea::bootCommandLine() + "\r\n" },
              device.unexpectedTotal())
    , m_nakLeft(options.nakBlock)
    , m_silentLeft(options.silentBlock)
    , m_oddLeft(options.oddResponse)
    , m_zeroLeft(options.zeroResponse)
    , m_badHandshakesLeft(options.badHandshakes)
{
}

cBootLoader::~cBootLoader()
{
    close();
}

bool cBootLoader::open()
{
    m_port = m_device.openPort(cDevice::ePortRole::BootLoader);
    if (!m_port)
        return false;
    m_port->setReceiver([this](const QByteArray &bytes) { onBytes(bytes); });
    if (m_role == eRole::Silent) {
        devLog(QStringLiteral("boot loader port %1 up (silent)").arg(m_port->path()));
        m_state = eState::Dead;
        return true;
    }
    if (m_role == eRole::Other) {
        devLog(QStringLiteral("boot loader port %1 up (other device)").arg(m_port->path()));
        startUStream();
        return true;
    }
    devLog(QStringLiteral("boot loader port %1 up").arg(m_port->path()));
    if (m_options.has("handshake-first-byte")) {
        devLog(QStringLiteral("tx C instead of U stream (fault handshake-first-byte)"));
        m_state = eState::Dead;
        wrongSyncTick();
        return true;
    }
    startUStream();
    return true;
}

void cBootLoader::close()
{
    disarmAll();
    for (const auto id : m_lateAcks)
        m_loop.cancel(id);
    m_lateAcks.clear();
    m_audit.flush();
    if (m_port && m_port->isOpen()) {
        devLog(QStringLiteral("boot loader port %1 down").arg(m_port->path()));
        m_port->close();
    }
    m_state = eState::Dead;
}

void cBootLoader::arm(cEventLoop::tTimerId &slot, int ms, std::function<void()> fn)
{
    disarm(slot);
    slot = m_loop.after(ms, [&slot, fn = std::move(fn)]() {
        slot = 0;
        fn();
    });
}

void cBootLoader::disarm(cEventLoop::tTimerId &slot)
{
    if (slot)
        m_loop.cancel(slot);
    slot = 0;
}

void cBootLoader::disarmAll()
{
    for (cEventLoop::tTimerId *slot : {&m_uTimer, &m_cTimer, &m_byteTimer, &m_canTimer, &m_flashTimer})
        disarm(*slot);
}

void cBootLoader::send(char byte)
{
    if (m_port)
        m_port->send(QByteArray(1, byte));
}

void cBootLoader::startUStream()
{
    disarmAll();
    if (m_port)
        m_port->setReadPaused(false);
    m_state = eState::UStream;
    m_expected = 1;
    m_image.clear();
    m_block.clear();
    m_cans = 0;
    m_eots = 0;
    devLog(QStringLiteral("sending U stream"));
    uTick();
}

void cBootLoader::uTick()
{
    if (m_state != eState::UStream && m_state != eState::UForever)
        return;
    m_port->sendDroppable('U');
    arm(m_uTimer, kUIntervalMs, [this]() { uTick(); });
}

// Streamed like the 'U's it stands in for, so that whoever opens the port later still sees it.
void cBootLoader::wrongSyncTick()
{
    m_port->sendDroppable('C');
    arm(m_uTimer, kUIntervalMs, [this]() { wrongSyncTick(); });
}

void cBootLoader::onBytes(const QByteArray &bytes)
{
    m_in += bytes;
    process();
}

void cBootLoader::process()
{
    consume();
    if (!m_ignored.isEmpty()) {
        const QString who = m_role == eRole::Silent ? QStringLiteral("silent boot loader") : QStringLiteral("boot loader");
        devLog(QStringLiteral("%1 ignored %2 bytes: %3").arg(who).arg(m_ignored.size()).arg(printable(m_ignored, 48)));
        m_ignored.clear();
    }
    if (!m_judged.isEmpty()) {
        m_audit.take(m_judged);
        m_judged.clear();
    }
}

void cBootLoader::ignore(const QByteArray &bytes, bool judged)
{
    m_ignored += bytes;
    if (judged)
        m_judged += bytes;
}

void cBootLoader::consume()
{
    while (!m_in.isEmpty()) {
        switch (m_state) {
        case eState::UStream: {
            const qsizetype u = m_in.indexOf('U');
            if (u < 0) {
                ignore(m_in);
                m_in.clear();
                break;
            }
            ignore(m_in.left(u));
            m_in.remove(0, u + 1);
            // The program sends one 'U' and waits: a run of them is the port echoing the stream,
            // and the one taken for the handshake is part of it.
            if (m_in.startsWith('U'))
                m_judged += 'U';
            handshake(true);
            break;
        }
        case eState::WaitHeader: {
            const char byte = m_in.at(0);
            m_in.remove(0, 1);
            consumeHeaderByte(byte);
            break;
        }
        case eState::InBlock: {
            const qsizetype take = qMin<qsizetype>(kBlockSize - m_block.size(), m_in.size());
            m_block += m_in.left(take);
            m_in.remove(0, take);
            if (m_options.vanishBlock == m_expected && m_block.size() >= kVanishAfterBytes) {
                devLog(QStringLiteral("device vanished during block %1 (fault)").arg(m_expected));
                m_in.clear();
                m_device.vanish();
                return;
            }
            if (m_options.replugBlock == m_expected && !m_replugged && m_block.size() >= kVanishAfterBytes) {
                devLog(QStringLiteral("device unplugged during block %1 (fault replug)").arg(m_expected));
                m_replugged = true;
                m_in.clear();
                m_device.replug(this);
                return;
            }
            if (m_block.size() == kBlockSize) {
                disarm(m_byteTimer);
                blockComplete();
            } else {
                arm(m_byteTimer, kByteTimeoutMs, [this]() {
                    badBlock(QStringLiteral("incomplete, %1 of %2 bytes").arg(m_block.size()).arg(kBlockSize));
                });
            }
            break;
        }
        case eState::Flashing:
            return; // the rest waits until the ACK is out
        case eState::Finished:
            for (const char byte : std::as_const(m_in)) {
                if (byte == kEot && !m_options.silentEot) {
                    devLog(QStringLiteral("EOT ACK (repeat)"));
                    send(kAck);
                } else {
                    ignore(QByteArray(1, byte));
                }
            }
            m_in.clear();
            break;
        case eState::UForever:
        case eState::Dead:
            ignore(m_in, false);
            m_in.clear();
            break;
        }
    }
}

void cBootLoader::consumeHeaderByte(char byte)
{
    if (m_cans > 0 && byte != kCan) {
        evaluateCans();
        if (m_state != eState::WaitHeader) {
            m_in.prepend(byte);
            return;
        }
    }
    switch (byte) {
    case kStx:
        disarm(m_cTimer);
        m_state = eState::InBlock;
        m_block = QByteArray(1, kStx);
        arm(m_byteTimer, kByteTimeoutMs, [this]() {
            badBlock(QStringLiteral("incomplete, %1 of %2 bytes").arg(m_block.size()).arg(kBlockSize));
        });
        return;
    case kEot:
        onEot();
        return;
    case kCan:
        ++m_cans;
        if (m_cans >= 8)
            evaluateCans();
        else
            arm(m_canTimer, kCanQuietMs, [this]() { evaluateCans(); });
        return;
    case 'U':
        if (std::chrono::duration_cast<std::chrono::milliseconds>(cEventLoop::tClock::now() - m_lastC).count()
            >= kMinRehandshakeMs) {
            handshake(false);
            return;
        }
        break;
    case kSoh:
        // This boot loader only takes 1K blocks; a 128-byte block is noise to it.
        break;
    default:
        break;
    }
    ignore(QByteArray(1, byte));
}

void cBootLoader::handshake(bool first)
{
    devLog(first ? QStringLiteral("rx U (handshake)") : QStringLiteral("rx U (new handshake)"));
    disarmAll();
    m_expected = 1;
    m_image.clear();
    m_block.clear();
    m_cans = 0;
    m_eots = 0;
    if (m_options.has("silent-after-echo")) {
        devLog(QStringLiteral("silent after handshake U (fault silent-after-echo)"));
        m_state = eState::Dead;
        return;
    }
    if (m_options.has("u-forever")) {
        devLog(QStringLiteral("keeps sending U (fault u-forever)"));
        m_state = eState::UForever;
        uTick();
        return;
    }
    if (m_options.has("not-c")) {
        devLog(QStringLiteral("tx X instead of C (fault not-c)"));
        send('X');
        m_state = eState::Dead;
        return;
    }
    if (m_badHandshakesLeft > 0) {
        --m_badHandshakesLeft;
        devLog(QStringLiteral("tx X instead of C (fault bad-handshakes, %1 left)").arg(m_badHandshakesLeft));
        send('X');
        // The 'U's that trail the program's one must not start the next handshake at once.
        m_state = eState::Dead;
        arm(m_uTimer, kMinRehandshakeMs, [this]() { startUStream(); });
        return;
    }
    m_state = eState::WaitHeader;
    m_cRepeats = 0;
    m_lastC = cEventLoop::tClock::now();
    devLog(QStringLiteral("tx C"));
    send('C');
    arm(m_cTimer, kCIntervalMs, [this]() { repeatC(); });
}

void cBootLoader::repeatC()
{
    if (m_state != eState::WaitHeader || m_expected != 1)
        return;
    if (m_cRepeats >= kCRepeats) {
        devLog(QStringLiteral("no block after handshake, back to U stream"));
        startUStream();
        return;
    }
    ++m_cRepeats;
    m_lastC = cEventLoop::tClock::now();
    devLog(QStringLiteral("tx C (repeat %1)").arg(m_cRepeats));
    send('C');
    arm(m_cTimer, kCIntervalMs, [this]() { repeatC(); });
}

void cBootLoader::evaluateCans()
{
    disarm(m_canTimer);
    const int cans = m_cans;
    m_cans = 0;
    if (cans < kCansToAbort) {
        ignore(QByteArray(cans, kCan));
        return;
    }
    devLog(QStringLiteral("transfer cancelled by sender (%1 CAN)").arg(cans));
    startUStream();
}

void cBootLoader::badBlock(const QString &reason)
{
    disarm(m_byteTimer);
    devLog(QStringLiteral("block %1 NAK (%2)").arg(m_expected).arg(reason));
    m_block.clear();
    m_state = eState::WaitHeader;
    send(kNak);
}

void cBootLoader::blockComplete()
{
    const auto number = static_cast<quint8>(m_block.at(1));
    const auto complement = static_cast<quint8>(m_block.at(2));
    if ((number ^ complement) != 0xFF) {
        badBlock(QStringLiteral("bad header"));
        return;
    }
    const QByteArray data = m_block.mid(3, kDataSize);
    const quint16 sent = static_cast<quint16>((static_cast<quint8>(m_block.at(kBlockSize - 2)) << 8)
                                              | static_cast<quint8>(m_block.at(kBlockSize - 1)));
    if (crc16Xmodem(data.constData(), kDataSize) != sent) {
        badBlock(QStringLiteral("bad CRC"));
        return;
    }
    m_block.clear();
    m_state = eState::WaitHeader;
    const int expectedNumber = m_expected & 0xFF;
    if (number == expectedNumber) {
        newBlock(m_expected, data);
    } else if (m_expected > 1 && number == ((m_expected - 1) & 0xFF)) {
        // Our ACK was lost or late: the sender repeats, we already have it.
        devLog(QStringLiteral("block %1 duplicate ACK").arg(m_expected - 1));
        send(kAck);
    } else {
        devLog(QStringLiteral("tx 8 CAN (block number %1, expected %2)").arg(number).arg(expectedNumber));
        m_port->send(QByteArray(8, kCan));
        startUStream();
    }
}

bool cBootLoader::takeFault(std::map<int, int> &remaining, int position)
{
    const auto it = remaining.find(position);
    if (it == remaining.end() || it->second <= 0)
        return false;
    --it->second;
    return true;
}

void cBootLoader::newBlock(int position, const QByteArray &data)
{
    if (m_options.nakAll || takeFault(m_nakLeft, position)) {
        devLog(QStringLiteral("tx NAK block %1 (fault)").arg(position));
        send(kNak);
        return;
    }
    if (takeFault(m_silentLeft, position)) {
        devLog(QStringLiteral("no answer to block %1 (fault)").arg(position));
        return;
    }
    if (takeFault(m_oddLeft, position)) {
        devLog(QStringLiteral("tx 'C' for block %1 (fault)").arg(position));
        send('C');
        return;
    }
    if (takeFault(m_zeroLeft, position)) {
        devLog(QStringLiteral("tx 0x00 for block %1 (fault)").arg(position));
        send('\0');
        return;
    }

    m_image += data;
    ++m_expected;
    const auto lateAck = m_options.lateAckMs.find(position);
    if (lateAck != m_options.lateAckMs.end() && m_lateAckUsed.insert(position).second) {
        devLog(QStringLiteral("block %1 ACK delayed %2 ms (fault)").arg(position).arg(lateAck->second));
        m_lateAcks.push_back(m_loop.after(lateAck->second, [this, position]() {
            if (m_port && m_port->isOpen()) {
                devLog(QStringLiteral("block %1 late ACK").arg(position));
                send(kAck);
            }
        }));
        return;
    }
    if (m_options.flashMs > 0) {
        m_state = eState::Flashing;
        m_port->setReadPaused(true);
        arm(m_flashTimer, m_options.flashMs, [this, position]() {
            devLog(QStringLiteral("block %1 ACK").arg(position));
            send(kAck);
            m_state = eState::WaitHeader;
            m_port->setReadPaused(false);
            process();
        });
        return;
    }
    devLog(QStringLiteral("block %1 ACK").arg(position));
    send(kAck);
}

void cBootLoader::onEot()
{
    ++m_eots;
    if (m_expected == 1) {
        // Nothing new to run: a real boot loader stays put rather than start an empty application.
        devLog(QStringLiteral("EOT ACK without data, staying in boot loader"));
        send(kAck);
        startUStream();
        return;
    }
    if (m_options.nakEot && !m_eotNakUsed) {
        m_eotNakUsed = true;
        devLog(QStringLiteral("EOT NAK (fault nak-eot)"));
        send(kNak);
        return;
    }
    if (m_options.silentEot) {
        devLog(QStringLiteral("no answer to EOT (fault silent-eot)"));
    } else {
        devLog(QStringLiteral("EOT ACK"));
        send(kAck);
    }
    m_state = eState::Finished;
    disarmAll();
    writeImage();
    if (m_role != eRole::Other)
        m_device.imageReceived();
}

void cBootLoader::writeImage()
{
    if (m_options.imagePath.isEmpty()) {
        devLog(QStringLiteral("image not written (no --image), %1 bytes").arg(m_image.size()));
        return;
    }
    const QString path = m_role == eRole::Other ? m_options.imagePath + QStringLiteral(".other") : m_options.imagePath;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(m_image) != m_image.size()) {
        devLog(QStringLiteral("could not write image to %1: %2").arg(path, file.errorString()));
        return;
    }
    file.close();
    devLog(QStringLiteral("image written %1 bytes to %2").arg(m_image.size()).arg(path));
}
