#include "freshprocess.h"

#include "builtprogram.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

namespace {
constexpr char caseVariable[] = "QUAYMEND_FRESH_PROCESS_CASE";
}

bool inFreshProcess(int timeoutMs)
{
    QString testCase = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag() && *QTest::currentDataTag())
        testCase += QLatin1Char(':') + QString::fromLatin1(QTest::currentDataTag());
    if (qEnvironmentVariable(caseVariable) == testCase)
        return true;

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(caseVariable), testCase);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    startBuilt(child, QCoreApplication::applicationFilePath(), { testCase });
    const bool ended = child.waitForFinished(timeoutMs);
    if (!ended) {
        child.kill();
        child.waitForFinished(5000);
    }
    const QByteArray output = child.readAll();
    const bool passed = ended && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    if (!passed)
        qWarning("fresh process for %s failed:\n%s", qPrintable(testCase), output.constData());
    QTest::qVerify(passed, "inFreshProcess", qPrintable(testCase + QLatin1String(" in its own process")),
                   __FILE__, __LINE__);
    return false;
}
