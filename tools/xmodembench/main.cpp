// Throughput and CPU cost of cXmodem1KSend, against lrzsz sx sending to the same rx over the same
// kind of pseudo-terminal, and its time to the device simulator against the link's floor.
// A third sender makes exactly cXmodem1KSend's system calls (the same one-byte writes, the same
// chunks, a wait for each answer) in a plain loop: what the kernel alone charges for that sequence
// of writes, the floor our sender can come down to without changing the pacing.
// Each pty sender runs --runs times, in turn; the figures are the medians.
// Prints figures; nothing is asserted.
//
//     quaymend-xmodembench [--devsim PATH|none] [--size-mib N] [--runs N]
#include "device/serialport.h"
#include "update/crc16.h"
#include "update/xmodem1ksend.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace {

constexpr int linkSpeed = 11520; // bytes per second, the simulator's emulated link
constexpr int flashMs = 5;
constexpr int simFileSize = 512 * 1024;
constexpr int frameSize = 1029;
constexpr double cRepeatSeconds = 1.0; // the simulator's boot loader repeats its 'C' this often

void dropTrace(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double userSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6;
}

// Context switches of this process so far: voluntary (waiting) and involuntary (preempted).
std::pair<long, long> contextSwitches()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return { usage.ru_nvcsw, usage.ru_nivcsw };
}

bool waitForFile(const QString &path, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!QFileInfo::exists(path)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

void configure(cSerialPort &port, const QString &name)
{
    port.setPortName(name);
    port.setQueryMode(cPort::Polling);
    port.setBaudRate(110);
    port.setDataBits(cSerialLine::Data8);
    port.setParity(cSerialLine::NoParity);
    port.setStopBits(cSerialLine::OneStop);
    port.setFlowControl(cSerialLine::NoFlowControl);
    port.setTimeout(5000);
}

// rx -c behind socat; the terminal belongs to socat so rx's exit cannot swallow its last ACK.
QString startRx(QProcess &socat, const QString &work, const QString &tag)
{
    const QString link = work + QStringLiteral("/%1-port").arg(tag);
    const QString dir = work + QStringLiteral("/%1-rx").arg(tag);
    // A run before this one left its link and its received file.
    QFile::remove(link);
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    socat.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    socat.setStandardErrorFile(QProcess::nullDevice());
    socat.start(QStringLiteral("socat"),
                { QStringLiteral("PTY,link=%1,raw,echo=0").arg(link),
                  QStringLiteral("SYSTEM:cd '%1' && exec rx -c out.bin").arg(dir) });
    if (socat.waitForStarted(5000) && waitForFile(link, 5000))
        return link;
    std::fprintf(stderr, "could not start socat/rx\n");
    return {};
}

// rx ends by itself after EOT, and socat with it; one that has not within the bound is killed,
// so that no run leaves a process behind for the next one to compete with.
void finish(QProcess &process, const char *what, int ms, bool terminate = false)
{
    if (terminate)
        process.terminate();
    if (process.waitForFinished(ms))
        return;
    std::fprintf(stderr, "%s still running after %d ms, killed\n", what, ms);
    process.kill();
    process.waitForFinished(5000);
}

bool sameContent(const QString &received, const QByteArray &data)
{
    QFile file(received);
    return file.open(QIODevice::ReadOnly) && file.read(data.size()) == data;
}

struct Run
{
    bool ok = false;
    double seconds = 0;
    double cpu = 0;
    double user = 0; // of cpu, the part outside the kernel
    long waits = 0; // voluntary context switches (ours only)
    long preempted = 0; // involuntary ones
};

// What this process spends between its construction and stop().
class Meter
{
public:
    Meter() { m_clock.start(); }
    void stop(Run &run) const
    {
        run.seconds = double(m_clock.nsecsElapsed()) / 1e9;
        run.cpu = cpuSeconds() - m_cpu;
        run.user = userSeconds() - m_user;
        run.waits = contextSwitches().first - m_switches.first;
        run.preempted = contextSwitches().second - m_switches.second;
    }

private:
    double m_cpu = cpuSeconds();
    double m_user = userSeconds();
    std::pair<long, long> m_switches = contextSwitches();
    QElapsedTimer m_clock;
};

Run sendWithOurs(const QString &file, const QByteArray &data, const QString &work)
{
    Run run;
    QProcess socat;
    const QString link = startRx(socat, work, QStringLiteral("ours"));
    if (link.isEmpty())
        return run;
    cSerialPort port;
    configure(port, link);
    char start = 0;
    // The handshake takes rx's start request, as it takes the boot loader's.
    if (!port.open(QIODevice::ReadWrite) || port.read(&start, 1) != 1 || start != 'C') {
        std::fprintf(stderr, "no start request from rx\n");
        return run;
    }
    port.close();

    cXmodem1KSend sender(file.toUtf8().toStdString(), &port);
    const Meter meter;
    sender.startTransfer();
    sender.wait(600000);
    // The GUI-less main thread sleeps in wait(); what the process used is the worker's.
    meter.stop(run);
    finish(socat, "socat/rx", 10000);
    run.ok = sender.status.load() == XmodemComplete
        && sameContent(work + QStringLiteral("/ours-rx/out.bin"), data);
    return run;
}

// One write(2) for the whole of data unless the driver is full; then poll() for room, 5 s at most.
bool writeAll(int fd, const char *data, int size)
{
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd room { fd, POLLOUT, 0 };
        if (::poll(&room, 1, 5000) <= 0)
            return false;
    }
    return true;
}

// The pty socat made, opened non-blocking and raw as the adapter opens a port; -1 when it cannot.
int openRaw(const QString &link)
{
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings {};
    if (fd >= 0 && ::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        if (::tcsetattr(fd, TCSANOW, &settings) == 0)
            return fd;
    }
    if (fd >= 0)
        ::close(fd);
    std::fprintf(stderr, "could not open %s\n", qPrintable(link));
    return -1;
}

// One byte of answer within 5 s, or -1.
int readAnswer(int fd)
{
    pollfd ready { fd, POLLIN, 0 };
    unsigned char c = 0;
    if (::poll(&ready, 1, 5000) <= 0 || ::read(fd, &c, 1) != 1)
        return -1;
    return c;
}

// The same writes as cXmodem1KSend, straight system calls on a non-blocking descriptor: a block
// is STX, its number and complement a byte each, the data in chunks of xmodemChunkSize, the CRC a
// byte each, then a wait for one answer. Every rx here answers ACK at once, so no retry is needed.
Run sendWithBareCalls(const QString &, const QByteArray &data, const QString &work)
{
    Run run;
    QProcess socat;
    const QString link = startRx(socat, work, QStringLiteral("bare"));
    if (link.isEmpty())
        return run;
    const int fd = openRaw(link);
    if (fd < 0)
        return run;
    if (readAnswer(fd) != 'C') {
        std::fprintf(stderr, "no start request from rx\n");
        ::close(fd);
        return run;
    }
    const int chunk = std::max(1, xmodemChunkSize.load());
    const Meter meter;
    bool ok = true;
    quint8 number = 1;
    for (qsizetype offset = 0; ok && offset < data.size(); offset += 1024, ++number) {
        QByteArray block = data.mid(offset, 1024);
        block.append(QByteArray(1024 - block.size(), char(0x1A)));
        const char header[3] = { 0x02, char(number), char(255 - number) };
        for (char byte : header)
            ok = ok && writeAll(fd, &byte, 1);
        for (int at = 0; ok && at < 1024; at += chunk)
            ok = writeAll(fd, block.constData() + at, std::min(chunk, 1024 - at));
        const quint16 crc = crc16Xmodem(block.constData(), 1024);
        const char tail[2] = { char(crc >> 8), char(crc & 0xff) };
        for (char byte : tail)
            ok = ok && writeAll(fd, &byte, 1);
        ok = ok && readAnswer(fd) == 0x06;
    }
    const char eot = 0x04;
    ok = ok && writeAll(fd, &eot, 1) && readAnswer(fd) == 0x06;
    meter.stop(run);
    ::close(fd);
    finish(socat, "socat/rx", 10000);
    run.ok = ok && sameContent(work + QStringLiteral("/bare-rx/out.bin"), data);
    return run;
}

Run sendWithSx(const QString &file, const QByteArray &data, const QString &work)
{
    Run run;
    QProcess socat;
    const QString link = startRx(socat, work, QStringLiteral("sx"));
    if (link.isEmpty())
        return run;
    const QString times = work + QStringLiteral("/sx-times");
    QProcess sx;
    QElapsedTimer clock;
    clock.start();
    sx.start(QStringLiteral("bash"),
             { QStringLiteral("-c"),
               // TIMEFORMAT's own %3 must not meet QString::arg.
               QStringLiteral("TIMEFORMAT='%3U %3S'; ")
                   + QStringLiteral("{ time sx -k '%1' <'%2' >'%2' 2>/dev/null; } 2>'%3'")
                         .arg(file, link, times) });
    sx.waitForFinished(600000);
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    finish(socat, "socat/rx", 10000);
    QFile timesFile(times);
    if (timesFile.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = timesFile.readAll().simplified().split(' ');
        if (fields.size() == 2)
            run.cpu = fields.at(0).toDouble() + fields.at(1).toDouble();
    }
    run.ok = sx.exitCode() == 0 && sameContent(work + QStringLiteral("/sx-rx/out.bin"), data);
    return run;
}

// The pacing's own floor: nothing but 16-byte writes, one system call each, to a pty whose other
// side is read and thrown away; with checkQueue, a TIOCOUTQ query after each write as well.
double chunkWriteLoop(const QString &work, int sizeMiB, bool checkQueue)
{
    QProcess socat;
    const QString link = work + QStringLiteral("/loop-port");
    QFile::remove(link);
    socat.setStandardErrorFile(QProcess::nullDevice());
    socat.start(
        QStringLiteral("socat"),
        { QStringLiteral("PTY,link=%1,raw,echo=0").arg(link), QStringLiteral("SYSTEM:cat >/dev/null") });
    if (!socat.waitForStarted(5000) || !waitForFile(link, 5000))
        return -1;
    const int fd = openRaw(link);
    if (fd < 0)
        return -1;
    const char chunk[16] = {};
    const qint64 writes = qint64(sizeMiB) << 16;
    bool ok = true;
    const double cpuBefore = cpuSeconds();
    for (qint64 i = 0; ok && i < writes; ++i) {
        ok = writeAll(fd, chunk, sizeof chunk);
        int queued = 0;
        if (checkQueue)
            ::ioctl(fd, TIOCOUTQ, &queued);
    }
    const double cpu = cpuSeconds() - cpuBefore;
    ::close(fd);
    finish(socat, "socat/cat", 5000, true);
    return ok ? cpu : -1;
}

QString simulatorPort(const QString &portsFile, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QFile file(portsFile);
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QList<QByteArray> fields = line.simplified().split(' ');
                if (fields.size() == 2 && fields.at(1).toUpper() == "3E71")
                    return QFile::decodeName(fields.at(0));
            }
        }
        QThread::msleep(20);
    }
    return {};
}

bool bootLoaderHandshake(cSerialPort &port)
{
    if (!port.open(QIODevice::ReadWrite))
        return false;
    const QDeadlineTimer deadline(5000);
    char c = 0;
    while (c != 'U' && !deadline.hasExpired()) {
        if (port.read(&c, 1) != 1)
            c = 0;
    }
    bool started = false;
    if (c == 'U' && port.write("U", 1) == 1) {
        while (!started && !deadline.hasExpired())
            started = port.read(&c, 1) == 1 && c == 'C';
    }
    port.close();
    return started;
}

// A simulator with its boot loader waiting, and the handshake done: the port's name, or empty.
QString simulatorAfterHandshake(QProcess &sim, const QString &devsim, const QString &work, const QString &tag)
{
    const QString portsFile = work + QStringLiteral("/%1-ports").arg(tag);
    sim.setStandardOutputFile(QProcess::nullDevice());
    sim.setStandardErrorFile(work + QStringLiteral("/%1.log").arg(tag));
    sim.start(devsim,
              { "--ports-file", portsFile, "--image", work + QStringLiteral("/%1-image.bin").arg(tag),
                "--no-app", "--link-speed", QString::number(linkSpeed), "--flash-ms",
                QString::number(flashMs) });
    cSerialPort port;
    configure(port, simulatorPort(portsFile, 5000));
    if (port.portName().isEmpty() || !bootLoaderHandshake(port))
        return {};
    return port.portName();
}

void sendToSimulator(const QString &devsim, const QString &work)
{
    if (!QFileInfo(devsim).isExecutable()) {
        std::printf("simulator: %s not found, skipped (--devsim PATH)\n", qPrintable(devsim));
        return;
    }
    QByteArray data(simFileSize, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    const QString file = work + QStringLiteral("/sim.img");
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size())
        return;
    out.close();
    const int blocks = simFileSize / 1024;
    const double wire = double(blocks) * frameSize / linkSpeed;
    const double floor = wire + blocks * flashMs / 1000.0;

    QProcess sim;
    const QString portName = simulatorAfterHandshake(sim, devsim, work, QStringLiteral("sim-ours"));
    if (portName.isEmpty()) {
        std::printf("simulator: no boot loader handshake\n");
        return;
    }
    cSerialPort port;
    configure(port, portName);
    cXmodem1KSend sender(file.toUtf8().toStdString(), &port);
    QElapsedTimer clock;
    clock.start();
    sender.startTransfer();
    sender.wait(600000);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const QString image = work + QStringLiteral("/sim-ours-image.bin");
    waitForFile(image, 5000);
    const bool ok = sender.status.load() == XmodemComplete && sameContent(image, data);
    finish(sim, "simulator", 5000, true);
    std::printf("simulator, 512 KiB at %d B/s, %d ms flash per block: %.2f s%s\n", linkSpeed, flashMs,
                seconds, ok ? "" : "  FAILED");
    std::printf("  floor, wire time + flash time: %.2f s (ratio %.3f)\n", floor, seconds / floor);
    std::printf("  floor, wire time alone:        %.2f s (ratio %.3f)\n", wire, seconds / wire);

    // sx -k through a second simulator, after the same handshake. The handshake took the boot
    // loader's 'C'; sx starts on its repeat, which comes a fixed interval after the first, so that
    // interval is taken off sx's time.
    QProcess sxSim;
    const QString sxPort = simulatorAfterHandshake(sxSim, devsim, work, QStringLiteral("sim-sx"));
    QElapsedTimer sxClock;
    sxClock.start();
    if (sxPort.isEmpty()) {
        std::printf("  sx -k: no boot loader handshake\n");
        return;
    }
    QProcess sx;
    sx.setStandardOutputFile(QProcess::nullDevice());
    sx.setStandardErrorFile(QProcess::nullDevice());
    sx.start(QStringLiteral("bash"),
             { QStringLiteral("-c"), QStringLiteral("exec sx -k '%1' <'%2' >'%2'").arg(file, sxPort) });
    const bool sxEnded = sx.waitForFinished(600000);
    const double sxSeconds = double(sxClock.nsecsElapsed()) / 1e9 - cRepeatSeconds;
    const QString sxImage = work + QStringLiteral("/sim-sx-image.bin");
    waitForFile(sxImage, 5000);
    const bool sxOk = sxEnded && sx.exitCode() == 0 && sameContent(sxImage, data);
    finish(sxSim, "simulator", 5000, true);
    // As for the pty: throughput of ours against sx's, above 1 when ours is faster.
    std::printf("  sx -k through the same link:   %.2f s (throughput ratio cXmodem1KSend / sx %.3f)%s\n",
                sxSeconds, sxSeconds / seconds, sxOk ? "" : "  FAILED");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(dropTrace);
    QString devsim = QCoreApplication::applicationDirPath() + QStringLiteral("/devsim/quaymend-devsim");
    int sizeMiB = 4;
    int runs = 1;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--devsim"))
            devsim = args.at(i + 1);
        else if (args.at(i) == QLatin1String("--size-mib"))
            sizeMiB = qMax(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--runs"))
            runs = qBound(1, args.at(i + 1).toInt(), 99);
    }

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    QByteArray data(sizeMiB << 20, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    const QString file = dir.filePath(QStringLiteral("bench.img"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size())
        return 1;
    out.close();

    using Sender = std::function<Run(const QString &, const QByteArray &, const QString &)>;
    struct Contender
    {
        const char *name;
        Sender send;
        std::vector<Run> runs;
    };
    std::vector<Contender> contenders {
        { "cXmodem1KSend", sendWithOurs, {} },
        { "same writes, bare calls", sendWithBareCalls, {} },
        { "sx -k", sendWithSx, {} },
    };
    // In turn rather than one sender's runs together: a noisy spell of the machine then falls on
    // all of them alike.
    // Each round starts with another of them, so that none always follows the same one.
    for (int i = 0; i < runs; ++i) {
        for (size_t k = 0; k < contenders.size(); ++k) {
            Contender &c = contenders[(i + k) % contenders.size()];
            c.runs.push_back(c.send(file, data, dir.path()));
        }
    }

    const double kib = data.size() / 1024.0;
    const double mib = data.size() / 1048576.0;
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    };
    const auto figures = [&](const Contender &c, double Run::*field) {
        std::vector<double> values;
        for (const Run &run : c.runs)
            values.push_back(run.*field);
        return values;
    };
    bool allOk = true;
    std::printf("%d MiB over a pty to lrzsz rx -c (socat), %d run(s) each, medians:\n", sizeMiB, runs);
    for (const Contender &c : contenders) {
        const bool ok = std::all_of(c.runs.begin(), c.runs.end(), [](const Run &r) { return r.ok; });
        allOk = allOk && ok;
        const double seconds = median(figures(c, &Run::seconds));
        std::vector<double> cpu = figures(c, &Run::cpu);
        std::printf("  %-24s %8.1f KiB/s  %6.2f s  CPU %6.1f ms/MiB (range %.1f to %.1f)%s\n", c.name,
                    kib / seconds, seconds, median(cpu) * 1000 / mib,
                    *std::min_element(cpu.begin(), cpu.end()) * 1000 / mib,
                    *std::max_element(cpu.begin(), cpu.end()) * 1000 / mib, ok ? "" : "  FAILED");
        if (&c != &contenders.back()) {
            std::vector<double> waits, preempted;
            for (const Run &run : c.runs) {
                waits.push_back(double(run.waits));
                preempted.push_back(double(run.preempted));
            }
            std::printf(
                "    user space %.1f ms/MiB; context switches per MiB: %.0f waiting, %.0f preempted\n",
                median(figures(c, &Run::user)) * 1000 / mib, median(waits) / mib, median(preempted) / mib);
        }
    }
    const double sxSeconds = median(figures(contenders.back(), &Run::seconds));
    for (size_t i = 0; i + 1 < contenders.size(); ++i) {
        std::printf("  ratio %s / sx: %.2f\n", contenders[i].name,
                    sxSeconds / median(figures(contenders[i], &Run::seconds)));
    }
    std::vector<double> plain, queried;
    for (int i = 0; i < runs; ++i) {
        plain.push_back(chunkWriteLoop(dir.path(), sizeMiB, false) * 1000 / mib);
        queried.push_back(chunkWriteLoop(dir.path(), sizeMiB, true) * 1000 / mib);
    }
    std::printf(
        "16-byte writes alone to a pty read by cat, CPU per MiB: %.1f ms, %.1f ms with TIOCOUTQ after "
        "each (medians)\n",
        median(plain), median(queried));
    if (devsim != QLatin1String("none"))
        sendToSimulator(devsim, dir.path());
    return allOk ? 0 : 1;
}
