#include "options.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

const char *const kFaultNames[] = {
    "no-reply",      "noise",      "bad-checksum",         "lowercase-checksum", "status-256",
    "empty-field5",  "no-bootloader", "handshake-first-byte", "silent-after-echo", "u-forever",
    "not-c",         "two-bootloaders", "other-bootloader-first",
};

const char kFaultHelp[] = R"(Faults for --fault NAME (repeat the option to combine them):
  no-reply              the application never answers appver
  noise                 three other valid sentences ($GPGGA, !AIVDM, $PKVR status 7) before the reply
  bad-checksum          the reply carries a wrong checksum
  lowercase-checksum    the reply checksum in lower-case hex; only visible if it contains a letter,
                        which plain digit versions never give: use e.g. --version 730400.03.00.00-beta (*3f)
  status-256            reply $PKVR,256,0,0,*XX
  empty-field5          reply with status 255 and an empty version field
  no-bootloader         after the boot command the port goes away and no boot loader appears
  handshake-first-byte  the boot loader streams 'C' instead of 'U' and answers nothing
  silent-after-echo     after the program's 'U' the boot loader sends nothing
  u-forever             after the program's 'U' the boot loader keeps sending 'U', never 'C'
  not-c                 after the program's 'U' the boot loader sends 'X' instead of 'C', then nothing
  two-bootloaders       two boot loader ports are listed; only the last one listed works
  other-bootloader-first  at the boot command a second device's boot loader comes up at once, with
                        serial number OTHER-<serial> (OTHER without --serial), before this device's
                        own and listed after it; it takes an image like this one's and writes it
                        to <image>.other

Faults belong to the transponder, so they hold for the application it restarts into as well. The silent
and foreign ports are other equipment: they stay listed through boot loader and restart.

Transfer faults count blocks by position in the transfer (1, 2, 3, ...; position 256 is block number 0).
N:K means "the first K arrivals of block N"; several faults on one block take their turns in the order
nak, silent, odd, zero. The counts last across transfers to the same boot loader, so a test can make a
first attempt fail and a retry succeed. After any cancel (sent or received) the boot loader starts its
'U' stream again on the same port, and a 'U' while it waits for a block header starts a new handshake.

With --usb-gadget the application and the boot loader are USB devices on a gadget controller (UDC),
made through configfs (/sys/kernel/config/usb_gadget/quaymend-devsim-<pid>-app and -boot): vendor
3E71, product 0001 (application) or 0002 (boot loader), one CDC ACM function each, the serial
number string only with --serial. The application's gadget is unbound at the boot command (after
--teardown-delay), the boot loader's bound after --boot-delay, and so on; the program finds them as
the host's /dev/ttyACM<n>. Several simulators need a UDC each (dummy_hcd num=N, --udc). The extra
ports (--silent-port, --foreign-port, two-bootloaders, other-bootloader-first) are pty-only.

Log lines on stderr (one event each, stable wording; <n> is the block position):
  devsim: ready                                  first ports file written, or first gadget bound
  devsim: ports file: <path> <vid>, ... | (empty) ports file rewritten
  devsim: application port <path> up (version <v>)
  devsim: application port <path> down
  devsim: gadget <name> up on <udc> (product <pid>, serial number <s>|no serial number), device side <tty>
  devsim: gadget <name> seen by the host as <tty>  (dummy_hcd only, once the host's tty appears)
  devsim: gadget <name> down / gadget <name> hung up from outside, port <tty> closed
  devsim: silent port <path> up / foreign port <path> up
  devsim: silent port got <line> / foreign port got <line> / foreign port tx <line>
  devsim: rx line <line>                          a complete line on the application port
  devsim: ignored line (<reason>): <line>
  devsim: ignored <k> bytes without line end: <bytes>
  devsim: tx line <line>                          anything the application sends
  devsim: no reply (fault no-reply)
  devsim: boot command received
  devsim: no boot loader (fault no-bootloader)
  devsim: boot loader port <path> up [(silent)|(other device)]
  devsim: boot loader port <path> down
  devsim: sending U stream
  devsim: rx U (handshake) / rx U (new handshake)
  devsim: tx C / tx C (repeat <k>) / tx C instead of U stream (fault handshake-first-byte)
  devsim: tx X instead of C (fault not-c) / silent after handshake U (fault silent-after-echo)
  devsim: keeps sending U (fault u-forever)
  devsim: no block after handshake, back to U stream
  devsim: boot loader ignored <k> bytes: <bytes> / silent boot loader ignored <k> bytes: <bytes>
  devsim: block <n> ACK / block <n> duplicate ACK
  devsim: block <n> NAK (bad header|bad CRC|incomplete, <k> of 1029 bytes)
  devsim: tx NAK block <n> (fault) / no answer to block <n> (fault) / tx 'C' for block <n> (fault)
  devsim: tx 0x00 for block <n> (fault) / block <n> ACK delayed <ms> ms (fault) / block <n> late ACK
  devsim: tx 8 CAN (block number <b>, expected <e>)
  devsim: transfer cancelled by sender (<k> CAN)
  devsim: EOT ACK / EOT NAK (fault nak-eot) / no answer to EOT (fault silent-eot) / EOT ACK (repeat)
  devsim: EOT ACK without data, staying in boot loader
  devsim: image written <bytes> bytes to <path> / image not written (no --image), <bytes> bytes
  devsim: restarted into application
  devsim: staying in boot loader (no-restart)
  devsim: device vanished during block <n> (fault)
  devsim: device unplugged during block <n> (fault replug) / device replugged
  devsim: tx X instead of C (fault bad-handshakes, <k> left)
  devsim: unexpected rx <k> bytes: <bytes>       received, and not what the program sends: its
                                                 appver and boot command lines, one U a handshake,
                                                 blocks, EOT, CAN (a deaf boot loader judges nothing)
  devsim: stopping (signal <s>) ... devsim: unexpected bytes <total> ... devsim: stopped
                                                 ports file emptied in between
  devsim: error: <what>                          the simulator exits with status 1
  devsim: warning: <what>                        e.g. lowercase-checksum with no letter to lower

The simulator ends itself when the process that started it ends (Linux parent-death signal).
)";

bool parseBlockFault(const QString &text, std::map<int, int> &into, QString &error, const char *option)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool okBlock = false;
    bool okCount = false;
    const int block = parts.value(0).toInt(&okBlock);
    const int count = parts.value(1).toInt(&okCount);
    if (parts.size() != 2 || !okBlock || !okCount || block < 1 || count < 0) {
        error = QStringLiteral("--%1 wants N:K with N >= 1, got \"%2\"").arg(QLatin1String(option), text);
        return false;
    }
    into[block] = count;
    return true;
}

bool parseMs(const QCommandLineParser &parser, const char *option, int &into, QString &error)
{
    if (!parser.isSet(QLatin1String(option)))
        return true;
    bool ok = false;
    const int value = parser.value(QLatin1String(option)).toInt(&ok);
    if (!ok || value < 0) {
        error = QStringLiteral("--%1 wants a number >= 0").arg(QLatin1String(option));
        return false;
    }
    into = value;
    return true;
}

} // namespace

eParseResult parseOptions(const QStringList &arguments, cOptions &options, QString &error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the AIS transponder (application, boot loader, XMODEM-1K receiver) on pseudo-terminals\n"
        "and lists its ports as \"<path> <vendor id> [serial number]\" lines in the ports file\n"
        "(QUAYMEND_SIMULATED_PORTS; several simulated devices: their ports files separated by ':'),\n"
        "or with --usb-gadget as USB devices on a gadget controller."));
    const auto add = [&parser](const char *name, const char *help, const char *valueName = nullptr) {
        if (valueName)
            parser.addOption({QLatin1String(name), QLatin1String(help), QLatin1String(valueName)});
        else
            parser.addOption({QLatin1String(name), QLatin1String(help)});
    };
    add("help", "Show this help, the fault list and the log lines.");
    add("ports-file", "File to keep the port list in (required without --usb-gadget); rewritten atomically.", "path");
    add("usb-gadget", "Attach the device as USB gadgets (configfs, CDC ACM) instead of pseudo-terminals.");
    add("udc", "With --usb-gadget: the USB device controller (default: the first one free).", "name");
    add("chatter", "The application sends a sentence of its own every MS, unasked (default 0: never).", "ms");
    add("image", "Where the boot loader writes the received image after EOT.", "path");
    add("version", "Application version reported by appver (default 730400.03.00.00).", "text");
    add("new-version", "Version reported after an update (default: --version).", "text");
    add("serial", "USB serial number of the device's ports, application and boot loader alike (default: none).",
        "text");
    add("boot-delay",
        "Time from the application leaving to the boot loader port appearing (default 1000).", "ms");
    add("teardown-delay",
        "Time from the boot command to the application port going away; it answers nothing meanwhile\n"
        "(default 0: at once).", "ms");
    add("restart-delay", "Time from the final EOT to the application port appearing (default 500).", "ms");
    add("reply-delay", "Delay before the application answers appver (default 0).", "ms");
    add("start-delay", "Delay before the first port appears; the ports file starts empty (default 0).", "ms");
    add("no-app", "The device has no application: it starts in its boot loader.");
    add("no-restart", "After a complete update the device stays in its boot loader; no application comes back.");
    add("silent-port", "List an extra 3E71 port before the device that never answers.");
    add("foreign-port", "List an extra 0403 port first that answers appver like a device.");
    add("link-speed", "Bytes per second the device reads and writes (default 0 = unlimited).", "bps");
    add("flash-ms", "Time the boot loader spends after each good block before its ACK (default 0).", "ms");
    add("fault", "Inject a fault, see the list below; repeatable.", "name");
    add("nak-block", "NAK block N the first K times it arrives; repeatable.", "N:K");
    add("silent-block", "Say nothing to block N the first K times; repeatable.", "N:K");
    add("odd-response", "Answer block N with 'C' the first K times; repeatable.", "N:K");
    add("zero-response", "Answer block N with 0x00 the first K times; repeatable.", "N:K");
    add("late-ack", "Accept the first arrival of block N but ACK it MS later; repeatable.", "N:MS");
    add("nak-eot", "NAK the first EOT.");
    add("silent-eot", "Say nothing to EOT (the image is still written and the device restarts).");
    add("vanish-block", "The device disappears for good about 500 bytes into block N.", "N");
    add("replug-block",
        "The device disappears about 500 bytes into block N, once, and comes back like a replugged one:\n"
        "its boot loader on a new port, sending its U stream; the fault counts carry over.", "N");
    add("replug-delay", "Time from the unplugging to the new boot loader port (default 1000).", "ms");
    add("bad-handshakes",
        "The first K handshakes get 'X' instead of 'C'; the boot loader then sends its U stream again.", "K");
    add("nak-all", "NAK every block.");

    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return eParseResult::Error;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        const QByteArray text = parser.helpText().toUtf8() + '\n' + kFaultHelp;
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        return eParseResult::Help;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());
        return eParseResult::Error;
    }

    options.portsFile = parser.value(QStringLiteral("ports-file"));
    options.usbGadget = parser.isSet(QStringLiteral("usb-gadget"));
    options.udc = parser.value(QStringLiteral("udc"));
    if (options.portsFile.isEmpty() && !options.usbGadget) {
        error = QStringLiteral("--ports-file is required");
        return eParseResult::Error;
    }
    if (!options.udc.isEmpty() && !options.usbGadget) {
        error = QStringLiteral("--udc needs --usb-gadget");
        return eParseResult::Error;
    }
    options.imagePath = parser.value(QStringLiteral("image"));
    if (parser.isSet(QStringLiteral("version")))
        options.version = parser.value(QStringLiteral("version"));
    options.newVersion = parser.value(QStringLiteral("new-version"));
    options.serial = parser.value(QStringLiteral("serial"));
    if (options.serial.contains(QLatin1Char(' ')) || options.serial.contains(QLatin1Char('\n'))) {
        error = QStringLiteral("--serial must not contain spaces or line ends");
        return eParseResult::Error;
    }
    if (!parseMs(parser, "boot-delay", options.bootDelayMs, error)
        || !parseMs(parser, "teardown-delay", options.teardownDelayMs, error)
        || !parseMs(parser, "restart-delay", options.restartDelayMs, error)
        || !parseMs(parser, "reply-delay", options.replyDelayMs, error)
        || !parseMs(parser, "start-delay", options.startDelayMs, error)
        || !parseMs(parser, "flash-ms", options.flashMs, error)
        || !parseMs(parser, "chatter", options.chatterMs, error))
        return eParseResult::Error;
    int linkSpeed = 0;
    if (!parseMs(parser, "link-speed", linkSpeed, error))
        return eParseResult::Error;
    options.linkSpeed = linkSpeed;
    int vanish = 0;
    if (!parseMs(parser, "vanish-block", vanish, error))
        return eParseResult::Error;
    options.vanishBlock = vanish;
    if (!parseMs(parser, "replug-block", options.replugBlock, error)
        || !parseMs(parser, "replug-delay", options.replugDelayMs, error)
        || !parseMs(parser, "bad-handshakes", options.badHandshakes, error))
        return eParseResult::Error;

    options.noApp = parser.isSet(QStringLiteral("no-app"));
    options.noRestart = parser.isSet(QStringLiteral("no-restart"));
    options.silentPort = parser.isSet(QStringLiteral("silent-port"));
    options.foreignPort = parser.isSet(QStringLiteral("foreign-port"));
    options.nakEot = parser.isSet(QStringLiteral("nak-eot"));
    options.silentEot = parser.isSet(QStringLiteral("silent-eot"));
    options.nakAll = parser.isSet(QStringLiteral("nak-all"));

    for (const QString &fault : parser.values(QStringLiteral("fault"))) {
        bool known = false;
        for (const char *name : kFaultNames)
            known = known || fault == QLatin1String(name);
        if (!known) {
            error = QStringLiteral("unknown fault \"%1\" (see --help)").arg(fault);
            return eParseResult::Error;
        }
        options.faults.insert(fault);
    }
    const std::pair<const char *, std::map<int, int> *> blockFaults[] = {
        {"nak-block", &options.nakBlock},         {"silent-block", &options.silentBlock},
        {"odd-response", &options.oddResponse},   {"zero-response", &options.zeroResponse},
        {"late-ack", &options.lateAckMs},
    };
    for (const auto &[name, into] : blockFaults) {
        for (const QString &value : parser.values(QLatin1String(name))) {
            if (!parseBlockFault(value, *into, error, name))
                return eParseResult::Error;
        }
    }
    if (options.usbGadget) {
        // Each of these is another device on the bus, which on USB takes a controller of its own:
        // a second simulator with its own --udc plays it.
        const QString extra = options.silentPort                       ? QStringLiteral("--silent-port")
            : options.foreignPort                                      ? QStringLiteral("--foreign-port")
            : options.has("two-bootloaders")                          ? QStringLiteral("--fault two-bootloaders")
            : options.has("other-bootloader-first")                   ? QStringLiteral("--fault other-bootloader-first")
                                                                       : QString();
        if (!extra.isEmpty()) {
            error = QStringLiteral("%1 is not for --usb-gadget; run another simulator on another UDC").arg(extra);
            return eParseResult::Error;
        }
    }
    return eParseResult::Ok;
}
