#include "device/bootswitch.h"

#include "device/sentencechannel.h"
#include "support/trace.h"
#include "support/updatelog.h"

#include <QElapsedTimer>
#include <QThread>

#include <chrono>

using namespace std::chrono_literals;

const char bootCommand[] = "$PKVR,0,3,0x6D1F48A3,0,bootcmd 0x5A3C9E01,0*42";

namespace {

constexpr int bootOpenAttempts = 6;
constexpr auto bootOpenPause = 1000ms;
constexpr auto firstBytePoll = 10ms;
// A boot loader sends its "U" at once after it has started; a port that stays silent this long
// is not going to start the handshake, and the wizard tries again with a new boot command.
constexpr auto firstByteLimit = 5000ms;
// After the echo the boot loader answers "C" promptly; the "U" still in flight are skipped, but a
// boot loader that never stops sending them must not hold the GUI thread.
constexpr auto syncEndLimit = 3000ms;
constexpr int syncBytesLimit = 4096;
constexpr char syncByte = 'U';
constexpr char xmodemStart = 'C';

void logByte(const LogFn &log, const char *tag, char byte)
{
    log(logByteText(tag, quint8(byte)));
}

} // namespace

void sleepMs(int ms)
{
    QThread::msleep(ulong(ms));
}

void usbBoot(cPort &port, const QString &applicationPortName, const LogFn &log, const SleepFn &sleep)
{
    port.setPortName(applicationPortName);
    bool opened = port.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    for (int attempt = 1; !opened && attempt < bootOpenAttempts; ++attempt) {
        sleep(int(bootOpenPause.count()));
        opened = port.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    if (!opened) {
        QM_TRACE("Quaymend::usbBoot") << "Port open failed";
        return;
    }
    const QByteArray sentence(bootCommand);
    QM_TRACE("Quaymend::usbBoot") << "Sending:" << ('"' + sentence + '"');
    log(logTaggedText("Boot command", sentence));
    writeToPort(port, sentence + "\r\n");
    port.close();
}

bool usbBootHandshake(cPort &port, const LogFn &log, const SleepFn &sleep)
{
    // The boot loader's "U"s are in flight before the port is open, and on USB the first of them
    // arrive during the open: they are the start of the handshake, not stale input.
    if (!port.openKeepingInput(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return false;
    port.flush();
    QM_TRACE("Quaymend::usbBootHandshake") << "Port open ok";

    const int firstBytePolls = int(firstByteLimit / firstBytePoll);
    int polls = 0;
    while (port.bytesAvailable() == 0 && !port.vanished() && polls < firstBytePolls) {
        sleep(int(firstBytePoll.count()));
        ++polls;
    }
    if (port.vanished()) {
        QM_TRACE("Quaymend::usbBootHandshake") << "Port gone";
        port.close();
        return false;
    }
    if (port.bytesAvailable() == 0) {
        QM_TRACE("Quaymend::usbBootHandshake") << "No boot handshake";
        port.close();
        return false;
    }

    char byte = 0;
    if (port.read(&byte, 1) != 1)
        byte = 0;
    QM_TRACE("Quaymend::usbBootHandshake") << "Received:" << byteText(quint8(byte));
    logByte(log, "Rx", byte);
    if (byte != syncByte) {
        port.close();
        return false;
    }

    QM_TRACE("Quaymend::usbBootHandshake") << "Received boot handshake";
    port.write(&syncByte, 1);
    logByte(log, "Tx", syncByte);

    bool started = false;
    int syncBytes = 0;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (syncBytes >= syncBytesLimit || clock.elapsed() >= syncEndLimit.count()) {
            QM_TRACE("Quaymend::usbBootHandshake") << "No XMODEM start";
            break;
        }
        if (port.read(&byte, 1) != 1)
            break;
        QM_TRACE("Quaymend::usbBootHandshake") << "Received:" << byteText(quint8(byte));
        logByte(log, "Rx", byte);
        if (byte == syncByte) {
            ++syncBytes;
            continue;
        }
        if (byte == xmodemStart) {
            QM_TRACE("Quaymend::usbBootHandshake") << "Received XMODEM start";
            started = true;
        }
        break;
    }
    port.close();
    return started;
}
