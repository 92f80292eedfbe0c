#include "app/ZelManager.h"
#include "app/ZelManagerLauncher.h"
#include "app/ZelManagerMessageDlg.h"
#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerInstallLock.h"
#include "engine/ZelManagerRecovery.h"
#include "integration/WindowsSupport.h"
#include "settings/ZelManagerSettings.h"
#include "style/MResourceManager.h"
#include "style/MStyle.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {

// ZELMANAGER_STARTUP_REPORT names a file that receives what the second stage
// set up once the main window shows; the program then quits. Used to check a
// start without a display.
void reportStartup(const QString &file, const QWidget &window, qint64 shownMs)
{
    QFile out(file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QString text = QStringLiteral("title=%1\n").arg(window.windowTitle());
        text += QStringLiteral("visible=%1\n").arg(window.isVisible() ? 1 : 0);
        text += QStringLiteral("arguments=%1\n").arg(QCoreApplication::arguments().join(QLatin1Char('|')));
        text += QStringLiteral("librarypaths=%1\n").arg(QCoreApplication::libraryPaths().join(QLatin1Char('|')));
        text += QStringLiteral("Path=%1\n").arg(QString::fromLocal8Bit(qgetenv("Path")));
        text += QStringLiteral("style=%1\n").arg(QApplication::style()->objectName());
        text += QStringLiteral("shown-ms=%1\n").arg(shownMs);
        out.write(text.toUtf8());
    }
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

// ZELMANAGER_SCREENSHOT names a PNG file that receives a picture of the main
// window, drawn by the widgets themselves (no display needed), after which
// the program quits; scripts/screenshots.sh makes the README's pictures with
// it. ZELMANAGER_SCREENSHOT_SIZE ("900x600") sizes the window first,
// ZELMANAGER_SCREENSHOT_CLICK names buttons of the window to click, in turn,
// before the picture is taken ("actionButton,ZelManagerCategoryPanel.applyButton":
// a class name before the dot picks the panel holding the button),
// ZELMANAGER_SCREENSHOT_DELAY the milliseconds to wait for the window to
// settle (default 2000).
QAbstractButton *screenshotButton(QWidget *window, const QString &path)
{
    const int dot = path.indexOf(QLatin1Char('.'));
    if (dot < 0)
        return window->findChild<QAbstractButton *>(path);
    const QString panelClass = path.left(dot);
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (QLatin1String(widget->metaObject()->className()) == panelClass)
            return widget->findChild<QAbstractButton *>(path.mid(dot + 1));
    }
    return nullptr;
}

void settle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void scheduleScreenshot(const QString &file, QWidget *window)
{
    const QStringList size = QString::fromLocal8Bit(qgetenv("ZELMANAGER_SCREENSHOT_SIZE")).split(QLatin1Char('x'));
    if (size.size() == 2 && size.at(0).toInt() > 0 && size.at(1).toInt() > 0)
        window->resize(size.at(0).toInt(), size.at(1).toInt());
    bool ok = false;
    int delay = qEnvironmentVariableIntValue("ZELMANAGER_SCREENSHOT_DELAY", &ok);
    if (!ok || delay < 0)
        delay = 2000;
    const QStringList clicks
        = QString::fromLocal8Bit(qgetenv("ZELMANAGER_SCREENSHOT_CLICK")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    QTimer::singleShot(delay, window, [file, window, clicks] {
        for (const QString &click : clicks) {
            if (QAbstractButton *button = screenshotButton(window, click))
                button->click();
            else
                qWarning("screenshot: the window has no button %s", qPrintable(click));
            // Request changes reach the counters after a short delay.
            settle(500);
        }
        if (!window->grab().save(file, "PNG"))
            qWarning("screenshot: can not write %s", qPrintable(file));
        QCoreApplication::quit();
    });
}

// Exit status of an instance that finds the installation in use.
const int InstallationInUse = 3;

// Another process holds the installation: the user is told which one and the
// program leaves without having touched anything. The start-up report
// receives the message and closes the dialog at once.
int refuseStart(const ZelManagerInstallLock &lock, const QString &report)
{
    const QString text = lock.errorText();
    std::fprintf(stderr, "%s\n", qPrintable(text));
    ZelManagerMessageDlg dialog;
    dialog.setWindowTitle(QCoreApplication::translate("main", "Vantor Package Manager"));
    dialog.setIcon(ZelManagerMessageDlg::Error);
    dialog.setMessage(text);
    dialog.setInformation(lock.isHeldElsewhere()
            ? QCoreApplication::translate("main", "Only one program at a time may change an installation.")
            : QString());
    dialog.setButtons(QMessageBox::Close);
    if (!report.isEmpty())
        QTimer::singleShot(0, &dialog, &QDialog::reject);
    dialog.exec();
    if (!report.isEmpty()) {
        QFile out(report);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(QStringLiteral("refused=%1\nholder=%2\nexit=%3\n")
                          .arg(dialog.message())
                          .arg(lock.holderPid())
                          .arg(InstallationInUse)
                          .toUtf8());
    }
    return InstallationInUse;
}

// The packages that the last run left half done and that recovery put
// right, told once the window shows. The start-up report receives the text
// and closes the dialog at once.
void reportRecovery(const QStringList &recovered, QWidget *window, const QString &report)
{
    ZelManagerMessageDlg dialog(window);
    dialog.setWindowTitle(QCoreApplication::translate("main", "Vantor Package Manager"));
    dialog.setIcon(ZelManagerMessageDlg::Warning);
    dialog.setMessage(QCoreApplication::translate("main", "The last run of operations was interrupted."));
    dialog.setInformation(recovered.join(QLatin1Char('\n')));
    dialog.setButtons(QMessageBox::Ok);
    if (!report.isEmpty())
        QTimer::singleShot(0, &dialog, &QDialog::accept);
    dialog.exec();
    if (!report.isEmpty()) {
        QFile out(report);
        if (out.open(QIODevice::Append))
            out.write(QStringLiteral("recovered=%1\n").arg(recovered.join(QLatin1Char('|'))).toUtf8());
    }
}

int runSecondStage(int argc, char **argv, bool noLibsPath)
{
    QElapsedTimer startTime;
    startTime.start();
    if (!noLibsPath)
        QCoreApplication::setLibraryPaths(ZelManagerLauncher::libraryPaths(QDir::currentPath()));
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    auto *style = new MStyle;
    QApplication::setStyle(style);
    QApplication::setPalette(style->standardPalette());

    const QString folder = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath();
    enableShortNameCreation();
    if (!noLibsPath)
        QCoreApplication::setLibraryPaths(ZelManagerLauncher::libraryPaths(folder));

    ZelManagerLauncher::installTranslations(folder);
    MResourceManager::initialize();

    const QString report = QString::fromLocal8Bit(qgetenv("ZELMANAGER_STARTUP_REPORT"));
    const QString screenshot = QString::fromLocal8Bit(qgetenv("ZELMANAGER_SCREENSHOT"));
    // Held while the window lives: one program at a time changes the
    // installation, the window or the command-line tool.
    ZelManagerInstallLock lock(ZelManagerSettings::instance()->installPath());
    if (!lock.tryLock())
        return refuseStart(lock, report);
    // A move of the installation takes the lock along.
    ZelManagerInstallLock::setCurrent(&lock);
    // Before the window uses the database: what an ended run left half done
    // is put right while the lock is held.
    const QStringList recovered
        = ZelManagerRecovery::recover(ZelManagerDatabase::instance(), ZelManagerSettings::instance()->targetPath());
    int result = 0;
    {
        ZelManager window;
        window.setVisible(true);
        if (!recovered.isEmpty())
            QTimer::singleShot(
                0, &window, [&window, recovered, report] { reportRecovery(recovered, &window, report); });
        if (!report.isEmpty())
            QTimer::singleShot(
                0, &window, [&window, report, &startTime] { reportStartup(report, window, startTime.elapsed()); });
        if (!screenshot.isEmpty())
            scheduleScreenshot(screenshot, &window);
        result = app.exec();
        if (!report.isEmpty()) {
            QFile out(report);
            if (out.open(QIODevice::Append))
                out.write(QStringLiteral("exit=%1\n").arg(result).toUtf8());
        }
    }
    ZelManagerInstallLock::setCurrent(nullptr);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    const ZelManagerLauncher::Switches switches = ZelManagerLauncher::parseSwitches(argc, argv);
    if (switches.noRelaunch)
        return runSecondStage(argc, argv, switches.noLibsPath);
    ZelManagerLauncher::relaunch(ZelManagerLauncher::programPath(), switches);
    return 0;
}
