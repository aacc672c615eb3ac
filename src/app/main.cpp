#include "app/commandline.h"
#include "app/highdpi.h"
#include "app/quaymend.h"
#include "app/runmodes.h"
#include "app/translation.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

void printTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    if (!bytes.endsWith('\n'))
        std::fputc('\n', stream);
    std::fflush(stream);
}

// Where update files are looked for, from the command line; on false, what is wrong has been said.
bool resolveSource(const CommandLine &commandLine, UpdateSource &source, QString &error)
{
    if (resolveUpdateSource(commandLine.sourceArgument, QCoreApplication::applicationDirPath(), source, error))
        return true;
    printTo(stderr, QStringLiteral("quaymend: ") + error);
    return false;
}

QStringList commandLineArguments(int argc, char *argv[])
{
    QStringList arguments;
#ifdef Q_OS_WIN
    // argv is in the ANSI code page, which cannot hold every file name: the wide command line can.
    int count = 0;
    if (wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments.append(QString::fromWCharArray(wide[i]));
        LocalFree(wide);
        return arguments;
    }
#endif
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

#ifdef Q_OS_WIN
// A program built for the Windows desktop has no console of its own. Started from one (--help,
// --list, --check, --batch), it writes to that one, unless its output already goes somewhere
// (a file, a pipe).
void useParentConsole()
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out != nullptr && out != INVALID_HANDLE_VALUE) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}
#endif

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    useParentConsole();
#endif
    const QStringList arguments = commandLineArguments(argc, argv);
    const CommandLine commandLine = parseCommandLine(arguments);

    switch (commandLine.mode) {
    case RunMode::Help:
    case RunMode::Version:
        printTo(stdout, commandLine.text);
        return ExitCode::Ok;
    case RunMode::Error:
        printTo(stderr, QStringLiteral("quaymend: %1\nTry 'quaymend --help'.").arg(commandLine.text));
        return ExitCode::BadCommandLine;
    case RunMode::Check: {
        QCoreApplication app(argc, argv);
        UpdateSource source;
        QString error;
        return resolveSource(commandLine, source, error) ? runCheck(source) : ExitCode::BadCommandLine;
    }
    case RunMode::List: {
        QCoreApplication app(argc, argv);
        return runList(commandLine);
    }
    case RunMode::Batch: {
        // No window, no display: an application object without a platform.
        quietDiagnostics();
        QCoreApplication app(argc, argv);
        installTranslations(app);
        UpdateSource source;
        QString error;
        return resolveSource(commandLine, source, error) ? runBatch(commandLine, source) : ExitCode::BadCommandLine;
    }
    case RunMode::Window:
        break;
    }

    useWholeScaleFactors();
    auto app = std::make_unique<QApplication>(argc, argv);
    // Lets a Wayland desktop match the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quaymend.Quaymend"));
    installTranslations(*app);

    UpdateSource source;
    QString error;
    if (!resolveSource(commandLine, source, error)) {
        QMessageBox::critical(nullptr, QStringLiteral("Quaymend"), error);
        return ExitCode::BadCommandLine;
    }

    auto dialog = std::make_unique<Quaymend>();
    dialog->flow().setUpdateSource(source);
    dialog->flow().bindToDevice(commandLine.serialNumber, commandLine.portName);
    dialog->show();
    const int result = app->exec();
    dialog.reset();
    return result;
}
