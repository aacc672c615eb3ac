#include "device/sentencechannel.h"

#include "device/nmeasentence.h"

#include <QElapsedTimer>
#include <QThread>

#include <chrono>
#include <cstring>

using namespace std::chrono_literals;

namespace {

constexpr auto replyTimeLimit = 2000ms;
constexpr auto outputDrainWait = 1000ms;
// A port whose pending count never drops (a stuck driver) must not hold the GUI thread for ever.
constexpr auto writeDrainLimit = 2000ms;
// After a read that returned nothing at once (a vanished device), pause before the next one
// instead of spinning until the reply time limit.
constexpr auto emptyReadPause = 10ms;
constexpr int lineBufferSize = 80;
constexpr int fieldBufferSize = 80;
constexpr int replyWithText = 255;
constexpr int replyWithoutText = 256;

} // namespace

void writeToPort(cPort &port, const QByteArray &bytes)
{
    for (const char byte : bytes) {
        port.write(&byte, 1);
        QElapsedTimer clock;
        clock.start();
        while (port.bytesToWrite() > 0 && clock.elapsed() < writeDrainLimit.count()) { }
    }
}

void sendCommand(cPort &port, const QByteArray &text, const LogFn &log)
{
    const QByteArray sentence = commandSentence(text);
    log("Command: " + sentence);
    writeToPort(port, sentence + "\r\n");
}

bool readResponse(cPort &port, QByteArray &text, const LogFn &log)
{
    port.waitForBytesWritten(int(outputDrainWait.count()));

    cNmeaSentence sentence;
    char line[lineBufferSize];
    char field[fieldBufferSize];
    bool accepted = false;
    bool ended = false;
    QElapsedTimer clock;
    clock.start();
    while (!ended && clock.elapsed() < replyTimeLimit.count()) {
        const qint64 count = port.readLine(line, lineBufferSize);
        if (count <= 0) {
            if (port.vanished())
                break;
            QThread::msleep(emptyReadPause.count());
            continue;
        }
        // The boot loader announces itself with a stream of "U"; a reply may still follow.
        if (count >= 8 && std::memcmp(line, "UUUUUUUU", 8) == 0) {
            text = "NOAPP";
            continue;
        }
        sentence.parse(line, int(count));
        if (!sentence.valid)
            continue;
        if (!sentence.getField(1, field, fieldBufferSize) || std::strncmp(field, "PKVR", 4) != 0)
            continue;
        int status = 0;
        if (!sentence.getFieldInt(2, status))
            continue;
        if (status == replyWithText) {
            if (!sentence.getField(5, field, fieldBufferSize))
                field[0] = '\0';
            text = QByteArray(field);
            accepted = true;
            ended = true;
        } else if (status == replyWithoutText) {
            text.clear();
            ended = true;
        }
    }
    log("Response: " + text);
    return accepted;
}

QByteArray queryDevice(cPort &port, const QString &portName, const QByteArray &command, const LogFn &log)
{
    QByteArray result;
    port.setPortName(portName);
    if (!port.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return result;
    sendCommand(port, command, log);
    readResponse(port, result, log);
    port.close();
    return result;
}
