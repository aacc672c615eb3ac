#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <set>

struct cOptions
{
    QString portsFile;  // with usbGadget: none, the program finds the gadget through the kernel
    QString imagePath;
    QString version = QStringLiteral("730400.03.00.00");
    QString newVersion; // empty: same as version
    QString serial;     // USB serial number of the device's ports; empty: none

    int bootDelayMs = 1000;
    int teardownDelayMs = 0; // from the boot command until the application's port goes away
    int restartDelayMs = 500;
    int replyDelayMs = 0;
    int startDelayMs = 0;
    int flashMs = 0;
    int chatterMs = 0; // the application's own sentences, one every so often; 0: none
    qint64 linkSpeed = 0; // bytes per second, 0 = as fast as the pty goes

    bool usbGadget = false; // ports are USB gadgets through configfs instead of ptys
    QString udc;            // with usbGadget: which controller; empty: the first free one

    bool noApp = false;
    bool noRestart = false; // after an update the device stays in its boot loader
    bool silentPort = false;
    bool foreignPort = false;

    std::set<QString> faults; // the --fault names

    // Transfer faults, keyed by the block's position in the transfer (1, 2, 3, ... never wraps).
    std::map<int, int> nakBlock;     // position -> how many arrivals get a NAK
    std::map<int, int> silentBlock;  // position -> how many arrivals get no answer
    std::map<int, int> oddResponse;  // position -> how many arrivals get 'C'
    std::map<int, int> zeroResponse; // position -> how many arrivals get 0x00
    std::map<int, int> lateAckMs;    // position -> delay of the ACK for its first arrival
    int vanishBlock = 0;             // 0: never
    int replugBlock = 0;             // 0: never
    int replugDelayMs = 1000;
    int badHandshakes = 0;           // how many handshakes get 'X' instead of 'C'
    bool nakEot = false;
    bool silentEot = false;
    bool nakAll = false;

    bool has(const char *fault) const { return faults.count(QString::fromLatin1(fault)) != 0; }
    QString versionAfterUpdate() const { return newVersion.isEmpty() ? version : newVersion; }
};

enum class eParseResult { Ok, Help, Error };

// Fills options from the command line; on Error, error says why; on Help the help text was printed.
eParseResult parseOptions(const QStringList &arguments, cOptions &options, QString &error);
