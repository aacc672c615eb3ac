// The simulated-ports file reader, through the public port enumeration.
//
// Input: the contents of the file QUAYMEND_SIMULATED_PORTS names.
#include "device/portenum.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_portsfile: %s\n", what);
        std::abort();
    }
}

struct Setup
{
    QTemporaryDir dir;
    QString path;
    qsizetype realPorts = 0;

    Setup()
    {
        check(dir.isValid(), "no temporary folder");
        path = dir.filePath(QStringLiteral("ports"));
        qunsetenv("QUAYMEND_SIMULATED_PORTS");
        realPorts = enumeratePorts().size();
        qputenv("QUAYMEND_SIMULATED_PORTS", QFile::encodeName(path));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Setup setup;
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(setup.path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size(),
              "cannot write the ports file");
    }
    const QList<cPortInfo> ports = enumeratePorts();
    // The real ports come first (the machine's own ports do not change during a run).
    check(ports.size() >= setup.realPorts, "real ports lost");
    const qsizetype simulated = ports.size() - setup.realPorts;
    check(simulated <= contents.count('\n') + 1, "more ports than lines");
    for (qsizetype i = setup.realPorts; i < ports.size(); ++i) {
        const cPortInfo &port = ports.at(i);
        check(!port.portName.isEmpty(), "simulated port without a name");
        check(port.vendorID >= 0 && port.vendorID <= 0xFFFF, "vendor ID out of range");
        check(!port.portName.contains(QLatin1Char(' ')) && !port.portName.contains(QLatin1Char('\n')),
              "port name spans fields");
        check(!port.serialNumber.contains(QLatin1Char(' ')) && !port.serialNumber.contains(QLatin1Char('\n')),
              "serial number spans fields");
    }
    return 0;
}
