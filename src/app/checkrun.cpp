#include "app/runmodes.h"
#include "app/version.h"
#include "device/preflight.h"

#include <cstdio>

int runCheck(const UpdateSource &source)
{
    const std::unique_ptr<cSystemView> system = makeSystemView();
    const PreflightReport report = runPreflight(*system, source);
    QByteArray text = QByteArray("Quaymend ") + programVersion + " pre-flight check\n";
    for (const QString &line : report.lines())
        text += line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    return report.ready() ? ExitCode::Ok : ExitCode::CheckFoundProblems;
}
