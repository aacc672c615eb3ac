#include "application.h"

#include "device.h"
#include "log.h"
#include "nmea.h"
#include "options.h"
#include "port.h"

namespace {

// Longer than any sentence; a run of bytes without a line end is garbage to be dropped.
constexpr qsizetype kMaxLine = 256;

// What a transponder says of its own accord, in turn: a status line and its own position report.
const char *const kChatter[] = {
    "$PKVR,7,0,0,running",
    "!AIVDO,1,1,,,B00000000000000000000000000,0",
};

} // namespace

cApplication::cApplication(cDevice &device, cEventLoop &loop, const cOptions &options, eRole role,
                           QString version)
    : m_device(device)
    , m_loop(loop)
    , m_options(options)
    , m_role(role)
    , m_version(std::move(version))
    , m_audit({ nmea::sentence(nmea::appverBody()), nmea::bootCommandLine() + "\r\n" }, device.unexpectedTotal())
{
}

cApplication::~cApplication()
{
    close();
}

QString cApplication::vendorId() const
{
    return m_role == eRole::Foreign ? QStringLiteral("0403") : QStringLiteral("3E71");
}

QString cApplication::roleName() const
{
    switch (m_role) {
    case eRole::Device:
        return QStringLiteral("application port");
    case eRole::Silent:
        return QStringLiteral("silent port");
    case eRole::Foreign:
        return QStringLiteral("foreign port");
    }
    return {};
}

bool cApplication::open()
{
    m_port = m_device.openPort(cDevice::ePortRole::Application);
    if (!m_port)
        return false;
    m_port->setReceiver([this](const QByteArray &bytes) { onBytes(bytes); });
    if (m_role == eRole::Device)
        devLog(QStringLiteral("application port %1 up (version %2)").arg(m_port->path(), m_version));
    else
        devLog(QStringLiteral("%1 %2 up").arg(roleName(), m_port->path()));
    if (m_role == eRole::Device && m_options.chatterMs > 0)
        m_chatterTimer = m_loop.after(m_options.chatterMs, [this]() { chatter(0); });
    return true;
}

void cApplication::close()
{
    for (const auto id : m_timers)
        m_loop.cancel(id);
    m_timers.clear();
    m_loop.cancel(m_chatterTimer);
    m_chatterTimer = 0;
    m_audit.flush();
    if (m_port && m_port->isOpen()) {
        devLog(QStringLiteral("%1 %2 down").arg(roleName(), m_port->path()));
        m_port->close();
    }
    m_partialLine.clear();
}

void cApplication::onBytes(const QByteArray &bytes)
{
    // Judged apart from the parsing below, which gives up on a line at the first flaw.
    m_audit.take(bytes);
    m_partialLine += bytes;
    for (;;) {
        const qsizetype end = m_partialLine.indexOf('\n');
        if (end < 0)
            break;
        const QByteArray line = m_partialLine.left(end + 1);
        m_partialLine.remove(0, end + 1);
        onLine(line);
        if (!m_port || !m_port->isOpen() || m_leaving)
            return; // the boot command took the port away; whatever follows is lost with it
    }
    if (m_partialLine.size() > kMaxLine) {
        devLog(QStringLiteral("ignored %1 bytes without line end: %2")
                   .arg(m_partialLine.size())
                   .arg(printable(m_partialLine, 40)));
        m_partialLine.clear();
    }
}

void cApplication::leave()
{
    for (const auto id : m_timers)
        m_loop.cancel(id);
    m_timers.clear();
    m_loop.cancel(m_chatterTimer);
    m_chatterTimer = 0;
    m_leaving = true;
}

void cApplication::onLine(const QByteArray &lineWithEnd)
{
    if (m_leaving) {
        devLog(QStringLiteral("leaving application got %1").arg(printable(lineWithEnd)));
        return;
    }
    const bool hasCr = lineWithEnd.endsWith("\r\n");
    const QByteArray line = lineWithEnd.chopped(hasCr ? 2 : 1);
    QByteArray body;
    QString reason;
    if (m_role != eRole::Device) {
        // Other equipment: only what reaches it is of interest, never why it was ignored.
        devLog(QStringLiteral("%1 got %2").arg(roleName(), printable(line)));
        if (m_role == eRole::Foreign && hasCr && nmea::parse(line, body, reason) && body == nmea::appverBody())
            answerAppver();
        return;
    }
    devLog(QStringLiteral("rx line %1").arg(printable(line)));
    if (!hasCr) {
        devLog(QStringLiteral("ignored line (no CR before LF): %1").arg(printable(line)));
        return;
    }
    if (!nmea::parse(line, body, reason)) {
        devLog(QStringLiteral("ignored line (%1): %2").arg(reason, printable(line)));
        return;
    }
    if (body == nmea::appverBody()) {
        answerAppver();
        return;
    }
    if (line == nmea::bootCommandLine()) {
        devLog(QStringLiteral("boot command received"));
        // The application drops off the bus at once, without a word, to restart into its boot loader.
        m_device.enterBootLoader(this);
        return;
    }
    devLog(QStringLiteral("ignored line (not a command this device knows): %1").arg(printable(line)));
}

void cApplication::answerAppver()
{
    if (m_role == eRole::Device && m_options.has("no-reply")) {
        devLog(QStringLiteral("no reply (fault no-reply)"));
        return;
    }
    std::vector<QByteArray> sentences;
    if (m_role == eRole::Device && m_options.has("noise")) {
        sentences.push_back(nmea::sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
        sentences.push_back(nmea::sentence("AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0", '!'));
        sentences.push_back(nmea::sentence("PKVR,7,0,0,busy"));
    }
    const QByteArray version = m_version.toLatin1();
    QByteArray body = "PKVR,255,0,0," + version;
    if (m_role == eRole::Device && m_options.has("status-256"))
        body = "PKVR,256,0,0,";
    else if (m_role == eRole::Device && m_options.has("empty-field5"))
        body = "PKVR,255,0,0,";
    QByteArray reply = nmea::sentence(body);
    if (m_role == eRole::Device && m_options.has("bad-checksum")) {
        reply = '$' + body + '*' + hexByte(nmea::checksum(body) ^ 0x5Au).toLatin1() + "\r\n";
    } else if (m_role == eRole::Device && m_options.has("lowercase-checksum")) {
        reply = nmea::sentence(body, '$', true);
        if (reply == nmea::sentence(body))
            devLog(QStringLiteral("warning: checksum of this reply has no letter, lower case changes nothing"));
    }
    sentences.push_back(reply);

    const auto sendAll = [this, sentences]() {
        for (const QByteArray &sentence : sentences)
            sendLine(sentence);
    };
    if (m_options.replyDelayMs > 0 && m_role == eRole::Device)
        m_timers.push_back(m_loop.after(m_options.replyDelayMs, sendAll));
    else
        sendAll();
}

void cApplication::sendLine(const QByteArray &sentence)
{
    if (!m_port || !m_port->isOpen())
        return;
    const QString prefix = m_role == eRole::Foreign ? QStringLiteral("foreign port tx ") : QStringLiteral("tx line ");
    devLog(prefix + printable(sentence.chopped(2)));
    m_port->send(sentence);
}

void cApplication::chatter(int turn)
{
    m_chatterTimer = 0;
    const QByteArray line = kChatter[turn % std::size(kChatter)];
    sendLine(nmea::sentence(line.mid(1), line.at(0)));
    m_chatterTimer = m_loop.after(m_options.chatterMs, [this, turn]() { chatter(turn + 1); });
}
