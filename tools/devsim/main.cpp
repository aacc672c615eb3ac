#include "device.h"
#include "eventloop.h"
#include "log.h"
#include "options.h"
#include "ptyport.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // Stop signals are blocked before anything else so that none can slip past the event loop.
    cEventLoop::blockStopSignals();
    // A test that crashes must not leave simulators behind, talking to ports nobody reads.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        return 0;

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quaymend-devsim"));

    cOptions options;
    QString error;
    switch (parseOptions(QCoreApplication::arguments(), options, error)) {
    case eParseResult::Help:
        return 0;
    case eParseResult::Error:
        std::fprintf(stderr, "quaymend-devsim: %s\n", qPrintable(error));
        return 2;
    case eParseResult::Ok:
        break;
    }

    if (!options.usbGadget)
        cPtyPort::setLinkDirectory(QFileInfo(options.portsFile).absolutePath());
    cEventLoop loop;
    cDevice device(loop, options);
    if (!device.start())
        return 1;
    const int exitCode = loop.run();
    device.stop();
    devLog(QStringLiteral("stopped"));
    return exitCode;
}
