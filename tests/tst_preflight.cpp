#include "app/commandline.h"
#include "device/preflight.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A system as a test describes it: one device port at /dev/ttyACM0 unless a row says otherwise.
struct cFakeSystem : cSystemView
{
    QList<SystemPort> ports { { "ttyACM0", "/dev/ttyACM0", 0x3E71, 0x0001, "A1234", "AIS transponder", false } };
    PortAccess portAccess = PortAccess::Ok;
    NodeOwner node { true, "root", "dialout", 0660 };
    QStringList groupsNow { "alice" };
    QStringList groupsJoined { "alice" };
    QList<ProcessInfo> holders;
    std::optional<ProcessInfo> lock;
    bool modemManager = false;
    bool udev = true;
    QMap<QString, QString> properties { { "ID_VENDOR_ID", "3e71" } };
    QString rule = "/usr/lib/udev/rules.d/70-quaymend.rules";

    QList<SystemPort> serialPorts() override { return ports; }
    PortAccess access(const QString &, QString &detail) override
    {
        detail = portAccess == PortAccess::Busy ? "Device or resource busy" : "Permission denied";
        return portAccess;
    }
    NodeOwner owner(const QString &) override { return node; }
    QString userName() override { return "alice"; }
    QStringList processGroups() override { return groupsNow; }
    QStringList memberGroups() override { return groupsJoined; }
    QList<ProcessInfo> processesUsing(const QString &) override { return holders; }
    std::optional<ProcessInfo> lockHolder(const QString &) override { return lock; }
    bool processRunning(const QString &name) override { return modemManager && name == "ModemManager"; }
    bool udevRunning() override { return udev; }
    QMap<QString, QString> udevProperties(const QString &) override { return properties; }
    QString installedUdevRule() override { return rule; }
};

using Setup = std::function<void(cFakeSystem &, UpdateSource &)>;

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(RunMode)

// The pre-flight findings for one system each, and the command line that leads to them.
class tst_Preflight : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void findings_data();
    void findings();
    void commandLine_data();
    void commandLine();
    void updateSource_data();
    void updateSource();
    void namedFileOnly_data();
    void namedFileOnly();

private:
    QTemporaryDir m_tmp;
};

void tst_Preflight::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    QVERIFY(QDir(m_tmp.path()).mkdir("files"));
    QVERIFY(QDir(m_tmp.path()).mkdir("empty"));
    for (const char *name : { "730400_03_00_01.hex", "730400_03_00_02.img", "750400_01_00_00.hex", "notes.txt" }) {
        QFile file(m_tmp.path() + "/files/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("data");
    }
    QVERIFY(QFile::link(m_tmp.path() + "/files/730400_03_00_01.hex", m_tmp.path() + "/link.hex"));
    QVERIFY(::mkfifo(QFile::encodeName(m_tmp.path() + "/fifo").constData(), 0600) == 0);
}

void tst_Preflight::findings_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<QStringList>("expected"); // in this order, each the start of a line or inside one
    QTest::addColumn<QStringList>("absent");

    const auto none = [](cFakeSystem &, UpdateSource &) {};
    QTest::newRow("ready") << Setup(none) << true
                           << QStringList { "[ok] Serial port /dev/ttyACM0 (vendor ID 3E71, product ID 0001, serial number "
                                            "A1234, \"AIS transponder\"): it carries the AIS device's vendor ID 3E71.",
                                            "[ok] You can open /dev/ttyACM0 for reading and writing.",
                                            "[ok] ModemManager is not running",
                                            "[ok] Quaymend's udev rule is installed: /usr/lib/udev/rules.d/70-quaymend.rules",
                                            "[ok] Update file 730400_03_00_01.hex in ",
                                            "version 730400.03.00.01, for an AIS Class B CS Transceiver.",
                                            "[ok] Update file 730400_03_00_02.img",
                                            "[ok] Update file 750400_01_00_00.hex",
                                            "for an AIS Class B SO Transceiver.",
                                            "Ready: nothing stands in the way of an update." }
                           << QStringList { "notes.txt", "[problem]" };
    QTest::newRow("no device port") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.ports = { { "ttyS0", "/dev/ttyS0", -1, -1, "", "", false } };
        s.rule.clear();
    }) << false << QStringList { "[note] Serial port /dev/ttyS0 (vendor ID none, product ID none, serial number none): not the AIS device.",
                                 "[problem] No serial port carries the AIS device's vendor ID 3E71. Fix: connect",
                                 "[note] Quaymend's udev rule (70-quaymend.rules) is not installed",
                                 "Not ready: 1 problem stands in the way of an update." }
                       << QStringList { "You can open" };
    QTest::newRow("not in the group") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.portAccess = PortAccess::NoPermission;
    }) << false << QStringList { "[problem] You may not open /dev/ttyACM0 for reading and writing: it belongs to user root and "
                                 "group dialout with mode 0660, and you are not in group dialout. Fix: join the group "
                                 "with \"sudo usermod -aG dialout alice\", then log out and log in again; or install "
                                 "Quaymend's udev rule" }
                       << QStringList {};
    QTest::newRow("joined but not logged in again") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.portAccess = PortAccess::NoPermission;
        s.groupsJoined << "dialout";
    }) << false << QStringList { "you joined group dialout after this session began. Fix: log out and log in again" }
                       << QStringList { "usermod" };
    QTest::newRow("no group access") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.portAccess = PortAccess::NoPermission;
        s.node = { true, "daemon", "tty", 0600 };
    }) << false << QStringList { "user daemon and group tty with mode 0600, which lets no one else use it. Fix: install "
                                 "Quaymend's udev rule (70-quaymend.rules",
                                 "\"sudo setfacl -m u:alice:rw /dev/ttyACM0\"" }
                       << QStringList { "usermod" };
    QTest::newRow("group may only read") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.portAccess = PortAccess::NoPermission;
        s.node = { true, "root", "dialout", 0640 };
    }) << false << QStringList { "with mode 0640, which lets no one else use it." }
                       << QStringList { "usermod" };
    QTest::newRow("busy, holder found") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.portAccess = PortAccess::Busy;
        s.holders = { { 812, "minicom" } };
    }) << false << QStringList { "[problem] /dev/ttyACM0 is in use by minicom (process 812). Fix: close that program" }
                       << QStringList {};
    QTest::newRow("busy, lock holder first and named once") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.portAccess = PortAccess::Busy;
        s.holders = { { 900, "gpsd" }, { 812, "" } };
        s.lock = ProcessInfo { 812, "" };
    }) << false << QStringList { "/dev/ttyACM0 is in use by process 812, gpsd (process 900). Fix: close" }
                       << QStringList {};
    QTest::newRow("busy, holder hidden") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.portAccess = PortAccess::Busy;
    }) << false << QStringList { "[problem] /dev/ttyACM0 is in use by another program (Device or resource busy), which "
                                 "could not be found under /proc." }
                       << QStringList {};
    QTest::newRow("ModemManager in the way") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.modemManager = true;
    }) << false << QStringList { "[problem] ModemManager is running and may probe /dev/ttyACM0 with modem commands, which "
                                 "disturbs an update (ID_MM_DEVICE_IGNORE is not set on it). Fix: install",
                                 "\"sudo systemctl stop ModemManager\"" }
                       << QStringList {};
    QTest::newRow("ModemManager, udev unknown") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.modemManager = true;
        s.udev = false;
        s.properties.clear();
    }) << false << QStringList { "(udev could not tell whether ModemManager leaves it alone)" }
                       << QStringList {};
    QTest::newRow("ModemManager told to keep away") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.modemManager = true;
        s.properties.insert("ID_MM_DEVICE_IGNORE", "1");
    }) << true << QStringList { "[ok] ModemManager is running and leaves /dev/ttyACM0 alone (ID_MM_DEVICE_IGNORE=1)." }
                      << QStringList {};
    QTest::newRow("ModemManager told it may probe") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.modemManager = true;
        s.properties.insert("ID_MM_DEVICE_IGNORE", "0");
    }) << false << QStringList { "[problem] ModemManager is running and may probe /dev/ttyACM0" }
                       << QStringList { "leaves /dev/ttyACM0 alone" };
    QTest::newRow("simulated port") << Setup([](cFakeSystem &s, UpdateSource &) {
        s.ports = { { "/tmp/sim/ttySIM1", "/tmp/sim/ttySIM1", 0x3E71, -1, "", "", true } };
        s.modemManager = true;
    }) << true << QStringList { "[ok] Serial port /tmp/sim/ttySIM1 (simulated): it carries" }
                      << QStringList { "may probe" };
    QTest::newRow("no update file") << Setup([this](cFakeSystem &, UpdateSource &source) {
        source = UpdateSource(m_tmp.path() + "/empty");
    }) << false << QStringList { "[problem] There is no update file in " + QDir::toNativeSeparators(m_tmp.path() + "/empty") }
                       << QStringList { "Update file" };
    QTest::newRow("named file is the only one") << Setup([this](cFakeSystem &, UpdateSource &source) {
        source = UpdateSource(m_tmp.path() + "/files", "730400_03_00_01.hex");
    }) << true << QStringList { "[ok] Update file 730400_03_00_01.hex" }
                      << QStringList { "730400_03_00_02", "750400" };
    QTest::newRow("named file not an update file") << Setup([this](cFakeSystem &, UpdateSource &source) {
        source = UpdateSource(m_tmp.path() + "/files", "notes.txt");
    }) << false << QStringList { "[problem] notes.txt in " }
                       << QStringList { "[ok] Update file" };
}

void tst_Preflight::findings()
{
    QFETCH(Setup, setup);
    QFETCH(bool, ready);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, absent);

    cFakeSystem system;
    UpdateSource source(m_tmp.path() + "/files");
    setup(system, source);
    const PreflightReport report = runPreflight(system, source);
    const QString text = report.lines().join('\n');
    QCOMPARE(report.ready(), ready);
    qsizetype from = 0;
    for (const QString &needle : expected) {
        const qsizetype at = text.indexOf(needle, from);
        QVERIFY2(at >= 0, qPrintable("Not found in order: " + needle + "\n" + text));
        from = at + needle.size();
    }
    for (const QString &needle : absent)
        QVERIFY2(!text.contains(needle), qPrintable("Unexpected: " + needle + "\n" + text));
    // Every line is a finding with its mark, or the verdict at the end.
    const QStringList lines = report.lines();
    for (const QString &line : lines.mid(0, lines.size() - 1))
        QVERIFY2(line.startsWith("[ok] ") || line.startsWith("[note] ") || line.startsWith("[problem] "), qPrintable(line));
}

void tst_Preflight::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<RunMode>("mode");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("text"); // contained in the help, version or error text
    QTest::addColumn<int>("timeout");

    QTest::newRow("nothing") << QStringList {} << RunMode::Window << "" << "" << 0;
    QTest::newRow("folder") << QStringList { "/some/folder" } << RunMode::Window << "/some/folder" << "" << 0;
    QTest::newRow("help") << QStringList { "--help" } << RunMode::Help << ""
                          << "Usage: quaymend [options] [update file or folder]" << 0;
    QTest::newRow("help lists exit codes") << QStringList { "-h" } << RunMode::Help << ""
                                           << "  7    with --batch: the update port or the update file could not be used"
                                           << 0;
    QTest::newRow("version") << QStringList { "--version" } << RunMode::Version << ""
                             << "quaymend 730900.03.00.00\nQt " + QLatin1String(qVersion()) << 0;
    QTest::newRow("check") << QStringList { "--check", "x.hex" } << RunMode::Check << "x.hex" << "" << 0;
    QTest::newRow("batch") << QStringList { "--batch", "--json", "--no-driver", "--timeout", "90", "d" } << RunMode::Batch
                           << "d" << "" << 90;
    QTest::newRow("unknown option") << QStringList { "--bogus" } << RunMode::Error << "" << "Unknown option 'bogus'." << 0;
    QTest::newRow("two sources") << QStringList { "a", "b" } << RunMode::Error << "" << "at most one" << 0;
    QTest::newRow("empty source") << QStringList { "" } << RunMode::Error << "" << "empty name" << 0;
    QTest::newRow("check and batch") << QStringList { "--check", "--batch" } << RunMode::Error << ""
                                     << "cannot be used together" << 0;
    QTest::newRow("json alone") << QStringList { "--json" } << RunMode::Error << "" << "--json works with --batch only" << 0;
    QTest::newRow("json with check") << QStringList { "--check", "--json" } << RunMode::Error << ""
                                     << "--json works with --batch only" << 0;
    QTest::newRow("no-driver with check") << QStringList { "--check", "--no-driver" } << RunMode::Error << ""
                                          << "--no-driver works with --batch only" << 0;
    QTest::newRow("timeout with check") << QStringList { "--check", "--timeout", "90" } << RunMode::Error << ""
                                        << "--timeout works with --batch only" << 0;
    QTest::newRow("timeout not a number") << QStringList { "--batch", "--timeout", "soon" } << RunMode::Error << ""
                                          << "not \"soon\"" << 0;
    QTest::newRow("timeout zero") << QStringList { "--batch", "--timeout=0" } << RunMode::Error << "" << "from 1" << 0;
    QTest::newRow("timeout of a week") << QStringList { "--batch", "--timeout=604800" } << RunMode::Batch << "" << ""
                                       << 604800;
    QTest::newRow("timeout over a week") << QStringList { "--batch", "--timeout=604801" } << RunMode::Error << ""
                                         << "to 604800" << 0;
    QTest::newRow("timeout missing") << QStringList { "--batch", "--timeout" } << RunMode::Error << ""
                                     << "Missing value after '--timeout'." << 0;
    QTest::newRow("list") << QStringList { "--list", "--json", "--serial", "A1" } << RunMode::List << "" << "" << 0;
    QTest::newRow("list with a source") << QStringList { "--list", "d" } << RunMode::Error << "" << "no update file" << 0;
    QTest::newRow("list and batch") << QStringList { "--list", "--batch" } << RunMode::Error << "" << "cannot be used"
                                    << 0;
    QTest::newRow("bound window") << QStringList { "--port", "ttyACM3", "d" } << RunMode::Window << "d" << "" << 0;
    QTest::newRow("serial with check") << QStringList { "--check", "--serial", "A1" } << RunMode::Error << ""
                                       << "--serial cannot be used with --check" << 0;
    QTest::newRow("empty serial") << QStringList { "--batch", "--serial=" } << RunMode::Error << "" << "--serial needs a value"
                                  << 0;
}

void tst_Preflight::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(RunMode, mode);
    QFETCH(QString, source);
    QFETCH(QString, text);
    QFETCH(int, timeout);

    const CommandLine parsed = parseCommandLine(QStringList { "quaymend" } + arguments);
    QVERIFY2(parsed.text.contains(text), qPrintable(parsed.text));
    QCOMPARE(parsed.mode, mode);
    if (mode == RunMode::Error)
        return;
    QCOMPARE(parsed.sourceArgument, source);
    QCOMPARE(parsed.timeoutSeconds, timeout);
    QCOMPARE(parsed.json, arguments.contains("--json"));
    QCOMPARE(parsed.noDriver, arguments.contains("--no-driver"));
}

void tst_Preflight::updateSource_data()
{
    QTest::addColumn<QString>("argument"); // relative to the test's folder; "" for none
    QTest::addColumn<QString>("directory"); // "" when the argument cannot be used
    QTest::addColumn<QString>("onlyName");
    QTest::addColumn<QString>("error");

    QTest::newRow("none: the program's folder") << "" << "/opt/program" << "" << "";
    QTest::newRow("folder") << "files" << "files" << "" << "";
    QTest::newRow("file") << "files/730400_03_00_01.hex" << "files" << "730400_03_00_01.hex" << "";
    QTest::newRow("link to a file keeps its own name") << "link.hex" << "." << "link.hex" << "";
    QTest::newRow("missing") << "nothing-here" << "" << "" << "does not exist";
    QTest::newRow("fifo") << "fifo" << "" << "" << "neither an update file nor a folder";
}

void tst_Preflight::updateSource()
{
    QFETCH(QString, argument);
    QFETCH(QString, directory);
    QFETCH(QString, onlyName);
    QFETCH(QString, error);

    const QString base = m_tmp.path() + '/';
    UpdateSource source;
    QString why;
    const bool ok = resolveUpdateSource(argument.isEmpty() ? argument : base + argument, "/opt/program", source, why);
    QCOMPARE(ok, error.isEmpty());
    QVERIFY2(why.contains(error), qPrintable(why));
    if (!ok)
        return;
    const QString wanted = argument.isEmpty() ? directory : QDir::cleanPath(base + directory);
    QCOMPARE(QDir::cleanPath(source.directory), wanted);
    QCOMPARE(source.onlyName, onlyName);
}

// A file named on the command line is the only candidate, and must still suit the device.
void tst_Preflight::namedFileOnly_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("onlyName");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("chosen");

    QTest::newRow("older of two, as named") << QByteArray("730400.03.00.00") << "730400_03_00_01.hex"
                                            << int(DetectionOutcome::UpdateRequired) << "730400_03_00_01.hex";
    QTest::newRow("whole folder takes the greatest") << QByteArray("730400.03.00.00") << ""
                                                     << int(DetectionOutcome::UpdateRequired) << "730400_03_00_02.img";
    QTest::newRow("named file, device newer") << QByteArray("730400.03.00.01") << "730400_03_00_01.hex"
                                              << int(DetectionOutcome::UpToDate) << "730400_03_00_01.hex";
    QTest::newRow("not named like an update file") << QByteArray("730400.03.00.00") << "notes.txt"
                                                   << int(DetectionOutcome::NoUpdateFile) << "";
    QTest::newRow("file for the other kind") << QByteArray("730400.03.00.00") << "750400_01_00_00.hex"
                                             << int(DetectionOutcome::NoUpdateFile) << "";
}

void tst_Preflight::namedFileOnly()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, onlyName);
    QFETCH(int, outcome);
    QFETCH(QString, chosen);

    const Identification found = identify(reply, UpdateSource(m_tmp.path() + "/files", onlyName));
    QCOMPARE(int(found.outcome), outcome);
    QCOMPARE(found.updateFileName, chosen);
}

QTEST_MAIN(tst_Preflight)
#include "tst_preflight.moc"
