#pragma once

#include "device/portlock.h"
#include "update/identify.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

// The pre-flight check: what stands between this user and an update, found without sending a byte
// to the device. Everything it learns about the system comes through cSystemView, which a test
// fakes.

struct SystemPort
{
    QString name;      // as the system names it (ttyACM0), or the path of a simulated port
    QString path;      // the device node
    int vendorId = -1; // -1: no USB vendor ID
    int productId = -1;
    QString serialNumber;
    QString description;
    bool simulated = false; // listed by the device simulator, not by the system
};

enum class PortAccess { Ok, NoPermission, Busy, Gone, Failed };

struct NodeOwner
{
    bool known = false;
    QString user;
    QString group;
    uint mode = 0; // permission bits
};

class cSystemView
{
public:
    virtual ~cSystemView() = default;

    virtual QList<SystemPort> serialPorts() = 0;
    // Whether this user can open path for reading and writing now; detail says why not.
    virtual PortAccess access(const QString &path, QString &detail) = 0;
    virtual NodeOwner owner(const QString &path) = 0;
    virtual QString userName() = 0;
    // The groups this process has, and the groups the user belongs to (which differ after joining
    // a group until the next login).
    virtual QStringList processGroups() = 0;
    virtual QStringList memberGroups() = 0;
    // Processes that have path open, as far as /proc shows them.
    virtual QList<ProcessInfo> processesUsing(const QString &path) = 0;
    // The live program whose lock file holds the port (pid 0: a file that names none yet).
    virtual std::optional<ProcessInfo> lockHolder(const QString &path) { return portLockHolder(path); }
    virtual bool processRunning(const QString &name) = 0;
    virtual bool udevRunning() = 0;
    // The udev properties of the device node; empty when udev does not know it.
    virtual QMap<QString, QString> udevProperties(const QString &path) = 0;
    // Where the program's udev rule is installed, or empty.
    virtual QString installedUdevRule() = 0;
};

// The system this program runs on.
std::unique_ptr<cSystemView> makeSystemView();

struct Finding
{
    enum Kind { Ok, Note, Problem };
    Kind kind;
    QString text; // what was found and, for a problem, how to fix it
};

struct PreflightReport
{
    QList<Finding> findings;
    int problems() const;
    bool ready() const { return problems() == 0; }
    // One line a finding, "[ok] ...", "[note] ..." or "[problem] ...", then the verdict.
    QStringList lines() const;
};

// The name the udev rule is installed under.
inline constexpr char udevRuleName[] = "70-quaymend.rules";

PreflightReport runPreflight(cSystemView &system, const UpdateSource &source);
