#include "app/commandline.h"

#include "app/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace {

const char exitCodeHelp[] = "Exit codes:\n"
                            "  0    the device runs the newest version (updated and confirmed, or already up\n"
                            "       to date); with --no-confirm: the update file was sent;\n"
                            "       with --check: nothing stands in the way of an update\n"
                            "  1    with --check: something stands in the way of an update\n"
                            "  2    bad command line, or an update file or folder that cannot be used\n"
                            "  3    with --batch: no update file for this device\n"
                            "  4    with --batch: no device found; with --list: no AIS device present\n"
                            "  5    with --batch: could not connect to the boot loader\n"
                            "  6    with --batch: the update failed\n"
                            "  7    with --batch: the update port or the update file could not be used\n"
                            "  8    with --batch: the file was sent, but the device did not confirm the update\n"
                            "       (it reports another version, or did not answer in time)\n"
                            "  130  with --batch: interrupted before the transfer began\n";

CommandLine failure(const QString &why)
{
    CommandLine result;
    result.mode = RunMode::Error;
    result.text = why;
    return result;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Updates the firmware of an AIS Class B transponder connected by USB.\n"
        "Without options the update wizard opens. The update file or folder defaults to the\n"
        "program's own folder; a file named there is the only update file considered."));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") },
                                  QStringLiteral("Shows this help and the exit codes."));
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") },
                                     QStringLiteral("Shows the program's version and the Qt version it runs on."));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Checks, without a window, whether anything stands in the way of "
                                                  "an update (ports, permissions, ModemManager, update files)."));
    const QCommandLineOption batch(QStringLiteral("batch"),
                                   QStringLiteral("Updates the device without a window and without questions, "
                                                  "writing the update log to standard output."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("With --batch or --list: one JSON object a line on standard output."));
    const QCommandLineOption noDriver(QStringLiteral("no-driver"),
                                      QStringLiteral("With --batch: never offer the USB driver installation; a "
                                                     "second detection that finds nothing ends the run."));
    const QCommandLineOption noConfirm(
        QStringLiteral("no-confirm"),
        QStringLiteral("With --batch: do not wait for the device to report its new version after the "
                       "transfer (for devices that do not restart by themselves); the run ends as "
                       "\"sent\", with a warning."));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("With --batch: end the run after this many seconds (never "
                                                    "during a transfer)."),
                                     QStringLiteral("seconds"));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Lists the AIS devices present, one a line: port, serial number, kind "
                                                 "(application or boot loader) and version."));
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("Binds the run to the device with this USB serial number; no other "
                                                   "device is asked anything. Also with --batch and --list."),
                                    QStringLiteral("number"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Binds the run to the device on this port (ttyACM0 or /dev/ttyACM0); no "
                                                 "other port is asked anything. Also with --batch and --list."),
                                  QStringLiteral("name"));
    parser.addOptions({ help, version, check, batch, json, noDriver, noConfirm, timeout, list, serial, port });
    parser.addPositionalArgument(QStringLiteral("source"),
                                 QStringLiteral("An update file, or a folder holding update files."),
                                 QStringLiteral("[update file or folder]"));

    if (!parser.parse(arguments))
        return failure(parser.errorText());

    CommandLine result;
    if (parser.isSet(help)) {
        result.mode = RunMode::Help;
        // The usage line names the program as it is installed, however it was started.
        QString text = parser.helpText();
        const qsizetype options = text.indexOf(QLatin1String(" [options]"));
        if (text.startsWith(QLatin1String("Usage: ")) && options > 0)
            text.replace(7, options - 7, QLatin1String("quaymend"));
        result.text = text + QLatin1Char('\n') + QLatin1String(exitCodeHelp);
        return result;
    }
    if (parser.isSet(version)) {
        result.mode = RunMode::Version;
        result.text = QStringLiteral("quaymend %1\nQt %2\n").arg(QLatin1String(programVersion),
                                                                QLatin1String(qVersion()));
        return result;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return failure(QStringLiteral("Give at most one update file or folder."));
    if (!positional.isEmpty()) {
        result.sourceArgument = positional.first();
        if (result.sourceArgument.isEmpty())
            return failure(QStringLiteral("The update file or folder is an empty name."));
    }

    if (parser.isSet(check) && parser.isSet(batch))
        return failure(QStringLiteral("--check and --batch cannot be used together."));
    if (parser.isSet(list) && (parser.isSet(check) || parser.isSet(batch)))
        return failure(QStringLiteral("--list cannot be used with --check or --batch."));
    result.mode = parser.isSet(check) ? RunMode::Check : parser.isSet(batch) ? RunMode::Batch : RunMode::Window;
    if (parser.isSet(list))
        result.mode = RunMode::List;
    result.serialNumber = parser.value(serial);
    result.portName = parser.value(port);
    for (const QCommandLineOption *option : { &serial, &port }) {
        if (parser.isSet(*option) && parser.value(*option).isEmpty())
            return failure(QStringLiteral("--%1 needs a value.").arg(option->names().constFirst()));
        if (parser.isSet(*option) && result.mode == RunMode::Check)
            return failure(QStringLiteral("--%1 cannot be used with --check.").arg(option->names().constFirst()));
    }
    if (result.mode == RunMode::List) {
        if (!positional.isEmpty())
            return failure(QStringLiteral("--list takes no update file or folder."));
        for (const QCommandLineOption *option : { &noDriver, &noConfirm, &timeout }) {
            if (parser.isSet(*option))
                return failure(QStringLiteral("--%1 works with --batch only.").arg(option->names().constFirst()));
        }
        result.json = parser.isSet(json);
        return result;
    }

    result.json = parser.isSet(json);
    result.noDriver = parser.isSet(noDriver);
    result.noConfirm = parser.isSet(noConfirm);
    if (parser.isSet(timeout)) {
        bool ok = false;
        const QString value = parser.value(timeout);
        result.timeoutSeconds = value.toInt(&ok);
        if (!ok || result.timeoutSeconds <= 0 || result.timeoutSeconds > 7 * 24 * 3600)
            return failure(QStringLiteral("--timeout needs a whole number of seconds from 1 to 604800, not \"%1\".")
                               .arg(value));
    }
    if (result.mode != RunMode::Batch) {
        for (const QCommandLineOption *option : { &json, &noDriver, &noConfirm, &timeout }) {
            if (parser.isSet(*option))
                return failure(QStringLiteral("--%1 works with --batch only.").arg(option->names().constFirst()));
        }
    }
    return result;
}

bool resolveUpdateSource(const QString &argument, const QString &programDirectory, UpdateSource &source,
                         QString &error)
{
    if (argument.isEmpty()) {
        source = UpdateSource(programDirectory);
        return true;
    }
    const QFileInfo info(argument);
    if (!info.exists()) {
        error = QCoreApplication::translate("Quaymend", "\"%1\" does not exist.").arg(argument);
        return false;
    }
    if (info.isDir()) {
        if (!info.isReadable() || !info.isExecutable()) {
            error = QCoreApplication::translate("Quaymend", "The folder \"%1\" cannot be read.").arg(argument);
            return false;
        }
        source = UpdateSource(info.absoluteFilePath());
        return true;
    }
    if (!info.isFile()) {
        error = QCoreApplication::translate("Quaymend", "\"%1\" is neither an update file nor a folder.").arg(argument);
        return false;
    }
    if (!info.isReadable()) {
        error = QCoreApplication::translate("Quaymend", "The update file \"%1\" cannot be read.").arg(argument);
        return false;
    }
    source = UpdateSource(info.absolutePath(), info.fileName());
    return true;
}
