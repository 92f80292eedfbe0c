#include "integration/ZelManagerSystemServiceTrigger.h"

#include "diagnostics/ZelManagerLogging.h"
#include "integration/DesktopEntry.h"
#include "settings/ZelManagerSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

namespace {

int s_timeLimitMs = 5 * 60 * 1000;

// Asked to end first, then killed: a service command that hangs must not hold
// the run for ever.
void endCommand(QProcess &process, const QString &commandLine)
{
    qCWarning(zelTriggers, "service command still running after %d ms, ended: %s", s_timeLimitMs,
        qUtf8Printable(commandLine));
    process.terminate();
    if (!process.waitForFinished(2000)) {
        process.kill();
        process.waitForFinished(-1);
    }
}

} // namespace

int serviceCommandTimeLimit()
{
    return s_timeLimitMs;
}

void setServiceCommandTimeLimit(int milliseconds)
{
    s_timeLimitMs = milliseconds;
}

int runServiceCommand(const QString &commandLine)
{
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return 0;
    const QString program = arguments.takeFirst();
    QProcess process;
    process.setWorkingDirectory(ZelManagerSettings::instance()->targetPath());
    qCDebug(zelTriggers, "service command: %s", qUtf8Printable(commandLine));
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted()) {
        qCWarning(zelTriggers, "service command did not start: %s: %s", qUtf8Printable(commandLine),
            qUtf8Printable(process.errorString()));
        return 0;
    }
    // Nothing is ever written to the command: a command that waits for input
    // gets end-of-file instead of waiting forever.
    process.closeWriteChannel();
    QElapsedTimer running;
    running.start();
    while (process.state() != QProcess::NotRunning) {
        if (running.hasExpired(s_timeLimitMs)) {
            endCommand(process, commandLine);
            return -1;
        }
        process.waitForFinished(100);
        QCoreApplication::processEvents();
        process.readAllStandardError();
        process.readAllStandardOutput();
    }
    process.readAllStandardError();
    process.readAllStandardOutput();
    if (process.exitStatus() == QProcess::CrashExit) {
        qCWarning(zelTriggers, "service command crashed: %s", qUtf8Printable(commandLine));
        return -1;
    }
    if (process.exitCode() != 0)
        qCWarning(zelTriggers, "service command failed (%d): %s", process.exitCode(), qUtf8Printable(commandLine));
    return process.exitCode();
}

QString ZelManagerSystemServiceTrigger::removeActionText() const
{
    return tr("Remove Service");
}

QString ZelManagerSystemServiceTrigger::installActionText() const
{
    return tr("Install Service");
}

void ZelManagerSystemServiceTrigger::installFile(const QString &path)
{
    const DesktopEntry entry = readDesktopEntry(path);
    if (entry.type != DesktopEntryType::Service || entry.install.isEmpty())
        return;
    if (runServiceCommand(entry.install) == 0)
        runServiceCommand(entry.start);
}

void ZelManagerSystemServiceTrigger::removeFile(const QString &path)
{
    const DesktopEntry entry = readDesktopEntry(path);
    if (entry.type != DesktopEntryType::Service)
        return;
    if (entry.stop.isEmpty() || runServiceCommand(entry.stop) == 0)
        runServiceCommand(entry.remove);
}
